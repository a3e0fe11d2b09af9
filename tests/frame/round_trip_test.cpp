// Tagvert: round trips TTX -> IF -> TTX over test documents and, when present, real ones.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
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

// A document as its markup items (exact, marked "M ") and text runs (marked "T "), readable.
// Text is compared in a canonical form: references decoded, white space runs collapsed, spaces
// next to no-break spaces and blank runs dropped.
std::vector<std::string> Items(const std::vector<std::uint8_t>& bytes) {
  CDataStorage storage(EncodingMode::Single, EncodingMode::None);
  storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(bytes)), CEndpoint());
  COrvelSgmlParser reader(&storage, kSgmlDetectInput);
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

void CheckRoundTrip(const fs::path& path, std::int32_t direction) {
  SCOPED_TRACE(path.string());
  const auto original = test::ReadFileBytes(path.string());
  ASSERT_FALSE(original.empty());
  CTagvertConverter converter;
  ASSERT_EQ(converter.PutProperty(CVariant::Int32(0), CVariant::Int32(direction)), kSOk);
  const auto toIf = test::ToIf(original, &converter);
  ASSERT_EQ(toIf.result, kSOk);
  const auto back = test::FromIf(toIf.output, &converter);
  ASSERT_EQ(back.result, kSOk);
  ASSERT_GE(back.output.size(), 3U);
  EXPECT_EQ(back.output[0], 0xEF);  // UTF-8 with a byte-order mark
  EXPECT_EQ(Items(original), Items(back.output));
}

TEST(RoundTripTest, OwnDocumentsKeepMarkupAndText) {
  const auto files = TtxFiles(fs::path(TAGVERT_TEST_DATA_DIR) / "roundtrip");
  ASSERT_GE(files.size(), 4U);
  for (const auto& file : files) {
    CheckRoundTrip(file, 0x00080000);  // French target
    CheckRoundTrip(file, 0);           // no target: every Tuv carried whole
  }
}

TEST(RoundTripTest, BundledExamplesKeepMarkupAndText) {
  const auto files =
      TtxFiles(fs::path(TAGVERT_TEST_DATA_DIR).parent_path().parent_path() / "examples");
  ASSERT_GE(files.size(), 2U);
  for (const auto& file : files)
    CheckRoundTrip(file, 0x00040000);
}

TEST(RoundTripTest, RealDocumentsKeepMarkupAndText) {
  const auto files = TtxFiles(TAGVERT_SAMPLES_DIR);
  if (files.empty()) GTEST_SKIP() << "no sample documents at " << TAGVERT_SAMPLES_DIR;
  for (const auto& file : files) {
    CheckRoundTrip(file, 0x00080000);
    CheckRoundTrip(file, 0x00040000);
  }
}

// Broken input is data: mutated documents convert in both directions without failing, and
// every IF read back gives TTX again.
TEST(RoundTripTest, MutatedDocumentsNeverFail) {
  const auto seed = test::ReadFileBytes(
      (fs::path(TAGVERT_TEST_DATA_DIR) / "roundtrip" / "utf8_bom_units_refs_nbsp.ttx").string());
  ASSERT_FALSE(seed.empty());
  std::mt19937 random(7);
  const std::uint8_t specials[] = {'<', '>', '&', '/', '"', '\'', ';', '#', '!', 0xC2, 0xA0, 0xEE};
  CTagvertConverter converter;
  converter.PutProperty(CVariant::Int32(0), CVariant::Int32(0x00080000));
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    std::vector<std::uint8_t> bytes = seed;
    for (int edits = 1 + static_cast<int>(random() % 8); edits > 0; --edits) {
      const std::size_t at = random() % bytes.size();
      switch (random() % 3) {
        case 0:
          bytes[at] = specials[random() % std::size(specials)];
          break;
        case 1:
          bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       specials[random() % std::size(specials)]);
          break;
        default:
          bytes.resize(std::max<std::size_t>(at, 1));
      }
    }
    const auto toIf = test::ToIf(bytes, &converter);
    ASSERT_EQ(toIf.result, kSOk);
    ASSERT_EQ(test::Utf16LeUnits(toIf.output).substr(0, 5), u"\uE804TTX\uE000");
    ASSERT_EQ(test::FromIf(toIf.output, &converter).result, kSOk);
    // Arbitrary units read as IF, including codes in every band.
    std::vector<std::uint8_t> noise(
        toIf.output.begin(),
        toIf.output.begin() + static_cast<std::ptrdiff_t>(random() % toIf.output.size()));
    for (auto& b : noise) {
      if (random() % 16 == 0) b = static_cast<std::uint8_t>(random());
    }
    ASSERT_EQ(test::FromIf(noise, &converter).result, kSOk);
  }
}

}  // namespace
}  // namespace tagvert
