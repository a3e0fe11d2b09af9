// Tagvert: tests of the SGML/XML reader and writer (COrvelSgmlParser).
// SPDX-License-Identifier: Apache-2.0
#include "markup/sgml_parser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "markup/elements_stack.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

// Concatenation through append: GCC 12 reports a false -Wrestrict on `literal + string` at -O2.
template <typename Char>
std::basic_string<Char> Cat(std::initializer_list<std::basic_string_view<Char>> parts) {
  std::basic_string<Char> text;
  for (const auto part : parts)
    text.append(part);
  return text;
}

std::u16string Cat16(std::initializer_list<std::u16string_view> parts) {
  return Cat<char16_t>(parts);
}

std::string Cat8(std::initializer_list<std::string_view> parts) {
  return Cat<char>(parts);
}

const std::uint32_t kChunkSizes[] = {1, 2, 3, 7, 1023, 1024, 1025};

enum class Encoding { Utf16LeBom, Utf16BeBom, Utf8Bom, Utf8 };

std::vector<std::uint8_t> Encode(const std::u16string& units, Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf16LeBom:
      return test::Utf16LeBytes(units, true);
    case Encoding::Utf16BeBom: {
      std::vector<std::uint8_t> bytes = test::Utf16LeBytes(units, true);
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
      return bytes;
    }
    case Encoding::Utf8Bom:
      return test::Utf8Bytes(units, true);
    case Encoding::Utf8:
      break;
  }
  return test::Utf8Bytes(units, false);
}

// A storage over bytes handed out at most `chunk` bytes per read, and a reader constructed as
// the TTX driver does (flag 0x01, input code 1).
struct CReaderOverBytes {
  CReaderOverBytes(std::vector<std::uint8_t> bytes, std::uint32_t chunk)
      : source(std::make_shared<test::CChunkedStream>(std::move(bytes), chunk)),
        storage(kModeUtf8, kModeNone) {
    storage.Open(CEndpoint::Stream(source), CEndpoint());
    parser = std::make_unique<COrvelSgmlParser>(&storage, kSgmlSetInput, kSgmlEncodingDetect, 0);
  }

  // Every element until ReadElement returns false (bounded, so that a reader that stops
  // advancing fails instead of hanging).
  std::vector<std::unique_ptr<CElementX>> ReadAll(std::size_t limit) {
    std::vector<std::unique_ptr<CElementX>> elements;
    for (;;) {
      auto element = std::make_unique<CElementX>();
      if (!parser->ReadElement(element.get())) break;
      elements.push_back(std::move(element));
      if (elements.size() > limit) {
        ADD_FAILURE() << "the reader does not advance";
        break;
      }
    }
    return elements;
  }

  std::shared_ptr<test::CChunkedStream> source;
  CDataStorage storage;
  std::unique_ptr<COrvelSgmlParser> parser;
};

std::vector<std::unique_ptr<CElementX>> Read(const std::u16string& input,
                                             Encoding encoding = Encoding::Utf16LeBom,
                                             std::uint32_t chunk = 4096) {
  CReaderOverBytes reader(Encode(input, encoding), chunk);
  auto elements = reader.ReadAll(input.size() + 1);
  CElementX after;
  EXPECT_FALSE(reader.parser->ReadElement(&after)) << "a second end of input";
  EXPECT_TRUE(reader.parser->IsEnd());
  return elements;
}

std::u16string Concatenate(const std::vector<std::unique_ptr<CElementX>>& elements) {
  std::u16string text;
  for (const auto& element : elements)
    text += element->GetSourceTextRef();
  return text;
}

struct Attr {
  std::u16string name;
  std::u16string value;
  bool noValue = false;
};

// What one element read should hold.
struct Expected {
  std::u16string source;
  int isTag;
  int tagType;
  std::u16string name;
  std::vector<Attr> attributes;
};

Expected Text(std::u16string source) {
  return {std::move(source), 0, kTagSingle, u"", {}};
}

