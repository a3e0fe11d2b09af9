// Tagvert: the TTX to IF driver, which works on an element table, writes what the element list
// passes (reader, pairing, rules, structuring, IF writer on elements) write for the same input.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "frame/ttx_converter.h"
#include "frame_test_util.h"
#include "ifcodec/if_parser.h"
#include "ifcodec/text_processor.h"
#include "markup/element_table.h"
#include "markup/sgml_parser.h"
#include "rules/builtin_rules.h"
#include "rules/record_classifier.h"
#include "rules/transml_rules.h"
#include "rules/ttx_rules_processor.h"
#include "structure/record_structure.h"
#include "support/elements_stack.h"
#include "support/if_element_writer.h"
#include "support/rules_processor.h"
#include "support/ttx_stack_processor.h"

namespace tagvert {
namespace {

namespace fs = std::filesystem;

// The IF of `input` as the passes over an element list write it.
std::vector<std::uint8_t> ElementListToIf(const std::vector<std::uint8_t>& input,
                                          std::uint32_t direction) {
  CDataStorage storage(EncodingMode::Single, EncodingMode::Utf16);
  auto target = std::make_shared<test::CSinkStream>();
  storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(input)),
               CEndpoint::Stream(target));
  CRules rules;
  rules.LoadStream(OpenBuiltinRulesStream(), false);
  CElementsStackX elements;
  COrvelSgmlParser reader(&storage, SgmlParserMode::DetectInput);
  CIFParser writer(&storage, IfParserMode::Write);
  CTTXStackProcessor structurer;
  structurer.SetTextProcessor(new CTextProcessor(&storage, EscapeMode::Markup));
  for (;;) {
    auto element = std::make_unique<CElementX>();
    if (!reader.ReadElement(element.get())) break;
    elements.Push(element.release());
  }
  elements.PairTags();
  CTTXRulesProcessor classifier;
  classifier.InitDirection(direction);
  classifier.ApplyTargetLanguage(rules);
  CRulesProcessor().Process(elements, &rules);
  structurer.CollapseSkipped(elements);
  structurer.NormalizeTexts(elements);
  structurer.DecodeTexts(elements);
  structurer.SplitNonBreakingSpaces(elements);
  structurer.ResolveUtTags(elements);
  writer.WriteChar(kIfHeader);
  writer.WriteString(u"TTX");
  writer.WriteChar(kIfBoundary);
  for (IElementX* element : elements)
    test::WriteIfElement(writer, element);
  storage.Flush();
  storage.Close();
  return target->Bytes();
}

void ExpectSameIf(const std::vector<std::uint8_t>& input, std::uint32_t direction) {
  CTagvertConverter converter;
  converter.PutIntProperty(0, static_cast<std::int32_t>(direction));
  const test::CConversion conversion = test::ToIf(input, &converter);
  ASSERT_EQ(conversion.result, kSOk);
  const std::vector<std::uint8_t> expected = ElementListToIf(input, direction);
  ASSERT_EQ(conversion.output.size(), expected.size());
  EXPECT_TRUE(conversion.output == expected);
}

// Directions: none, German, and a code the language table lacks.
constexpr std::uint32_t kDirections[] = {0, 0x0004u << 16, 0x7777u << 16};

TEST(RecordPipelineTest, DocumentsOfTheRepository) {
  const fs::path data(TAGVERT_TEST_DATA_DIR);
  for (const char* folder : {"golden", "roundtrip"}) {
    for (const auto& entry : fs::directory_iterator(data / folder)) {
      if (entry.path().extension() != ".ttx") continue;
      SCOPED_TRACE(entry.path().string());
      const std::vector<std::uint8_t> input = test::ReadFileBytes(entry.path().string());
      for (const std::uint32_t direction : kDirections)
        ExpectSameIf(input, direction);
    }
  }
}

// Pieces of TTX that reach every pass: units at MatchPercent 100 (skipped or reserved blocks)
// and 0, ut placeholders of every type and style, references, code-range characters, no-break
// spaces, white space of every kind, and broken markup.
// clang-format off
constexpr const char* kPieces[] = {
    "<Tu MatchPercent=\"100\">", "<Tu MatchPercent=\"0\">", "<Tu>", "</Tu>", "<Tuv Lang=\"DE-DE\">",
    "<Tuv Lang=\"EN-US\">", "</Tuv>", "<df Font=\"Arial\">", "</df>",
    "<ut Type=\"start\" DisplayText=\"b\">&lt;b&gt;</ut>", "<ut Type=\"end\" DisplayText=\"b\">",
    "</ut>", "<ut DisplayText=\"br\"/>", "<ut Style=\"external\" Type=\"start\">",
    "<ut Style=\"external\" Type=\"end\" DisplayText=\"p\">", "<Raw>", "</Raw>", "<FrontMatter>",
    "</FrontMatter>", "<UserSettings TargetLanguage=\"DE-DE\"/>", "a &amp; b", "&#xE001;", "&#160;",
    "\xC2\xA0", "\xEE\x80\x85", "\xF0\x9F\x98\x80", " ", "\t", "\n", "\r\n", "  x  ", "<", ">",
    "<!-- c -->", "<![CDATA[<x>]]>", "<?pi x?>", "<a b=c/>", "&nbsp;", "&unknown;", "word"};
