// Tagvert: round trips TTX -> IF -> TTX over test documents, generated ones and, when present,
// real ones: markup and text survive, an independent XML reader (expat) accepts what it accepted
// before, and a second round trip changes nothing.
// SPDX-License-Identifier: Apache-2.0
#include <expat.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "frame/frame_test_util.h"
#include "ifcodec/text_processor.h"
#include "markup/sgml_parser.h"
#include "storage/char_class.h"

namespace tagvert {
namespace {

namespace fs = std::filesystem;
using test::TtxFiles;
using Bytes = std::vector<std::uint8_t>;

// A document as its markup items (exact, marked "M ") and text runs (marked "T "), readable.
// Text is compared in a canonical form: references decoded, white space runs collapsed, spaces
// next to no-break spaces and blank runs dropped.
std::vector<std::string> Items(const std::vector<std::uint8_t>& bytes) {
  CDataStorage storage(EncodingMode::Single, EncodingMode::None);
  storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(bytes)), CEndpoint());
  COrvelSgmlParser reader(&storage, SgmlParserMode::DetectInput);
  const CTextProcessor processor(nullptr, EscapeMode::Markup);
  std::vector<std::string> items;
  std::u16string pending;
  auto flush = [&] {
    processor.DecodeEntities(pending);
    std::u16string text;
    bool space = false;
    for (char16_t c : pending) {
      if (CharIsSpace(c)) {
        space = true;
        continue;
      }
      if (space && !text.empty() && c != 0x00A0 && text.back() != 0x00A0) text.push_back(u' ');
      space = false;
      text.push_back(c);
    }
    if (!text.empty()) items.push_back("T " + test::Printable(text));
    pending.clear();
  };
  for (CElementX element; reader.ReadElement(&element); element.Reset()) {
    if (!element.GetIsTag()) {
      pending += element.GetSourceTextRef();
      continue;
    }
    flush();
    items.push_back("M " + test::Printable(element.GetSourceTextRef()));
  }
  flush();
  return items;
}

// What expat makes of a document: whether it is well-formed (else the reason), and the
// elements with their attributes and the text runs between markup, in order. Text runs made
// only of white space are left out, and so are comments, whose content the round trip may
// write differently.
struct CXmlReading {
  bool wellFormed = false;
  std::string error;
  std::vector<std::string> items;
  std::string run;

  void EndRun() {
    if (run.find_first_not_of(" \t\r\n") != std::string::npos) items.push_back("T " + run);
    run.clear();
  }
};

void OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto* reading = static_cast<CXmlReading*>(data);
  reading->EndRun();
  std::string item = std::string("< ") + name;
  for (; *attributes != nullptr; attributes += 2)
    item.append(" ").append(attributes[0]).append("=").append(attributes[1]);
  reading->items.push_back(item);
}

void OnEnd(void* data, const XML_Char* name) {
  auto* reading = static_cast<CXmlReading*>(data);
  reading->EndRun();
  reading->items.push_back(std::string("> ") + name);
}

void OnText(void* data, const XML_Char* text, int length) {
  static_cast<CXmlReading*>(data)->run.append(text, static_cast<std::size_t>(length));
}

void OnBoundary(void* data) {
  static_cast<CXmlReading*>(data)->EndRun();
}

CXmlReading ReadXml(const Bytes& bytes) {
  CXmlReading reading;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &reading);
  XML_SetElementHandler(parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser, OnText);
  XML_SetCommentHandler(parser, [](void* data, const XML_Char*) { OnBoundary(data); });
  XML_SetCdataSectionHandler(parser, OnBoundary, OnBoundary);
  const auto status = XML_Parse(parser, reinterpret_cast<const char*>(bytes.data()),
                                static_cast<int>(bytes.size()), XML_TRUE);
  reading.wellFormed = status == XML_STATUS_OK;
  if (!reading.wellFormed) {
    reading.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                    std::to_string(XML_GetCurrentLineNumber(parser));
  }
  XML_ParserFree(parser);
  return reading;
}

