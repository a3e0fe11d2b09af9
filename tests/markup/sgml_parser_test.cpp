// Tagvert: tests of the SGML/XML reader and writer (COrvelSgmlParser).
// SPDX-License-Identifier: Apache-2.0
#include "markup/sgml_parser.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

// The elements read as the TTX driver reads (flag 0x01, input code 1: encoding by byte-order mark,
// else UTF-8) at most `chunk` bytes per read, `encoding` 0..3 UTF-16LE, UTF-16BE, UTF-8 after a
// byte-order mark, UTF-8 without; each as "source|type|name attributes": type O, C or S, lower
// case for text; the broken-tag marker as #, an attribute without `=` by its name alone.
std::vector<std::u16string> Read(std::u16string_view input, int encoding, std::uint32_t chunk) {
  std::vector<std::uint8_t> bytes =
      encoding < 2 ? test::Utf16LeBytes(input, true) : test::Utf8Bytes(input, encoding == 2);
  for (std::size_t i = 0; encoding == 1 && i + 1 < bytes.size(); i += 2)
    std::swap(bytes[i], bytes[i + 1]);
  CDataStorage storage(EncodingMode::Utf8, EncodingMode::None);
  storage.Open(CEndpoint::Stream(std::make_shared<test::CChunkedStream>(bytes, chunk)),
               CEndpoint());
  COrvelSgmlParser parser(&storage, SgmlParserMode::DetectInput);
  std::vector<std::u16string> elements;
  for (CElementX element; elements.size() <= input.size() && parser.ReadElement(&element);
       element.Reset()) {
    const TagType type = element.GetTagType();
    const int kind =
        (type == TagType::Open) + 2 * (type == TagType::Close) + 3 * (type == TagType::Single);
    std::u16string& text = elements.emplace_back(element.GetSourceText());
    EXPECT_FALSE(text.empty()) << "an empty element";
    (((text += u'|') += (!element.GetIsTag() ? u"?ocs" : u"?OCS")[kind]) += u'|') +=
        element.GetName();
    for (const CAttributeX& attribute : element.GetAttributes()) {
      const bool marker = attribute.m_name == kBrokenTagMarker;
      (text += u' ') += marker ? u"#" : attribute.m_name;
      if (!marker && !attribute.m_noValue) (text += u'=') += attribute.m_value;
    }
  }
  EXPECT_TRUE(parser.IsEnd()) << "the reader stopped advancing";
  return elements;
}

constexpr std::uint32_t kChunks[] = {1, 2, 3, 7, 1023, 1024, 1025};

