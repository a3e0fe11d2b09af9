// Tagvert: what the views fed from the conversion's records (show, stats) are compared on: a
// document converted as the command converts it, and the documents to convert.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/document_scan.h"
#include "frame/ttx_converter.h"
#include "storage/memory_stream.h"

namespace tagvert::cli {

/// `document` (its bytes) converted to IF with the command's reading of languages; its units. With
/// `tableHook` the records go to the hook instead and no IF is written.
inline std::u16string ConvertAsTheCommand(const std::string& document,
                                          CTagvertConverter::TableHook tableHook) {
  CTagvertConverter converter;
  converter.SetLanguageMatch(LanguageMatch::Language);
  // The target language the document names, so that its Tuvs are classified as the command's.
  converter.SetDocumentReadHook([](const CDocumentFacts& facts) -> std::optional<std::int32_t> {
    if (!facts.targetLanguage) return std::nullopt;
    return DirectionOfLanguage(*facts.targetLanguage);
  });
  const bool hooked = static_cast<bool>(tableHook);
  if (hooked) converter.SetTableHook(std::move(tableHook));
  const auto target = std::make_shared<CMemoryStream>();
  converter.ConvertToIF(CEndpoint::Stream(std::make_shared<CMemoryStream>(
                            std::vector<std::uint8_t>(document.begin(), document.end()))),
                        CEndpoint::Stream(target));
  const std::vector<std::uint8_t>& bytes = target->Bytes();
  EXPECT_EQ(bytes.empty(), hooked);
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return units;
}

/// The test data's TTX documents, then bodies in a narrow source and in a wide one (one character
/// above U+00FF makes the whole source wide), with what the writer turns into tag groups,
/// references or flags or leaves out: no-break spaces, units of the code range in texts and in
/// tags (literal and as references), skipped units, placeholders, surrogates paired and alone at a
/// text's end, block and inline tags, words across records, white space only runs, CJK, Latin-1
/// letters at a text's end, long runs of ASCII.
inline std::vector<std::string> RecordTestDocuments() {
  std::vector<std::string> documents;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(TAGVERT_TEST_DATA_DIR)) {
    if (entry.path().extension() != ".ttx") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    documents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_FALSE(documents.empty());
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
    for (const char* widening : {"", "\u0100"}) {
      std::string document = head;
      document.append(body).append(widening).append(tail);
      documents.push_back(std::move(document));
    }
  }
  return documents;
}

}  // namespace tagvert::cli