// Target languages the documents are converted for: none, German, French.
constexpr std::int32_t kDirections[] = {0, 0x00040000, 0x00080000};

Bytes RoundTrip(const Bytes& ttx, std::int32_t direction) {
  CTagvertConverter converter;
  EXPECT_EQ(converter.PutProperty(CVariant::Int32(0), CVariant::Int32(direction)), kSOk);
  const auto toIf = test::ToIf(ttx, &converter);
  EXPECT_EQ(toIf.result, kSOk);
  const auto back = test::FromIf(toIf.output, &converter);
  EXPECT_EQ(back.result, kSOk);
  return back.output;
}

// One document in one direction: the TTX written back is UTF-8 with a mark and well-formed when
// the source was; a second round trip changes nothing. A file keeps its markup items and text
// (canonical form); a generated document, whose markup holds code-range characters that come back
// as references, must give expat the same elements, attributes and text instead (`generated`).
void CheckDocument(const Bytes& source, std::int32_t direction, bool generated) {
  SCOPED_TRACE(testing::Message() << "direction 0x" << std::hex << direction);
  const Bytes first = RoundTrip(source, direction);
  const Bytes second = RoundTrip(first, direction);
  ASSERT_GE(first.size(), 3U);
  EXPECT_EQ(first[0], 0xEF);
  if (!generated) {
    EXPECT_EQ(Items(source), Items(first));
  }
  const CXmlReading before = ReadXml(source);
  if (before.wellFormed) {
    const CXmlReading after = ReadXml(first);
    EXPECT_TRUE(after.wellFormed) << after.error;
    if (generated) {
      EXPECT_EQ(before.items, after.items);
    }
  }
  EXPECT_TRUE(first == second) << "a second round trip changed the TTX";
}

// The test documents and examples, and the real documents when they are present.
TEST(RoundTripTest, TestExampleAndRealDocuments) {
  const fs::path data(TAGVERT_TEST_DATA_DIR);
  auto files = TtxFiles(data);
  ASSERT_GE(files.size(), 6U);
  for (const fs::path& folder :
       {data.parent_path().parent_path() / "examples", fs::path(TAGVERT_SAMPLES_DIR)}) {
    const auto more = TtxFiles(folder);
    files.insert(files.end(), more.begin(), more.end());
  }
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    const Bytes source = test::ReadFileBytes(file.string());
    ASSERT_FALSE(source.empty());
    for (const std::int32_t direction : kDirections)
      CheckDocument(source, direction, false);
  }
}

// Pieces of the text of a unit: what translators' documents hold, above all what a careless
// round trip damages (characters beyond U+FFFF, no-break spaces in French typography, units of
// the IF code range, "]]>", references), and inline markup. No line breaks or tabs: inside Raw
// those are normalised, and the content comparison is to see every other character.
// clang-format off
const std::u16string kTextPieces[] = {
    u"Hello world", u"1.7\u00A0l.", u"Prix\u00A0: 5\u00A0\u20AC\u00A0!",
    u"\u00AB\u00A0Bonjour\u00A0\u00BB", u"a \u00A0 b", u"\u00A0", u"\u00A0 ", u" \u00A0",
    u"smile \xD83D\xDE00.", u"\xD840\xDC00\xD869\xDED6", u"\uE000", u"x\uE805y\uE404",
    u"\uEFFF\uE012", u"&#xE123;", u"&#x1F600;&#128512;", u"a]]&gt;b", u"]]]&gt;", u"]]", u"&gt;",
    u"&amp; &lt; &gt; &quot; &apos;", u"&#160;x", u"caf\u00E9 \u4E2D\u6587",
    u"<![CDATA[raw <b> & ]] ]]>", u"<!-- note \uE002 \xD83D\xDE00 -->",
    u"<df Font=\"A\uE003\xD83D\xDE00\" Size=\"]]>\">bold</df>",
    u"<ut Type=\"start\" Style=\"external\" DisplayText=\"p\">&lt;p&gt;</ut>",
    u"<ut Type=\"end\">&lt;/p&gt;</ut>", u"<ut DisplayText=\"\uE100 &#xE101;\"/>"};
