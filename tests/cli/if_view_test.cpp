// Tagvert: tests of the IF shown as a person reads it.
// SPDX-License-Identifier: Apache-2.0
#include "cli/if_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/document_scan.h"
#include "frame/ttx_converter.h"
#include "storage/memory_stream.h"

namespace tagvert::cli {
namespace {

std::string Show(const std::u16string& units, std::size_t cut, IfViewMode mode) {
  std::ostringstream out;
  {
    CIfView view(out, mode);
    view.Feed(units.data(), cut);
    view.Feed(units.data() + cut, units.size() - cut);
    view.Finish();
  }
  return out.str();
}

TEST(IfViewTest, SurrogatePairsCutBetweenPiecesStayOneCharacter) {
  // A pair in text and in a tag's source, a high surrogate before a letter and one at the end.
  const std::u16string units = u"x\xD83D\xDE00\uE805\u0001<\xD83D\xDE00>\uE000\xD83Dy\xD83D";
  EXPECT_EQ(Show(units, units.size(), IfViewMode::Plain),
            "x\xF0\x9F\x98\x80{#0001: <\xF0\x9F\x98\x80>}\xEF\xBF\xBDy\xEF\xBF\xBD\n");
  for (const IfViewMode mode : {IfViewMode::Plain, IfViewMode::Codes}) {
    const std::string whole = Show(units, units.size(), mode);
    for (std::size_t cut = 0; cut < units.size(); ++cut)
      EXPECT_EQ(Show(units, cut, mode), whole) << "cut at " << cut;
  }
}

TEST(IfViewTest, TagMarkersWrittenAsTheGroupStartsMatchTheWholeMarker) {
  // Flags before a tag, an empty source, an unknown flag, a tag and a pair id cut off by the end.
  const std::u16string units =
      u"ab\uE405\uE404\uE805\u0012<b>\uE000c\uE805\u0034\uE000\uE411\uE433\uE805\u0056\uE805"
      u"\u0078<p>x";
  const std::u16string pairCut = u"z\uE805\u0001y\uE405\uE805";
  const std::string dim = "\x1b[2m#", tag = " \x1b[0m\x1b[36m", reset = "\x1b[0m";
  const std::string cut = " (cut off by the end of the IF)";
  const std::pair<IfViewMode, std::string> cases[] = {
      {IfViewMode::Plain,
       "ab\n{#0012 block end: <b>}c{#0034}{#0056 flagged flag U+E433}{#0078" + cut + ": <p>x}\n"},
      {IfViewMode::Colour, "ab\n" + dim + "0012 block end" + tag + "<b>" + reset + "c" + dim +
                               "0034" + tag + reset + dim + "0056 flagged flag U+E433" + tag +
                               reset + dim + "0078" + cut + tag + "<p>x" + reset + "\n"},
  };
  for (const auto& [mode, shown] : cases) {
    for (std::size_t at = 0; at <= units.size(); ++at)
      EXPECT_EQ(Show(units, at, mode), shown) << "cut at " << at;
  }
  EXPECT_EQ(Show(pairCut, 3, IfViewMode::Plain), "z{#0001: y}\n{#???? block" + cut + "}\n");
}

// What `document` (its bytes) converted to IF shows in `mode`, twice: once from the IF written,
// once from the records it is written from.
std::pair<std::string, std::string> ShowBothWays(const std::string& document, IfViewMode mode) {
  std::string shown[2];
  for (const bool fromRecords : {false, true}) {
    CTagvertConverter converter;
    converter.SetLanguageMatch(LanguageMatch::Language);
    // The target language the document names, so that its Tuvs are classified as the command's.
    converter.SetDocumentReadHook([](const CDocumentFacts& facts) -> std::optional<std::int32_t> {
      if (!facts.targetLanguage) return std::nullopt;
      return DirectionOfLanguage(*facts.targetLanguage);
    });
    std::ostringstream out;
    {
      CIfView view(out, mode);
      if (fromRecords) {
        converter.SetTableHook([&view](const CElementTable& table) { view.FeedTable(table); });
      }
      const auto target = std::make_shared<CMemoryStream>();
      converter.ConvertToIF(CEndpoint::Stream(std::make_shared<CMemoryStream>(
                                std::vector<std::uint8_t>(document.begin(), document.end()))),
                            CEndpoint::Stream(target));
      const std::vector<std::uint8_t>& bytes = target->Bytes();
      EXPECT_EQ(bytes.empty(), fromRecords);
      std::u16string units(bytes.size() / 2, u'\0');
      for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
      view.Feed(units.data(), units.size());
      view.Finish();
    }
    shown[fromRecords ? 1 : 0] = out.str();
  }
  return {shown[0], shown[1]};
}

TEST(IfViewTest, ShowsFromTheRecordsWhatTheIfWrittenShows) {
  std::vector<std::string> documents;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(TAGVERT_TEST_DATA_DIR)) {
    if (entry.path().extension() != ".ttx") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    documents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_FALSE(documents.empty());
  // Narrow and wide sources (one character above U+00FF makes the whole source wide), with what
  // the writer turns into tag groups, references or flags: no-break spaces, units of the code
  // range in texts and in tags (literal and as references), surrogates paired and alone at a
  // text's end, block and inline tags, Latin-1 letters at a text's end, long runs of ASCII.
  const std::string head =
      "<TRADOStag><FrontMatter><UserSettings SourceLanguage=\"EN-US\" "
      "TargetLanguage=\"DE-DE\"/></FrontMatter><Body><Raw>";
  const std::string tail = "</Raw></Body></TRADOStag>";
  const std::string bodies[] = {
      "Tea\u00A0&amp; milk\u00A0\u00A0at five p.m. \u00E9l\u00E8ve na\u00EFve "
      "<ut Type=\"start\">&lt;b&gt;</ut>bo<ut>x</ut>ld<ut Type=\"end\">&lt;/b&gt;</ut>   \n ",
      "<Tu MatchPercent=\"0\"><Tuv Lang=\"EN-US\">Hello world, the quick brown fox jumps over "
      "the lazy dog 12345 times</Tuv><Tuv Lang=\"DE-DE\">Hallo\u00A0Welt &#xE805;x&#xE000;y"
      "</Tuv></Tu> \u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8 \U00020B9F\U0001D400x",
      "a\uE000b\uE805c &#xE804;d \u00A0\u4E2D\u00A0e <Tu MatchPercent=\"100\"><Tuv "
      "Lang=\"EN-US\">skipped unit</Tuv><Tuv Lang=\"DE-DE\">\u00A0</Tuv></Tu>\u00A0",
      "0123456789abcdef0123456789abcdef\u00C0\u00C1 0123456789 abcdef<ut>&lt;i/&gt;</ut>"
      "ghijklmnopqrstuvwxyz0123456789\u00FF"
      "<ut DisplayText=\"x\uE001\">&lt;b\uE002&gt;</ut>&#xD83D;<ut>&lt;i/&gt;</ut>x&#xD83D;"
      "<df Size=\"2\">\u00E9</df><cf bold=\"on\">\u00FC\u00FC\u00FC\u00FC\u00FC\u00FC"
      "\u00FC\u00FC\u00FC\u00FC\u00FC\u00FC\u00FC\u00FC\u00FC\u00FC\u00FC</cf>",
  };
  for (const std::string& body : bodies) {
    // The body in a narrow source, then in a wide one.
    for (const char* widening : {"", "\u0100"}) {
      std::string document = head;
      document.append(body).append(widening).append(tail);
      documents.push_back(std::move(document));
    }
  }
  for (std::size_t i = 0; i < documents.size(); ++i) {
    for (const IfViewMode mode : {IfViewMode::Plain, IfViewMode::Colour, IfViewMode::Codes}) {
      const auto [fromIf, fromRecords] = ShowBothWays(documents[i], mode);
      EXPECT_EQ(fromRecords, fromIf) << "document " << i << ", mode " << static_cast<int>(mode);
    }
  }
}

}  // namespace
}  // namespace tagvert::cli