// Markup cut at a stray `<`: every derived field cleared.
Expected Cleared(std::u16string source) {
  return {std::move(source), 1, kTagSingle, u"", {}};
}

const Attr kMarker{kBrokenTagMarker, u""};

std::string HexOf(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%X", static_cast<unsigned>(value));
  return buffer;
}

std::string Describe(const std::u16string& source, int isTag, int tagType,
                     const std::u16string& name, const std::vector<Attr>& attributes) {
  std::string text = Cat8({"\"", Printable(source), "\" tag=", std::to_string(isTag),
                           " type=", HexOf(tagType), " name=\"", Printable(name), "\""});
  for (const Attr& attribute : attributes) {
    text += Cat8({" [", Printable(attribute.name), attribute.noValue ? "" : "=",
                  attribute.noValue ? "" : Printable(attribute.value), "]"});
  }
  return text;
}

std::vector<std::string> Describe(const std::vector<Expected>& expected) {
  std::vector<std::string> lines;
  for (const Expected& e : expected)
    lines.push_back(Describe(e.source, e.isTag, e.tagType, e.name, e.attributes));
  return lines;
}

std::vector<std::string> Describe(const std::vector<std::unique_ptr<CElementX>>& elements) {
  std::vector<std::string> lines;
  for (const auto& element : elements) {
    std::vector<Attr> attributes;
    for (const CAttributeX& attribute : element->GetAttributes()) {
      attributes.push_back({attribute.m_name, attribute.m_value, attribute.m_noValue});
      EXPECT_EQ(attribute.m_kind, 2);
      if (attribute.m_noValue) {
        EXPECT_TRUE(attribute.m_value.empty());
      }
    }
    lines.push_back(Describe(element->GetSourceTextRef(), element->GetIsTag(),
                             element->GetTagType(), element->GetNameRef(), attributes));
    // The reader leaves every other field at its initial value.
    EXPECT_EQ(element->GetPairId(), 0);
    EXPECT_EQ(element->GetRuleType(), kRuleInline);
    EXPECT_EQ(element->GetSemantic(), -1);
    EXPECT_FALSE(element->IsModified());
  }
  return lines;
}

struct ReaderCase {
  const char* title;
  std::u16string input;
  std::vector<Expected> expected;
};

const int kOpen = kTagOpen, kClose = kTagClose, kSingle = kTagSingle;

