// Tagvert: tests of the block and inline structuring passes (CSgmlStackProcessor).
// SPDX-License-Identifier: Apache-2.0
#include "structure/sgml_stack_processor.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "storage/hresult.h"
#include "structure/structure_test_support.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::CCountedElement;
using test::CStructureListBuilder;
using test::SourceTexts;
using Texts = std::vector<std::u16string>;

constexpr char16_t kNbsp = 0x00A0;

// Collapse

TEST(CSgmlStackProcessorTest, CollapsesSkippedBlockIntoStartTagWithExactSource) {
  CStructureListBuilder b;
  const auto body = b.Open(u"Body");
  const auto tu = b.Open(u"Tu", {{u"MatchPercent", u"100"}});
  b.Open(u"Tuv", {{u"Lang", u"EN-US"}});
  b.Text(u"Hello\r\n   world &amp; more");
  b.Close(u"Tuv");
  b.Close(u"Tu");
  b.Text(u"after");
  b.Close(u"Body");
  b.Paired();
  b.ClassifyBlock(body, kAlgorithmTranslate, kWhitespaceNormalize);
  b.ClassifyBlock(tu, kAlgorithmSkip);
  IElementX* const tuElement = &b[tu];
  IElementX* const afterElement = &b[6];
  const int liveBefore = CCountedElement::s_live;

  CSgmlStackProcessor processor;
  processor.CollapseSkipped(b.List());

  ASSERT_EQ(SourceTexts(b.List()),
            (Texts{u"<Body>",
                   u"<Tu MatchPercent=\"100\"><Tuv Lang=\"EN-US\">Hello\r\n   world &amp; "
                   u"more</Tuv></Tu>",
                   u"after", u"</Body>"}));
  EXPECT_EQ(CCountedElement::s_live, liveBefore - 4);
  EXPECT_EQ(b.List()[1], tuElement);
  EXPECT_EQ(b.List()[2], afterElement);
  EXPECT_EQ(tuElement->GetAlgorithm(), kAlgorithmTranslate);
  EXPECT_EQ(tuElement->GetTagType(), kTagSingle);
  EXPECT_EQ(tuElement->GetPairId(), 0);
  EXPECT_EQ(tuElement->GetIsTag(), 1);
  EXPECT_EQ(tuElement->GetRuleType(), kRuleBlock);
  EXPECT_EQ(tuElement->GetName(), u"Tu");
  // The inner source only, normalized with mode 2; references stay as written.
  ASSERT_EQ(tuElement->GetAttributes().size(), 2u);
  const CAttributeX& format = tuElement->GetAttributes()[1];
  EXPECT_EQ(format.m_name, u"formatX");
  EXPECT_EQ(format.m_value, u"<Tuv Lang=\"EN-US\">Hello world &amp; more</Tuv>");
  EXPECT_EQ(format.m_kind, 1);
  // The blocks around it keep their pairing.
  EXPECT_EQ(b.List()[0]->GetTagType(), kTagPairedOpen);
  EXPECT_EQ(b.List()[0]->GetPairId(), b.List()[3]->GetPairId());
}

TEST(CSgmlStackProcessorTest, EmptySkippedBlockGetsNoFormatAttribute) {
  CStructureListBuilder b;
  const auto skipped = b.Open(u"ut", {{u"Type", u"start"}});
  b.Close(u"ut");
  b.Paired();
  b.ClassifyBlock(skipped, kAlgorithmSkip, kWhitespacePreserve, kRuleInline);

  CSgmlStackProcessor processor;
  processor.CollapseSkipped(b.List());

  ASSERT_EQ(SourceTexts(b.List()), (Texts{u"<ut Type=\"start\"></ut>"}));
  EXPECT_EQ(b[0].GetAttributes().size(), 1u);
  EXPECT_EQ(b[0].FindAttribute(u"formatX"), -1);
  EXPECT_EQ(b[0].GetTagType(), kTagSingle);
}