// clang-format on

const char16_t* const kDeclarations[] = {
    u"",
    u"<?xml version=\"1.0\"?>\r\n",
    u"<?xml version='1.0' encoding='%'?>\r\n",
    u"<?xml version=\"1.0\" encoding = \"%\" standalone=\"yes\"?>\n",
};

std::u16string Text(std::mt19937& random) {
  std::u16string text;
  for (int count = 1 + static_cast<int>(random() % 4); count > 0; --count)
    text += kTextPieces[random() % std::size(kTextPieces)];
  return text;
}

// A TTX document of FrontMatter and paragraphs and units in Raw, and its encoding: 0 UTF-8
// without a mark, 1 UTF-8 with one, 2 UTF-16LE, 3 UTF-16BE (both with a mark).
std::u16string Document(std::mt19937& random, int encoding) {
  std::u16string declaration = kDeclarations[random() % std::size(kDeclarations)];
  if (const auto at = declaration.find(u'%'); at != std::u16string::npos) {
    const char16_t* const utf16Names[] = {u"UTF-16", u"utf-16"};
    const char16_t* const utf8Names[] = {u"UTF-8", u"utf-8"};
    declaration.replace(at, 1, encoding >= 2 ? utf16Names[random() % 2] : utf8Names[random() % 2]);
  }
  const char16_t* const languages[] = {u"DE-DE", u"FR-FR"};
  std::u16string doc = declaration +
                       u"<TRADOStag Version=\"2.0\"><FrontMatter><ToolSettings CreationTool=\"T"
                       u"\uE004\"/><UserSettings SourceLanguage=\"EN-US\" TargetLanguage=\"" +
                       languages[random() % 2] + u"\"/></FrontMatter><Body><Raw>\r\n";
  for (int count = static_cast<int>(random() % 6); count >= 0; --count) {
    if (random() % 2 == 0) {
      doc += u"<ut Type=\"start\" Style=\"external\">&lt;p&gt;</ut>" + Text(random) +
             u"<ut Type=\"end\" Style=\"external\">&lt;/p&gt;</ut>\r\n";
    } else {
      const char16_t* const matches[] = {u"0", u"100", u"85"};
      doc += std::u16string(u"<Tu MatchPercent=\"") + matches[random() % 3] +
             u"\"><Tuv Lang=\"EN-US\">" + Text(random) + u"</Tuv><Tuv Lang=\"" +
             languages[random() % 2] + u"\">" + Text(random) + u"</Tuv></Tu>\r\n";
    }
  }
  return doc + u"</Raw></Body></TRADOStag>";
}

Bytes Encode(const std::u16string& doc, int encoding) {
  if (encoding <= 1) return test::Utf8Bytes(doc, encoding == 1);
  Bytes bytes = test::Utf16LeBytes(doc, true);
  if (encoding == 3) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
      std::swap(bytes[i], bytes[i + 1]);
  }
  return bytes;
}

// Generated documents, all well-formed, in every encoding: the TTX written back is well-formed
// too, holds the same elements, attributes and text, and a second round trip changes nothing.
TEST(RoundTripPropertyTest, GeneratedDocumentsKeepTheirXmlContentAndStayStable) {
  std::mt19937 random(20261206);
  for (int index = 0; index < 120; ++index) {
    const int encoding = index % 4;
    const std::u16string doc = Document(random, encoding);
    const Bytes source = Encode(doc, encoding);
    SCOPED_TRACE(testing::Message() << "document " << index << ": " << test::Printable(doc));
    ASSERT_TRUE(ReadXml(source).wellFormed) << "the generator made a broken document";
    for (const std::int32_t direction : kDirections)
      CheckDocument(source, direction, true);
  }
}

}  // namespace
}  // namespace tagvert