std::vector<ReaderCase> ReaderCases() {
  const std::u16string longText(3000, u'x');
  const std::u16string longValue(2500, u'\x00E9');
  return {
      {"empty input", u"", {}},
      {"text alone", u"abc", {Text(u"abc")}},
      {"text, tag, text", u"a<b>c", {Text(u"a"), {u"<b>", 1, kOpen, u"b", {}}, Text(u"c")}},
      {"text keeps > & and line ends",
       u"x > y &amp;\r\n<p>",
       {Text(u"x > y &amp;\r\n"), {u"<p>", 1, kOpen, u"p", {}}}},
      {"empty tag", u"<>", {{u"<>", 1, kOpen, u"", {}}}},
      {"end tag", u"</a >", {{u"</a >", 1, kClose, u"a", {}}}},
      {"two < in a row", u"<<a>", {Cleared(u"<"), {u"<a>", 1, kOpen, u"a", {}}}},
      {"stray < in a tag name", u"<a<b>", {Cleared(u"<a"), {u"<b>", 1, kOpen, u"b", {}}}},
      {"stray < after the end-tag slash", u"</<a>", {Cleared(u"</"), {u"<a>", 1, kOpen, u"a", {}}}},
      {"stray < in a quoted value",
       u"<a href=\"x<b>",
       {Cleared(u"<a href=\"x"), {u"<b>", 1, kOpen, u"b", {}}}},
      {"stray < in an unquoted value",
       u"<a k=v<b>",
       {Cleared(u"<a k=v"), {u"<b>", 1, kOpen, u"b", {}}}},
      {"stray < after <!", u"<!<b>", {Cleared(u"<!"), {u"<b>", 1, kOpen, u"b", {}}}},
      {"broken tag keeps name and attributes",
       u"<a href=\"x\" <b>",
       {{u"<a href=\"x\" ", 1, kSingle, u"a", {{u"href", u"x"}, kMarker}},
        {u"<b>", 1, kOpen, u"b", {}}}},
      {"broken tag drops the attribute name in progress",
       u"<a b<c>",
       {{u"<a b", 1, kSingle, u"a", {kMarker}}, {u"<c>", 1, kOpen, u"c", {}}}},
      {"bare, single-quoted and unquoted attributes",
       u"<td nowrap b='1' c=2>",
       {{u"<td nowrap b='1' c=2>",
         1,
         kOpen,
         u"td",
         {{u"nowrap", u"", true}, {u"b", u"1"}, {u"c", u"2"}}}}},
      {"white space around =",
       u"<a b = \"c\" d\t=\ne>",
       {{u"<a b = \"c\" d\t=\ne>", 1, kOpen, u"a", {{u"b", u"c"}, {u"d", u"e"}}}}},
      {"case is kept", u"<A HREF=\"x\">", {{u"<A HREF=\"x\">", 1, kOpen, u"A", {{u"HREF", u"x"}}}}},
      {"values keep references, quotes and line ends",
       u"<a t=\"&lt;'x'\r\ny\" u='\"'>",
       {{u"<a t=\"&lt;'x'\r\ny\" u='\"'>",
         1,
         kOpen,
         u"a",
         {{u"t", u"&lt;'x'\r\ny"}, {u"u", u"\""}}}}},
      {"duplicates in source order",
       u"<a x=1 x=2>",
       {{u"<a x=1 x=2>", 1, kOpen, u"a", {{u"x", u"1"}, {u"x", u"2"}}}}},
      {"attribute name characters",
       u"<a x:y-z_.1=\"v\" \x00E9\x0661=w>",
       {{u"<a x:y-z_.1=\"v\" \x00E9\x0661=w>",
         1,
         kOpen,
         u"a",
         {{u"x:y-z_.1", u"v"}, {u"\x00E9\x0661", u"w"}}}}},
      {"quoted value directly followed by the next attribute",
       u"<a x=\"1\"y=2>",
       {{u"<a x=\"1\"y=2>", 1, kOpen, u"a", {{u"x", u"1"}, {u"y", u"2"}}}}},
      {"attribute with an empty name", u"<a =x>", {{u"<a =x>", 1, kOpen, u"a", {{u"", u"x"}}}}},
      {"characters that start no attribute are passed over",
       u"<a \"b\" #>",
       {{u"<a \"b\" #>", 1, kOpen, u"a", {{u"b", u"", true}}}}},
      {"white space before the name", u"< a>", {{u"< a>", 1, kOpen, u"", {{u"a", u"", true}}}}},
      {"empty-element tags",
       u"<br/><br /><a href=x/><a x=/>",
       {{u"<br/>", 1, kSingle, u"br", {}},
        {u"<br />", 1, kSingle, u"br", {}},
        {u"<a href=x/>", 1, kSingle, u"a", {{u"href", u"x"}}},
        {u"<a x=/>", 1, kSingle, u"a", {{u"x", u""}}}}},
      {"a slash followed by more does not count",
       u"<a / b><a/ ><a x=y/z>",
       {{u"<a / b>", 1, kOpen, u"a", {{u"b", u"", true}}},
        {u"<a/ >", 1, kOpen, u"a", {}},
        {u"<a x=y/z>", 1, kOpen, u"a", {{u"x", u"y/z"}}}}},
      {"XML declaration",
       u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
       {{u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
         1,
         kSingle,
         u"?xml",
         {{u"version", u"1.0"}, {u"encoding", u"UTF-8"}}}}},
      {"comments",
       u"<!----><!-->x--><!-- \"a --> \" -->",
       {{u"<!---->", 1, kSingle, u"!-", {kMarker}},
        {u"<!-->x-->", 1, kSingle, u"!-", {kMarker}},
        {u"<!-- \"a -->", 1, kSingle, u"!-", {kMarker}},
        Text(u" \" -->")}},
      {"a comment holding <", u"<!-- <a> -->", {{u"<!-- <a> -->", 1, kSingle, u"!-", {kMarker}}}},
      {"CDATA sections",
       u"<![CDATA[a>b]]><![CDATA[]]><![CDATA[x]]y]>]]]>",
       {{u"<![CDATA[a>b]]>", 1, kSingle, u"![CDATA[", {kMarker}},
        {u"<![CDATA[]]>", 1, kSingle, u"![CDATA[", {kMarker}},
        {u"<![CDATA[x]]y]>]]]>", 1, kSingle, u"![CDATA[", {kMarker}}}},
      {"CDATA is matched with case",
       u"<![cdata[x]>y",
       {{u"<![cdata[x]>", 1, kSingle, u"![data[x]", {kMarker}}, Text(u"y")}},
      {"a marked section other than CDATA",
       u"<![IGNORE[ x ]]>",
       {{u"<![IGNORE[ x ]]>", 1, kSingle, u"![GNORE[", {kMarker}}}},
      {"document type declaration with an internal subset",
       u"<!DOCTYPE r [<!ENTITY e \"v>\">]>\n<r>",
       {{u"<!DOCTYPE r [<!ENTITY e \"v>\">", 1, kSingle, u"!DOCTYPE", {kMarker}},
        Text(u"]>\n"),
        {u"<r>", 1, kOpen, u"r", {}}}},
      {"declaration names",
       u"<! x><!-x><!- y><!ELEMENT a 'q>'>",
       {{u"<! x>", 1, kSingle, u"!", {kMarker}},
        {u"<!-x>", 1, kSingle, u"!-x", {kMarker}},
        {u"<!- y>", 1, kSingle, u"!-", {kMarker}},
        {u"<!ELEMENT a 'q>'>", 1, kSingle, u"!ELEMENT", {kMarker}}}},
      {"quotes inside a declaration name",
       u"<!x\"y>\"z>",
       {{u"<!x\"y>\"z>", 1, kSingle, u"!x\"y>z", {kMarker}}}},
      {"server markup",
       u"<%= a \"%>\" %><%foo%>",
       {{u"<%= a \"%>\" %>", 1, kSingle, u"%=", {kMarker}},
        {u"<%foo%>", 1, kSingle, u"%foo", {kMarker}}}},
      {"a quoted stretch empties the terminator window",
       u"<%a%\"x\">b%>",
       {{u"<%a%\"x\">b%>", 1, kSingle, u"%a%\"x>b", {kMarker}}}},
      {"long text and value across buffers",
       Cat16({longText, u"<a v=\"", longValue, u"\">"}),
       {Text(longText),
        {Cat16({u"<a v=\"", longValue, u"\">"}), 1, kOpen, u"a", {{u"v", longValue}}}}},
      // End of input inside markup: what was read stays, the element is returned once.
      {"end of input after <", u"ab<", {Text(u"ab"), {u"<", 1, kOpen, u"", {}}}},
      {"end of input in a start tag", u"<a href", {{u"<a href", 1, kOpen, u"a", {}}}},
      {"end of input in an end tag", u"</a", {{u"</a", 1, kClose, u"a", {}}}},
      {"end of input in a quoted value", u"<a href=\"x", {{u"<a href=\"x", 1, kOpen, u"a", {}}}},
      {"end of input after an attribute",
       u"<a b=\"1\" c",
       {{u"<a b=\"1\" c", 1, kOpen, u"a", {{u"b", u"1"}}}}},
      {"end of input in a processing instruction",
       u"<?pi x",
       {{u"<?pi x", 1, kSingle, u"?pi", {}}}},
      {"end of input in a comment", u"<!-- a -", {{u"<!-- a -", 1, kOpen, u"!-", {}}}},
      {"end of input in a CDATA section",
       u"<![CDATA[a]]",
       {{u"<![CDATA[a]]", 1, kOpen, u"![", {}}}},
      {"end of input in a declaration",
       u"<!DOCTYPE r \"",
       {{u"<!DOCTYPE r \"", 1, kOpen, u"!DOCTYPE", {}}}},
  };
}