// clang-format on

TEST(RecordPipelineTest, RandomDocuments) {
  std::mt19937 random(11);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
  for (int round = 0; round < 150; ++round) {
    std::string document = "<TRADOStag><Body>";
    const int pieces = 1 + (round * 13) % 400;
    for (int i = 0; i < pieces; ++i)
      document += kPieces[pick(random)];
    if (round % 3 != 0) document += "</Body></TRADOStag>";
    std::vector<std::uint8_t> input = test::Bytes(document);
    SCOPED_TRACE(document);
    ExpectSameIf(input, kDirections[static_cast<std::size_t>(round) % std::size(kDirections)]);
  }
}

// Enough pairs for the 16-bit ids to wrap several times, so that the partner of a start tag is
// searched among repeated ids.
TEST(RecordPipelineTest, IdsWrapAround) {
  std::string document = "<TRADOStag><Body>";
  for (int i = 0; i < 90000; ++i) {
    document += i % 7 == 0 ? "<Tu MatchPercent=\"100\"><Tuv Lang=\"DE-DE\">x</Tuv></Tu>"
                           : "<ut Type=\"start\" DisplayText=\"b\"/>y<df>";
    if (i % 3 == 0) document += "<ut Type=\"end\" DisplayText=\"b\"/></df>";
  }
  document += "</Body></TRADOStag>";
  ExpectSameIf(test::Bytes(document), 0x0004u << 16);
}

// A skipped unit whose first later element with the same id is, after a wrap of the ids, the
// start of another skipped unit: that start neither takes the first unit's spreading nor starts
// a range of its own, so a Tuv in it keeps its own decision. 61334 unpaired end tags take the
// ids from 102 round to 100.
TEST(RecordPipelineTest, RangeEndingAtAnotherStartTag) {
  std::string document = "<Tu MatchPercent=\"100\">";
  for (int i = 0; i < 61334; ++i)
    document += "</x>";
  document += "<Tu MatchPercent=\"100\"><Tuv Lang=\"EN-US\">b</Tuv></Tu>c</Tu>";
  ExpectSameIf(test::Bytes(document), 0x0004u << 16);
}

// A stop requested after the input was read ends every pass between reading and writing at its
// first record, with E_ABORT.
TEST(RecordPipelineTest, PassesStopAtTheStopFlag) {
  CRules rules;
  rules.LoadStream(OpenBuiltinRulesStream(), false);
  const std::function<void(CElementTable&)> passes[] = {
      [](CElementTable& table) { PairRecords(table); },
      [&](CElementTable& table) { ClassifyRecords(table, &rules); },
      [&](CElementTable& table) {
        // Classified without a stop, then structured with one.
        const std::atomic<bool> stop{true};
        const CRecordIndexVector& next = ClassifyRecords(table, &rules);
        table.SetStopFlag(&stop);
        StructureRecords(table, next);
      },
  };
  for (std::size_t i = 0; i < std::size(passes); ++i) {
    SCOPED_TRACE(i);
    CElementTable table;
    table.Source().Assign(u"<TRADOStag><Tu MatchPercent=\"100\">x</Tu></TRADOStag>");
    ScanElements(table);
    std::atomic<bool> stop{i != 2};
    table.SetStopFlag(&stop);
    try {
      passes[i](table);
      ADD_FAILURE() << "the pass did not stop";
    } catch (const CHResultError& e) {
      EXPECT_EQ(e.Code(), kEAbort);
    }
  }
}

// Cutting the input into records sees a stop too: on a large document it is the longest pass.
TEST(RecordPipelineTest, ScanningStopsAtTheStopFlag) {
  for (const char16_t* input : {u"<TRADOStag>x</TRADOStag>", u"text", u"<<<"}) {
    CElementTable table;
    table.Source().Assign(input);
    const std::atomic<bool> stop{true};
    table.SetStopFlag(&stop);
    try {
      ScanElements(table);
      ADD_FAILURE() << "the scan did not stop";
    } catch (const CHResultError& e) {
      EXPECT_EQ(e.Code(), kEAbort);
    }
    EXPECT_TRUE(table.Records().empty());
  }
}

}  // namespace
}  // namespace tagvert