TEST(CSgmlStackProcessorTest, WhitespaceOnlyInnerTextGivesEmptyFormatAttribute) {
  CStructureListBuilder b;
  const auto skipped = b.Open(u"ut");
  b.Text(u" \r\n\t ");
  b.Close(u"ut");
  b.Paired();
  b.ClassifyBlock(skipped, kAlgorithmSkip, kWhitespacePreserve, kRuleInline);

  CSgmlStackProcessor processor;
  processor.CollapseSkipped(b.List());

  ASSERT_EQ(b.List().size(), 1u);
  EXPECT_EQ(b[0].GetSourceText(), u"<ut> \r\n\t </ut>");
  ASSERT_EQ(b[0].FindAttribute(u"formatX"), 0);
  EXPECT_EQ(b[0].GetAttributeValueAt(0), u"");
  EXPECT_EQ(b[0].GetAttributes()[0].m_kind, 1);
}

TEST(CSgmlStackProcessorTest, NestedSkippedBlocksAreSwallowedByTheOuterOne) {
  // FrontMatter as the rules leave it: the nested blocks flattened to inline translate items.
  CStructureListBuilder b;
  b.Single(u"?xml");
  const auto root = b.Open(u"TRADOStag");
  const auto front = b.Open(u"FrontMatter");
  const auto tool = b.Open(u"ToolSettings");
  b.Close(u"ToolSettings");
  b.Open(u"UserSettings", {{u"TargetLanguage", u"DE-DE"}});
  b.Text(u"\n  ");
  b.Close(u"UserSettings");
  b.Close(u"FrontMatter");
  b.Text(u"x");
  b.Close(u"TRADOStag");
  b.Paired();
  b.ClassifyBlock(root, kAlgorithmTranslate);
  b.ClassifyBlock(front, kAlgorithmSkip);
  const int liveBefore = CCountedElement::s_live;
  // A nested start tag that still says skip must be swallowed as well, not collapsed alone.
  b[tool].SetAlgorithm(kAlgorithmSkip);

  CSgmlStackProcessor processor;
  processor.CollapseSkipped(b.List());

  ASSERT_EQ(SourceTexts(b.List()),
            (Texts{u"<?xml/>", u"<TRADOStag>",
                   u"<FrontMatter><ToolSettings></ToolSettings><UserSettings "
                   u"TargetLanguage=\"DE-DE\">\n  </UserSettings></FrontMatter>",
                   u"x", u"</TRADOStag>"}));
  EXPECT_EQ(CCountedElement::s_live, liveBefore - 6);
  EXPECT_EQ(b[2].GetAttributeValue(u"formatX"),
            u"<ToolSettings></ToolSettings><UserSettings TargetLanguage=\"DE-DE\"> "
            u"</UserSettings>");
  EXPECT_EQ(b[2].GetAttributes().size(), 1u);
}

TEST(CSgmlStackProcessorTest, AdjacentSkippedBlocksCollapseSeparately) {
  CStructureListBuilder b;
  const auto first = b.Open(u"ut");
  b.Text(u"1");
  b.Close(u"ut");
  const auto second = b.Open(u"ut");
  b.Text(u"2");
  b.Close(u"ut");
  b.Paired();
  b.ClassifyBlock(first, kAlgorithmSkip, kWhitespacePreserve, kRuleInline);
  b.ClassifyBlock(second, kAlgorithmSkip, kWhitespacePreserve, kRuleInline);

  CSgmlStackProcessor processor;
  processor.CollapseSkipped(b.List());

  ASSERT_EQ(SourceTexts(b.List()), (Texts{u"<ut>1</ut>", u"<ut>2</ut>"}));
  EXPECT_EQ(b[0].GetAttributeValue(u"formatX"), u"1");
  EXPECT_EQ(b[1].GetAttributeValue(u"formatX"), u"2");
}

TEST(CSgmlStackProcessorTest, WalkEndsAtFirstElementWithTheStartTagsPairId) {
  // Whatever its name or kind, the first later element carrying the id ends the block.
  CStructureListBuilder b;
  const auto skipped = b.Open(u"a");
  b.Text(u"in");
  b.Single(u"marker");
  b.Text(u"out");
  b.Close(u"a");
  b.Paired();
  b.ClassifyBlock(skipped, kAlgorithmSkip);
  b[2].SetPairId(b[skipped].GetPairId());

  CSgmlStackProcessor processor;
  processor.CollapseSkipped(b.List());

  EXPECT_EQ(SourceTexts(b.List()), (Texts{u"<a>in<marker/>", u"out", u"</a>"}));
  EXPECT_EQ(b[0].GetAttributeValue(u"formatX"), u"in");
}