void ExpectCase(const ReaderCase& c, Encoding encoding, std::uint32_t chunk) {
  SCOPED_TRACE(c.title);
  const auto elements = Read(c.input, encoding, chunk);
  EXPECT_EQ(Describe(c.expected), Describe(elements));
  EXPECT_EQ(Printable(Concatenate(elements)), Printable(c.input));
}

TEST(COrvelSgmlParserTest, ReaderEdgeCases) {
  for (const ReaderCase& c : ReaderCases())
    ExpectCase(c, Encoding::Utf16LeBom, 4096);
}

TEST(COrvelSgmlParserTest, UpperNameFollowsTheNameCharacterByCharacter) {
  struct Case {
    std::u16string input;
    std::u16string upperName;
  };
  const Case cases[] = {
      {u"<a\x00E9\x03B2:x>", u"A\x00C9\x0392:X"},
      {u"<?xml?>", u"?XML?"},
      {u"<!doctype x>", u"!DOCTYPE"},
      {u"<%foo%>", u"%FOO%>"},  // the terminator is cut from Name only
      {u"<![CDATA[x]]>", u"!["},
      {u"<a<b>", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Printable(c.input));
    const auto elements = Read(c.input);
    ASSERT_FALSE(elements.empty());
    EXPECT_EQ(Printable(elements.front()->GetUpperNameRef()), Printable(c.upperName));
  }
}

