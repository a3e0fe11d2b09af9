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

// A document as markup items and text runs. Text is compared in a canonical form: references
// decoded, white space runs collapsed, spaces next to no-break spaces dropped, blank runs
// dropped. Markup is compared exactly.
struct CItems {
  std::vector<std::u16string> markup;
  std::vector<std::u16string> texts;
  std::vector<bool> order;  // true: markup
};

std::u16string CanonicalText(std::u16string text) {
  CTextProcessor processor(nullptr, 1);
  processor.DecodeEntities(text);
  std::u16string out;
  bool space = false;
  for (char16_t c : text) {
    if (CharIsSpace(c)) {
      space = true;
      continue;
    }
    if (space && !out.empty() && c != 0x00A0 && out.back() != 0x00A0) out.push_back(u' ');
    space = false;
    out.push_back(c);
  }
  return out;
}

CItems Parse(const std::vector<std::uint8_t>& bytes) {
  CDataStorage storage(kModeSingle, kModeNone);
  storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(bytes)), CEndpoint());
  COrvelSgmlParser reader(&storage, 1, 1, 0);
  CItems items;
  std::u16string pending;
  auto flush = [&] {
    const std::u16string canonical = CanonicalText(pending);
    if (!canonical.empty()) {
      items.texts.push_back(canonical);
      items.order.push_back(false);
    }
    pending.clear();
  };
  for (;;) {
    CElementX element;
    if (!reader.ReadElement(&element)) break;
    if (element.GetIsTag()) {
      flush();
      items.markup.push_back(element.GetSourceText());
      items.order.push_back(true);
    } else {
      pending += element.GetSourceTextRef();
    }
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

  const CItems before = Parse(original);
  const CItems after = Parse(back.output);
  ASSERT_EQ(before.markup.size(), after.markup.size());
  for (size_t i = 0; i < before.markup.size(); ++i) {
    ASSERT_EQ(test::Printable(before.markup[i]), test::Printable(after.markup[i])) << i;
  }
  ASSERT_EQ(before.texts.size(), after.texts.size());
  for (size_t i = 0; i < before.texts.size(); ++i) {
    EXPECT_EQ(test::Printable(before.texts[i]), test::Printable(after.texts[i])) << i;
  }
  EXPECT_EQ(before.order, after.order);
}

std::vector<fs::path> TtxFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.path().extension() == ".ttx") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(RoundTripTest, OwnDocumentsKeepMarkupAndText) {
  const auto files = TtxFiles(fs::path(TAGVERT_TEST_DATA_DIR) / "roundtrip");
  ASSERT_GE(files.size(), 4U);
  for (const auto& file : files) {
    CheckRoundTrip(file, 0x00080000);  // French target
    CheckRoundTrip(file, 0);           // no target: every Tuv carried whole
  }
}

TEST(RoundTripTest, BundledExamples) {
  const auto files =
      TtxFiles(fs::path(TAGVERT_TEST_DATA_DIR).parent_path().parent_path() / "examples");
  ASSERT_GE(files.size(), 2U);
  for (const auto& file : files)
    CheckRoundTrip(file, 0x00040000);
}

TEST(RoundTripTest, RealDocumentCorpus) {
  const auto files = TtxFiles(TAGVERT_SAMPLES_DIR);
  if (files.empty()) GTEST_SKIP() << "no sample documents at " << TAGVERT_SAMPLES_DIR;
  for (const auto& file : files) {
    CheckRoundTrip(file, 0x00080000);
    CheckRoundTrip(file, 0x00040000);
  }
}

}  // namespace
}  // namespace tagvert

namespace tagvert {
namespace {

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