TEST(CSgmlStackProcessorTest, LeavesBlocksThatAreNotSkippedPairedStartTags) {
  struct Case {
    const char* label;
    int algorithm;
    bool unpaired;
  };
  const Case cases[] = {{"translate", kAlgorithmTranslate, false},
                        {"remove", kAlgorithmRemove, false},
                        {"reserve", kAlgorithmReserve, false},
                        {"unpaired skip", kAlgorithmSkip, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CStructureListBuilder b;
    const auto block = b.Open(u"Tu");
    b.Text(u"a  b");
    b.Close(u"Tu");
    b.Paired();
    b.ClassifyBlock(block, c.algorithm);
    if (c.unpaired) {
      b[0].SetTagType(kTagOpen);
      b[2].SetTagType(kTagClose);
    }
    const std::vector<IElementX*> before(b.List().begin(), b.List().end());
    const int pairId = b[0].GetPairId();

    CSgmlStackProcessor processor;
    processor.CollapseSkipped(b.List());

    EXPECT_EQ(std::vector<IElementX*>(b.List().begin(), b.List().end()), before);
    EXPECT_EQ(SourceTexts(b.List()), (Texts{u"<Tu>", u"a  b", u"</Tu>"}));
    EXPECT_EQ(b[0].GetAlgorithm(), c.algorithm);
    EXPECT_EQ(b[0].GetPairId(), pairId);
    EXPECT_FALSE(b[0].HasAttributes());
  }
}

// Normalize and decode

TEST(CSgmlStackProcessorTest, NormalizesEachTextRunByItsOwnWhitespaceMode) {
  struct Case {
    int mode;
    std::u16string text;
    std::u16string expected;
  };
  const Case cases[] = {
      {kWhitespacePreserve, u" a\r\n\t b ", u" a\r\n\t b "},
      {3, u" \n ", u" \n "},
      {kWhitespaceRemove, u" \r\n\t", u""},
      {kWhitespaceRemove, u"a\n\nb", u"a\n\nb"},
      {kWhitespaceNormalize, u" \r\n ", u""},
      {kWhitespaceNormalize, u"a\r\n  b\t", u"a b "},
      {kWhitespaceNormalize, u"a  b", u"a  b"},
      {kWhitespaceNormalize, std::u16string(1, kNbsp), std::u16string(1, kNbsp)},
      {kWhitespaceNormalizeSignificant, u" \n ", u" \n "},
      {kWhitespaceNormalizeSignificant, u"x\n\ny", u"x y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " case " << (&c - cases));
    CStructureListBuilder b;
    b.Text(c.text);
    b[0].SetWhitespace(c.mode);
    CSgmlStackProcessor processor;
    processor.NormalizeTexts(b.List());
    EXPECT_EQ(b[0].GetSourceText(), c.expected);
  }
}

TEST(CSgmlStackProcessorTest, NormalizeAndDecodeLeaveMarkupAlone) {
  CStructureListBuilder b;
  b.Open(u"a", {{u"title", u"x &amp;\n  y"}});
  b[0].SetWhitespace(kWhitespaceNormalize);
  const std::u16string source = b[0].GetSourceText();

  CSgmlStackProcessor processor;
  processor.SetTextProcessor(new CTextProcessor(nullptr, 1));
  processor.NormalizeTexts(b.List());
  processor.DecodeTexts(b.List());

  EXPECT_EQ(b[0].GetSourceText(), source);
}

TEST(CSgmlStackProcessorTest, DecodesReferencesInEveryModeAfterNormalizing) {
  // Normalizing runs first, so a line break written as a reference survives mode 2.
  struct Case {
    int mode;
    std::u16string text;
    std::u16string expected;
  };
  const Case cases[] = {
      {kWhitespacePreserve, u" x &lt;\n y&amp;amp; ", u" x <\n y&amp; "},
      {kWhitespaceNormalize, u"a&#10;\n b&nbsp;", u"a\n b\u00A0"},
      {kWhitespaceRemove, u"&#x41;&foo;", u"A&foo;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode);
    CStructureListBuilder b;
    b.Text(c.text);
    b[0].SetWhitespace(c.mode);
    CSgmlStackProcessor processor;
    processor.SetTextProcessor(new CTextProcessor(nullptr, 1));
    processor.NormalizeTexts(b.List());
    processor.DecodeTexts(b.List());
    EXPECT_EQ(b[0].GetSourceText(), c.expected);
  }
}

TEST(CSgmlStackProcessorTest, DecodeWithoutTextProcessorThrowsPointerError) {
  CStructureListBuilder b;
  b.Text(u"&amp;");
  CSgmlStackProcessor processor;
  try {
    processor.DecodeTexts(b.List());
    FAIL() << "no exception";
  } catch (const CHResultError& error) {
    EXPECT_EQ(error.Code(), kEPointer);
  }
  EXPECT_EQ(b[0].GetSourceText(), u"&amp;");
}

// No-break spaces

struct PieceExpectation {
  std::u16string text;
  int isTag;
};

void ExpectPieces(CElementsStackX& list, const std::vector<PieceExpectation>& expected) {
  ASSERT_EQ(list.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "piece " << i);
    IElementX& piece = *list[i];
    EXPECT_EQ(piece.GetSourceText(), expected[i].text);
    EXPECT_EQ(piece.GetIsTag(), expected[i].isTag);
    EXPECT_EQ(piece.GetRuleType(), kRuleInline);
    EXPECT_EQ(piece.GetAlgorithm(), kAlgorithmTranslate);
    EXPECT_EQ(piece.GetTagType(), kTagSingle);
    EXPECT_EQ(piece.GetPairId(), 0);
    EXPECT_EQ(piece.GetWhitespace(), kWhitespacePreserve);
    EXPECT_EQ(piece.GetName(), u"");
    EXPECT_FALSE(piece.HasAttributes());
  }
}

TEST(CSgmlStackProcessorTest, SplitsTextRunsAtNoBreakSpaces) {
  const std::u16string nb(1, kNbsp);
  struct Case {
    std::u16string text;
    std::vector<PieceExpectation> pieces;
  };
  const Case cases[] = {
      {u"a" + nb + u"b", {{u"a", 0}, {nb, 1}, {u" b", 0}}},
      {nb + u"lead", {{nb, 1}, {u" lead", 0}}},
      {u"end" + nb, {{u"end", 0}, {nb, 1}, {u" ", 0}}},
      {nb, {{nb, 1}, {u" ", 0}}},
      {nb + nb + u"x y", {{nb, 1}, {u" ", 0}, {nb, 1}, {u" x y", 0}}},
      {u"1 " + nb + u" 2" + nb + nb,
       {{u"1 ", 0}, {nb, 1}, {u"  2", 0}, {nb, 1}, {u" ", 0}, {nb, 1}, {u" ", 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Printable(c.text));
    CStructureListBuilder b;
    b.Text(c.text);
    // The pieces take fixed values whatever the run carried.
    b[0].SetRuleType(kRuleBlock);
    b[0].SetAlgorithm(kAlgorithmRemove);
    b[0].SetWhitespace(kWhitespaceNormalize);
    const int liveBefore = CCountedElement::s_live;
    CSgmlStackProcessor processor;
    processor.SplitNonBreakingSpaces(b.List());
    ExpectPieces(b.List(), c.pieces);
    EXPECT_EQ(CCountedElement::s_live, liveBefore - 1);
  }
}

TEST(CSgmlStackProcessorTest, SplitKeepsOtherElementsInPlace) {
  const std::u16string nb(1, kNbsp);
  CStructureListBuilder b;
  const auto p = b.Open(u"p");
  b.Text(u"x" + nb + u"y");
  b.Single(u"br", {{u"title", nb}});
  b.Text(u"plain");
  b.Text(nb);
  b.Close(u"p");
  b.Paired();
  IElementX* const open = &b[0];
  IElementX* const br = &b[2];
  IElementX* const plain = &b[3];
  IElementX* const close = &b[5];
  const int pairId = open->GetPairId();
  b.ClassifyBlock(p, kAlgorithmTranslate);

  CSgmlStackProcessor processor;
  processor.SplitNonBreakingSpaces(b.List());

  EXPECT_EQ(SourceTexts(b.List()), (Texts{u"<p>", u"x", nb, u" y", u"<br title=\"" + nb + u"\"/>",
                                          u"plain", nb, u" ", u"</p>"}));
  EXPECT_EQ(b.List()[0], open);
  EXPECT_EQ(b.List()[4], br);
  EXPECT_EQ(b.List()[5], plain);
  EXPECT_EQ(b.List()[8], close);
  EXPECT_EQ(open->GetPairId(), pairId);
  EXPECT_EQ(close->GetPairId(), pairId);
}

// Failure half-way: the list keeps every live element exactly once

// A text run whose source cannot be read by reference: stands in for an allocation failure.
class CThrowingElement : public CCountedElement {
 public:
  std::u16string& GetSourceTextRef() override { throw std::runtime_error("source unavailable"); }
};

TEST(CSgmlStackProcessorTest, CollapseFailingHalfWayLeavesAConsistentList) {
  CStructureListBuilder b;
  const auto first = b.Open(u"ut");
  b.Text(u"1");
  b.Close(u"ut");
  const auto second = b.Open(u"ut");
  b.Text(u"2");
  b.List().Push(new CThrowingElement());
  b.Close(u"ut");
  b.Text(u"after");
  b.Paired();
  b.ClassifyBlock(first, kAlgorithmSkip);
  b.ClassifyBlock(second, kAlgorithmSkip);

  CSgmlStackProcessor processor;
  EXPECT_THROW(processor.CollapseSkipped(b.List()), std::runtime_error);

  // The first block is done, the second half-swallowed; nothing is lost, null or repeated.
  EXPECT_EQ(SourceTexts(b.List()), (Texts{u"<ut>1</ut>", u"<ut>2", u"", u"</ut>", u"after"}));
  EXPECT_EQ(CCountedElement::s_live, static_cast<int>(b.List().size()));
}

TEST(CSgmlStackProcessorTest, SplitFailingHalfWayLeavesAConsistentList) {
  const std::u16string nb(1, kNbsp);
  CStructureListBuilder b;
  b.Text(u"a" + nb + u"b");
  b.Open(u"p");
  b.List().Push(new CThrowingElement());
  b.Text(u"c" + nb);
  const int counted = CCountedElement::s_live;

  CSgmlStackProcessor processor;
  EXPECT_THROW(processor.SplitNonBreakingSpaces(b.List()), std::runtime_error);

  // The first run is replaced by its pieces; the rest is as it was.
  EXPECT_EQ(SourceTexts(b.List()), (Texts{u"a", nb, u" b", u"<p>", u"", u"c" + nb}));
  EXPECT_EQ(CCountedElement::s_live, counted - 1);
}

// Text processor ownership

class CCountedTextProcessor : public CTextProcessor {
 public:
  explicit CCountedTextProcessor(int& destroyed)
      : CTextProcessor(nullptr, 1), m_destroyed(destroyed) {}
  ~CCountedTextProcessor() override { ++m_destroyed; }

 private:
  int& m_destroyed;
};

TEST(CSgmlStackProcessorTest, OwnsItsTextProcessor) {
  int firstDestroyed = 0;
  int secondDestroyed = 0;
  {
    CSgmlStackProcessor processor;
    auto* first = new CCountedTextProcessor(firstDestroyed);
    processor.SetTextProcessor(first);
    processor.SetTextProcessor(first);
    EXPECT_EQ(firstDestroyed, 0);
    EXPECT_EQ(processor.GetTextProcessor(), first);
    processor.SetTextProcessor(new CCountedTextProcessor(secondDestroyed));
    EXPECT_EQ(firstDestroyed, 1);
    EXPECT_EQ(secondDestroyed, 0);
  }
  EXPECT_EQ(firstDestroyed, 1);
  EXPECT_EQ(secondDestroyed, 1);
}

TEST(CSgmlStackProcessorTest, SettingNullReleasesTheTextProcessor) {
  int destroyed = 0;
  CSgmlStackProcessor processor;
  processor.SetTextProcessor(new CCountedTextProcessor(destroyed));
  processor.SetTextProcessor(nullptr);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(processor.GetTextProcessor(), nullptr);
}

}  // namespace
}  // namespace tagvert