TEST(COrvelSgmlParserTest, ReadsEveryEncodingByItsMark) {
  const std::u16string input = u"<?xml version=\"1.0\"?><TRADOStag v=\"\x00E9\x20AC\"/>\x4E2D<a>";
  const Encoding encodings[] = {Encoding::Utf16LeBom, Encoding::Utf16BeBom, Encoding::Utf8Bom,
                                Encoding::Utf8};
  for (const Encoding encoding : encodings) {
    SCOPED_TRACE(static_cast<int>(encoding));
    const auto elements = Read(input, encoding);
    ASSERT_EQ(elements.size(), 4u);
    EXPECT_EQ(elements[1]->GetNameRef(), u"TRADOStag");
    EXPECT_EQ(elements[1]->GetAttributeValue(u"v"), u"\x00E9\x20AC");
    EXPECT_EQ(elements[2]->GetSourceTextRef(), u"\x4E2D");
    EXPECT_EQ(Printable(Concatenate(elements)), Printable(input));
  }
}

TEST(COrvelSgmlParserTest, ElementsCanBeReusedAfterReset) {
  CReaderOverBytes reader(Encode(u"a<b>", Encoding::Utf8), 4096);
  CElementX element;
  ASSERT_TRUE(reader.parser->ReadElement(&element));
  EXPECT_EQ(element.GetSourceTextRef(), u"a");
  element.Reset();
  ASSERT_TRUE(reader.parser->ReadElement(&element));
  EXPECT_EQ(element.GetSourceTextRef(), u"<b>");
  EXPECT_EQ(element.GetNameRef(), u"b");
  element.Reset();
  element.SetSourceText(u"kept");
  EXPECT_FALSE(reader.parser->ReadElement(&element));
  EXPECT_EQ(element.GetSourceTextRef(), u"kept");
}

