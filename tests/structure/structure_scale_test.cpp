// Tagvert: the structuring passes stay near-linear on lists of hundreds of thousands of elements.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <iostream>
#include <string>

#include "structure/structure_test_support.h"
#include "structure/ttx_stack_processor.h"

namespace tagvert {
namespace {

using test::CCountedElement;

constexpr std::size_t kBlocks = 100000;

IElementX* MakeElement(std::u16string name, std::u16string source, int tagType, int pairId,
                       int algorithm) {
  auto* element = new CCountedElement();
  element->SetIsTag(name.empty() ? 0 : 1);
  element->SetName(std::move(name));
  element->SetSourceText(std::move(source));
  element->SetTagType(tagType);
  element->SetPairId(pairId);
  element->SetAlgorithm(algorithm);
  return element;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(CSgmlStackProcessorTest, ManySkippedBlocksAndNoBreakSpacesInNearLinearTime) {
  // Each round: a skipped ut block with text inside, then a text run holding one no-break space
  // (normalized, with a reference). Pair ids are set as the pairing would, without running it.
  CElementsStackX list;
  list.reserve(4 * kBlocks);
  for (std::size_t i = 0; i < kBlocks; ++i) {
    const int pairId = 101 + static_cast<int>(i % 50000);
    IElementX* open = MakeElement(u"ut", u"<ut Type=\"start\" DisplayText=\"b\">", kTagPairedOpen,
                                  pairId, kAlgorithmSkip);
    open->AddAttribute(u"Type", i % 2 == 0 ? u"start" : u"end", 2);
    open->AddAttribute(u"DisplayText", u"b", 2);
    list.Push(open);
    list.Push(MakeElement(u"", u"&lt;b&gt;\n", kTagSingle, 0, kAlgorithmTranslate));
    list.Push(MakeElement(u"ut", u"</ut>", kTagPairedClose, pairId, kAlgorithmSkip));
    IElementX* text =
        MakeElement(u"", u"word\u00A0next &amp;\n  more", kTagSingle, 0, kAlgorithmTranslate);
    text->SetWhitespace(kWhitespaceNormalize);
    list.Push(text);
  }
  const int liveBefore = CCountedElement::s_live;

  CTTXStackProcessor processor;
  processor.SetTextProcessor(new CTextProcessor(nullptr, 1));
  double seconds[5] = {};
  auto timed = [&](int pass, auto run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    seconds[pass] = SecondsSince(start);
  };
  timed(0, [&] { processor.CollapseSkipped(list); });
  timed(1, [&] { processor.NormalizeTexts(list); });
  timed(2, [&] { processor.DecodeTexts(list); });
  timed(3, [&] { processor.SplitNonBreakingSpaces(list); });
  timed(4, [&] { processor.ResolveUtTags(list); });
  const double structuring = seconds[0] + seconds[1] + seconds[2] + seconds[3];
  std::cout << "[ timing ] " << kBlocks << " skipped blocks and no-break spaces (ms): collapse "
            << seconds[0] * 1000 << ", normalize " << seconds[1] * 1000 << ", decode "
            << seconds[2] * 1000 << ", split " << seconds[3] * 1000 << ", ut pass with pairing "
            << seconds[4] * 1000 << "\n";

  // Collapsed uts survive; the inner texts, end tags and split runs are deleted.
  EXPECT_EQ(CCountedElement::s_live, liveBefore - 3 * static_cast<int>(kBlocks));
  ASSERT_EQ(list.size(), 4 * kBlocks);
  for (std::size_t i : {std::size_t{0}, 4 * kBlocks - 4}) {
    EXPECT_EQ(list[i]->GetSourceText(), u"<ut Type=\"start\" DisplayText=\"b\">&lt;b&gt;\n</ut>");
    EXPECT_EQ(list[i]->GetAttributeValue(u"formatX"), u"&lt;b&gt; ");
    EXPECT_EQ(list[i]->GetName(), u"b");
    EXPECT_EQ(list[i + 1]->GetSourceText(), u"word");
    EXPECT_EQ(list[i + 2]->GetSourceText(), u"\u00A0");
    EXPECT_EQ(list[i + 3]->GetSourceText(), u" next & more");
  }
  EXPECT_EQ(list[0]->GetTagType(), kTagPairedOpen);
  EXPECT_EQ(list[4]->GetTagType(), kTagPairedClose);
  EXPECT_EQ(list[0]->GetPairId(), list[4]->GetPairId());
  // Quadratic shifting of the vector would take minutes here; linear passes take milliseconds
  // (the bound leaves room for sanitizer builds).
  EXPECT_LT(structuring, 5.0);
}

}  // namespace
}  // namespace tagvert