// Each case lists the elements expected; the input is their sources (up to the first `|`). A stray
// `<` ends the element before it and clears what was derived; a `<` where an attribute name
// begins breaks the tag off, keeping what was read; so does the end of the input.
std::vector<std::vector<std::u16string>> ReaderCases() {
  // Runs longer than the reader's scratch buffer keeps, twice in a row, and a long tag.
  std::u16string longRun(70000, u'x'), longTag = u"<a v=\"", value(2500, u'\x00E9');
  longRun += u"|s|";
  ((longTag += value) += u"\">|O|a v=") += value;
  // clang-format off
  return {
      {}, {longRun, longTag, longRun, u"<!-- -->|S|!- #", u"y|s|"}, {u"<>|O|", u"</a >|C|a"},
      {u"<|S|", u"<a>|O|a"}, {u"<a|S|", u"<b>|O|b", u"</|S|", u"<c>|O|c"},
      {uR"(<a href="x|S|)", u"<b>|O|b"}, {uR"(<a href="x" |S|a href=x #)", u"<b>|O|b"},
      {uR"(<td nowrap b='1' c=2>|O|td nowrap b=1 c=2)", u"<a b = \"c\" d\t=\ne>|O|a b=c d=e"},
      {u"<a t=\"&lt;'x'\r\ny\" u='\"'>|O|a t=&lt;'x'\r\ny u=\""},
      {u"<\x00E9 x:y-z_.1=v \x00E9\x0661=w>|O|\x00E9 x:y-z_.1=v \x00E9\x0661=w"},
      {uR"(<a "b" # =x>|O|a b =x)", u"< a>|O| a"},
      {u"<br/>|S|br", u"<br />|S|br", u"<a href=x/>|S|a href=x", u"<a x=/>|S|a x="},
      {u"<a / b>|O|a b", u"<a/ >|O|a", u"<a x=y/z>|O|a x=y/z"},
      {u"<!---->|S|!- #", u"<!-->x-->|S|!- #", uR"(<!-- "a -->|S|!- #)", uR"( " -->|s|)",
       u"<!-- <a> -->|S|!- #"},
      {u"<![CDATA[a>b]]>|S|![CDATA[ #", u"<![CDATA[]]>|S|![CDATA[ #",
       u"<![CDATA[x]]y]>]]]>|S|![CDATA[ #", u"<![CDATA[]>]]]]>|S|![CDATA[ #",
       u"<![cdata[x]>|S|![data[x] #", u"y|s|"},
      {uR"(<!DOCTYPE r [<!ENTITY e "v>">|S|!DOCTYPE #)", u"]>\n|s|", u"<r>|O|r"},
      {u"<! x>|S|! #", u"<!-x>|S|!-x #", u"<!ELEMENT a 'q>'>|S|!ELEMENT #"},
      {uR"(<%= a "%>" %>|S|%= #)", u"<%foo%>|S|%foo #", uR"(<%a%"x">b%>|S|%a%"x>b #)"},
      {u"ab|s|", u"<|O|"}, {uR"(<a b="1" c|O|a b=1)"}, {uR"(<a href="x|O|a)"}, {u"<?pi x|S|?pi"},
      {u"<!-- a -|O|!-"}, {uR"(<a b="1"|O|a)"}, {u"<a b=x/|O|a"}, {u"<a bc|O|a"},
  };
  // clang-format on
}

TEST(COrvelSgmlParserTest, ReadsEdgeCasesAtEveryChunkSize) {
  for (const std::vector<std::u16string>& expected : ReaderCases()) {
    std::u16string input;
    for (const std::u16string& element : expected)
      input += element.substr(0, element.find(u'|'));
    SCOPED_TRACE(Printable(input));
    for (const std::uint32_t chunk : kChunks)
      for (int encoding = 0; encoding < 4; ++encoding)
        EXPECT_EQ(Read(input, encoding, chunk), expected) << chunk << " " << encoding;
  }
}

// Well-formed pieces and loose markup characters in any order, so most documents are broken.
TEST(COrvelSgmlParserTest, SourceTextsConcatenateToTheDecodedInput) {
  // clang-format off
  const std::u16string_view pieces[] = {
      u"<", u">", u"/", u"=", u"\"", u"'", u"!", u"-", u"[", u"]", u"%", u"?", u" ", u"a",
      u"<!", u"<!--", u"-->", u"]]>", u"<![CDATA[", u"\xD83D\xDE00", u"text \r\n\t&amp; \x00E9",
      u"<a b=\"c\" d='e' f=g>", u"</a >", u"<br/>", u"<?xml v='1'?>", u"<![CDATA[<x>]]>",
      u"<!DOCTYPE r [<!ENTITY e \"v>\">]>", u"<%= \"%>\" %>"};
  // clang-format on
  std::mt19937 random(4711);
  for (int round = 0; round < 1000; ++round) {
    std::u16string input;
    for (auto i = random() % 30; i > 0; --i)
      input += pieces[random() % std::size(pieces)];
    SCOPED_TRACE(Printable(input));
    std::u16string concatenated;
    for (const std::u16string& element : Read(input, round % 4, kChunks[random() % 7]))
      concatenated += element.substr(0, element.find(u'|'));
    ASSERT_EQ(concatenated, input);
  }
}

}  // namespace
}  // namespace tagvert