// The reader at every chunk size of the source stream, in UTF-16 and in UTF-8.
class CSgmlReaderChunkTest : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(CSgmlReaderChunkTest, EdgeCasesReadAlikeAtEveryChunkSize) {
  for (const ReaderCase& c : ReaderCases()) {
    ExpectCase(c, Encoding::Utf16LeBom, GetParam());
    ExpectCase(c, Encoding::Utf8, GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, CSgmlReaderChunkTest, ::testing::ValuesIn(kChunkSizes));

// Random documents: well-formed pieces mixed with broken ones, cut at a random point.
class CRandomMarkup {
 public:
  explicit CRandomMarkup(unsigned seed) : m_random(seed) {}

  std::u16string Document() {
    std::u16string text;
    const int pieces = Pick(30);
    for (int i = 0; i < pieces; ++i)
      AppendPiece(text);
    if (Pick(3) == 0 && !text.empty())
      text.resize(static_cast<std::size_t>(Pick(static_cast<int>(text.size()))));
    return text;
  }

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

 private:
  void AppendPiece(std::u16string& text) {
    switch (Pick(12)) {
      case 0:
      case 1:
        text += Run(u"abc \r\n\t>&;\x00E9\x4E2D\x3000\xD83D\xDE00", 12);
        break;
      case 2:
      case 3:
        text += Cat16({u"<", Name(), Attributes(), (Pick(4) == 0 ? u"/>" : u">")});
        break;
      case 4:
        text += Cat16({u"</", Name(), Space(), u">"});
        break;
      case 5:
        text += u"<";  // stray
        break;
      case 6:
        text += Cat16({u"<!--", Run(u"a-<>\"' ", 8), u"-->"});
        break;
      case 7:
        text += Cat16({u"<![CDATA[", Run(u"a]<>", 8), u"]]>"});
        break;
      case 8:
        text += Cat16({u"<?", Name(), Attributes(), u"?>"});
        break;
      case 9:
        text += Cat16({u"<!DOCTYPE ", Name(), u" [<!ENTITY e \"", Run(u"x>'", 4), u"\">]>"});
        break;
      case 10:
        text += Cat16({u"<%", Run(u"a %\"'>", 6), u"%>"});
        break;
      default:
        text += Run(u"<>/=\"'!-[]%? ab", 10);  // markup characters in any order
        break;
    }
  }

  std::u16string Run(std::u16string_view alphabet, int maxLength) {
    std::u16string run;
    const int length = Pick(maxLength + 1);
    for (int i = 0; i < length; ++i)
      run.push_back(alphabet[static_cast<std::size_t>(Pick(static_cast<int>(alphabet.size())))]);
    return run;
  }

  std::u16string Name() { return Run(u"aB:-\x00E9", 4); }

  std::u16string Space() { return Run(u" \t\n", 2); }

  std::u16string Attributes() {
    std::u16string text;
    const int count = Pick(4);
    for (int i = 0; i < count; ++i) {
      text += Cat16({u" ", Space(), Name()});
      switch (Pick(5)) {
        case 0:
          break;  // bare
        case 1:
          text += Cat16({Space(), u"=", Space(), u"\"", Run(u"a'<>/ ", 5), u"\""});
          break;
        case 2:
          text += Cat16({u"='", Run(u"a\"<>/ ", 5), u"'"});
          break;
        case 3:
          text += Cat16({u"=", Run(u"a/", 3)});
          break;
        default:
          text += Cat16({u"=\"", Run(u"a", 3)});  // unterminated quote
          break;
      }
    }
    return text + Space();
  }

  std::mt19937 m_random;
};

TEST(COrvelSgmlParserTest, SourceTextsConcatenateToTheInputForAnyMarkup) {
  CRandomMarkup random(4711);
  for (int round = 0; round < 1500; ++round) {
    const std::u16string input = random.Document();
    const Encoding encoding = round % 2 == 0 ? Encoding::Utf16LeBom : Encoding::Utf8;
    const std::uint32_t chunk = kChunkSizes[static_cast<std::size_t>(random.Pick(7))];
    SCOPED_TRACE(Cat8({"round ", std::to_string(round), ": ", Printable(input)}));
    const auto elements = Read(input, encoding, chunk);
    ASSERT_EQ(Printable(Concatenate(elements)), Printable(input));
    for (const auto& element : elements) {
      const std::u16string& source = element->GetSourceTextRef();
      ASSERT_FALSE(source.empty());
      if (element->GetIsTag() == 1) {
        // Markup starts with its `<` and holds no other `<` outside special markup.
        ASSERT_EQ(source.front(), u'<');
        if (source.size() < 2 || (source[1] != u'!' && source[1] != u'%')) {
          ASSERT_EQ(source.find(u'<', 1), std::u16string::npos) << Printable(source);
        }
      } else {
        ASSERT_EQ(source.find(u'<'), std::u16string::npos) << Printable(source);
      }
    }
  }
}

// Everything written through a writer constructed with `flags` and `outputCode`.
template <typename WriteFn>
std::vector<std::uint8_t> Written(std::uint8_t flags, int outputCode, WriteFn write,
                                  std::int16_t initialMode = kModeSingle) {
  auto sink = std::make_shared<test::CSinkStream>();
  CDataStorage storage(kModeNone, initialMode);
  storage.Open(CEndpoint(), CEndpoint::Stream(sink));
  COrvelSgmlParser writer(&storage, flags, 0, outputCode);
  write(writer);
  storage.Flush();
  return sink->Bytes();
}

TEST(COrvelSgmlParserTest, WriterWithFlags0x12WritesUtf8WithAMarkFirst) {
  CElementX tag;
  tag.SetSourceText(u"<a x='\x00E9'>");
  const auto bytes = Written(0x12, kSgmlEncodingUtf8, [&](COrvelSgmlParser& writer) {
    writer.WriteElement(&tag);
    writer.WriteString(u"\x20AC");
    writer.WriteChar(u'!');
  });
  EXPECT_EQ(bytes, test::Utf8Bytes(u"<a x='\x00E9'>\x20AC!", true));
}

TEST(COrvelSgmlParserTest, WriterEncodingCodesAndFlags) {
  struct Case {
    std::uint8_t flags;
    int outputCode;
    std::int16_t mode;
    std::vector<std::uint8_t> expected;
  };
  const Case cases[] = {
      {0x12, kSgmlEncodingUtf16, kModeUtf16, {0xFF, 0xFE, 'a', 0, 0xE9, 0}},
      {0x02, kSgmlEncodingUtf16, kModeUtf16, {'a', 0, 0xE9, 0}},
      {0x02, kSgmlEncodingUtf8, kModeUtf8, {'a', 0xC3, 0xA9}},
      {0x12, kSgmlEncodingDetect, kModeNone, {}},
      {0x12, 9, kModeNone, {}},
      {0x10, kSgmlEncodingUtf8, kModeSingle, {'a', 0xE9}},  // output left as constructed
      {0x00, kSgmlEncodingUtf8, kModeSingle, {'a', 0xE9}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Cat8({std::to_string(c.flags), " ", std::to_string(c.outputCode)}));
    auto sink = std::make_shared<test::CSinkStream>();
    CDataStorage storage(kModeNone, kModeSingle);
    storage.Open(CEndpoint(), CEndpoint::Stream(sink));
    COrvelSgmlParser writer(&storage, c.flags, 0, c.outputCode);
    EXPECT_EQ(storage.GetOutputMode(), c.mode);
    CElementX element;
    element.SetSourceText(u"a\x00E9");
    writer.WriteElement(&element);
    storage.Flush();
    EXPECT_EQ(sink->Bytes(), c.expected);
  }
}

TEST(COrvelSgmlParserTest, InputEncodingCodes) {
  struct Case {
    int inputCode;
    std::vector<std::uint8_t> bytes;
    std::int16_t mode;
  };
  const Case cases[] = {
      {kSgmlEncodingDetect, {'<', 'a'}, kModeUtf8},
      {kSgmlEncodingDetect, {0xFF, 0xFE, '<', 0}, kModeUtf16},
      {kSgmlEncodingDetect, {0xFE, 0xFF, 0, '<'}, kModeUtf16},
      {kSgmlEncodingDetect, {0xEF, 0xBB, 0xBF, '<'}, kModeUtf8},
      {kSgmlEncodingUtf8, {0xFF, 0xFE}, kModeUtf8},
      {kSgmlEncodingUtf16, {'<', 0}, kModeUtf16},
      {0, {'<'}, kModeNone},
      {7, {'<'}, kModeNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inputCode);
    auto source = std::make_shared<test::CChunkedStream>(c.bytes, 64);
    CDataStorage storage(kModeSingle, kModeNone);
    storage.Open(CEndpoint::Stream(source), CEndpoint());
    COrvelSgmlParser reader(&storage, kSgmlSetInput, c.inputCode, 0);
    EXPECT_EQ(storage.GetInputMode(), c.mode);
  }
}

TEST(COrvelSgmlParserTest, WriterWritesSourceTextUnchanged) {
  CElementX text;
  text.SetSourceText(u"a < b & c");
  CElementX modified;
  modified.SetName(u"x");
  modified.SetModified(true);
  CElementX stale;  // derived fields changed, SourceText kept: written as it is
  stale.SetSourceText(u"<old>");
  stale.SetName(u"new");
  const auto bytes = Written(0x02, kSgmlEncodingUtf8, [&](COrvelSgmlParser& writer) {
    writer.WriteElement(&text);
    writer.WriteElement(&modified);
    writer.WriteElement(&stale);
  });
  EXPECT_EQ(bytes, test::Utf8Bytes(u"a < b & c<old>"));
}

TEST(COrvelSgmlParserTest, NullStorageIsRefused) {
  try {
    COrvelSgmlParser parser(nullptr, 0, 0, 0);
    FAIL() << "no exception";
  } catch (const CHResultError& error) {
    EXPECT_EQ(error.Code(), kEPointer);
  }
}

TEST(COrvelSgmlParserTest, ReadingAndWritingBackGivesTheInput) {
  const std::u16string input =
      u"<?xml version='1.0' encoding='UTF-16'?>\r\n<TRADOStag Version=\"2.0\"><!-- c -->"
      u"<Tu MatchPercent=\"0\"><Tuv Lang=\"EN-US\">Caf\x00E9 &amp; <ut Type='start'>&lt;b&gt;"
      u"</ut>bar</Tuv></Tu><![CDATA[<x>]]><br/></TRADOStag>";
  const auto elements = Read(input, Encoding::Utf16LeBom);
  const auto bytes = Written(0x12, kSgmlEncodingUtf8, [&](COrvelSgmlParser& writer) {
    for (const auto& element : elements)
      writer.WriteElement(element.get());
  });
  EXPECT_EQ(bytes, test::Utf8Bytes(input, true));
}

// The real documents, when present: the elements reproduce the decoded input, and the root
// pairs with its end tag.
TEST(COrvelSgmlParserTest, SampleDocumentsReadBackExactly) {
  const std::filesystem::path folder(TAGVERT_SAMPLES_DIR);
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no sample folder";
  int documents = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.path().extension() != ".ttx") continue;
    SCOPED_TRACE(entry.path().string());
    ++documents;
    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(entry.path().string());

    // The decoded input, unit by unit, as the storage delivers it.
    auto plainSource = std::make_shared<test::CChunkedStream>(bytes, 4096);
    CDataStorage plain(kModeUtf8, kModeNone);
    plain.Open(CEndpoint::Stream(plainSource), CEndpoint());
    if (!plain.DetectBOM()) plain.SetInputMode(kModeUtf8);
    std::u16string decoded;
    char16_t unit = 0;
    while (plain.GetChar(unit))
      decoded.push_back(unit);

    CReaderOverBytes reader(bytes, 7);
    CElementsStackX list;
    for (auto& element : reader.ReadAll(decoded.size() + 1))
      list.Push(element.release());
    std::u16string concatenated;
    for (IElementX* element : list)
      concatenated += element->GetSourceTextRef();
    EXPECT_TRUE(concatenated == decoded);

    list.PairTags();
    int roots = 0;
    for (IElementX* element : list) {
      if (element->GetNameRef() != u"TRADOStag") continue;
      ++roots;
      EXPECT_TRUE(element->GetTagType() == kTagPairedOpen ||
                  element->GetTagType() == kTagPairedClose);
    }
    EXPECT_EQ(roots, 2);
  }
  if (documents == 0) GTEST_SKIP() << "no sample documents";
}

}  // namespace
}  // namespace tagvert
