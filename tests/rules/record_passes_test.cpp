// Tagvert: tests of the passes over an element table between reading and writing: the
// classification by a rule set (ClassifyRecords, with the target language of CTTXRulesProcessor)
// and the structuring (StructureRecords), on documents cut by the table's own reader.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <sstream>
#include <string>

#include "ifcodec/text_processor.h"
#include "rules/builtin_rules.h"
#include "rules/document_facts.h"
#include "rules/record_classifier.h"
#include "rules/transml_rules.h"
#include "rules/ttx_rules_processor.h"
#include "storage/memory_stream.h"
#include "structure/record_structure.h"
#include "support/test_streams.h"

namespace tagvert {
namespace {

using test::Printable;

void Load(CRules& rules, const std::string& body) {
  const std::string text = "<Orvel-TransML><Rules>" + body;
  ASSERT_TRUE(rules.LoadStream(std::make_shared<CMemoryStream>(text.data(), text.size()), false));
}

// Per record: B block or I inline; T translate, S skip, X remove or V reserve; whitespace P
// preserve, R remove, N normalize or G normalize-significant.
std::string Classes(const CElementTable& table) {
  std::string out;
  for (const CElementRecord& r : table.Records()) {
    out += out.empty() ? "" : " ";
    out += r.GetRuleType() == RuleType::Block ? 'B' : 'I';
    out += "TSLXV?"[std::min(static_cast<int>(r.algorithm), 5)];
    out += "PRN?G?"[std::min(static_cast<int>(r.whitespace), 5)];
  }
  return out;
}

// o or c for a paired start or end tag, O or C for an unpaired one, - otherwise.
char TypeLetter(TagType t) {
  return "-ocCO"[(t == TagType::PairedOpen) + 2 * (t == TagType::PairedClose) +
                 3 * (t == TagType::Close) + 4 * (t == TagType::Open)];
}

// Per record, "|"-separated: a text run as is, markup as its name, type and pair id after the
// [text] of a collapsed block; F for a collapsed block with inner text, ~ and the digit of a kept
// Algorithm, B for block, _ for cut no-break spaces.
std::string Structured(const CElementTable& table) {
  std::ostringstream out;
  for (const CElementRecord& r : table.Records()) {
    out << (out.tellp() > 0 ? "|" : "");
    if (r.IsTag()) {
      const std::u16string_view text = table.Text(r);
      if (std::count(text.begin(), text.end(), u'<') > 1) out << '[' << Printable(text) << ']';
      out << Printable(table.Name(r)) << ' ' << TypeLetter(r.tagType) << r.pairId;
    } else {
      out << Printable(table.Text(r));
    }
    out << ((r.bits & CElementRecord::kRecordFormat) != 0 ? "F" : "");
    if (r.algorithm != Algorithm::Translate) out << '~' << static_cast<int>(r.algorithm);
    out << (r.GetRuleType() == RuleType::Block ? "B" : "")
        << ((r.bits & CElementRecord::kRecordNbsp) != 0 ? "_" : "");
  }
  return out.str();
}

const CRecordIndexVector& Classify(CElementTable& table, std::u16string_view document,
                                   const CRules& rules) {
  table.Source().Assign(document);
  ScanElements(table, true);
  return ClassifyRecords(table, &rules);
}

// The built-in rules with the target language from the high word of Direction.
TEST(ClassifyRecordsTest, BuiltinRulesClassifyTtxDocuments) {
  const struct {
    const char16_t* document;
    std::uint32_t direction;
    const char* classes;
  } cases[] = {
      {u"<?xml version='1.0'?><TRADOStag><FrontMatter><ToolSettings CreationTool='x'> t "
       u"</ToolSettings><UserSettings SourceLanguage='EN-US'></UserSettings></FrontMatter>"
       u"</TRADOStag>",
       0x00040000, "BTP BTP BSP ITP ITP ITP ITP ITP BSP BTP"},
      {u"<Tu MatchPercent='0'></Tu><Tu MatchPercent='100'></Tu><Tu></Tu>", 0x00040000,
       "BTN BTN BSP BSP BTP BTP"},
      {u"<Raw><Tu MatchPercent='0'><Tuv Lang='EN-US'>Hello  <df>x</Tuv><Tuv Lang='DE-DE'>"
       u"Hallo<Tuv Lang='de-de'>x</Tuv></Tuv></Tu></Raw>",
       0x00040001, "BTN BTN BSP ITP ITP ITP BSP BTN ITN BSP ITP BSP BTN BTN BTN"},
      {u"<df><ut Type='start'><Tu MatchPercent='0'>x</Tu></ut><ut/></df>", 0x00040000,
       "ITN ISP ITP ITP ITP ISP ITP ITN"},
  };
  CRules rules;
  ASSERT_TRUE(rules.LoadStream(OpenBuiltinRulesStream(), false));
  for (const auto& c : cases) {
    SCOPED_TRACE(Printable(c.document));
    CTTXRulesProcessor processor;
    processor.InitDirection(c.direction);
    processor.ApplyTargetLanguage(rules);
    CElementTable table;
    Classify(table, c.document, rules);
    EXPECT_EQ(Classes(table), c.classes);
  }
}

TEST(ClassifyRecordsTest, RulesApplyAndSpreadOverPairs) {
  const struct {
    const char* rules;
    const char16_t* document;
    const char* classes;
  } cases[] = {
      // Property is inline, leave is skip, no algorithm is translate, no whitespace keeps it.
      {"<Rule Name='p' Type='Property' Algorithm='Leave'/><Rule Name='n' Type='Inline' "
       "Whitespace='Remove'/><Rule Name='q' Algorithm='Reserve' "
       "Whitespace='NormalizeSignificant'/>",
       u"<p></p><n></n><q></q>", "ISP ISP ITR ITR BVG BVG"},
      {"<Rule Name='keep' Algorithm='Reserve' Whitespace='Remove'/><Rule Name='drop' "
       "Algorithm='Remove'/><Rule Name='b' Type='Block' Algorithm='Remove' "
       "Whitespace='Normalize'/>",
       u"<keep><b>x</b></keep><drop><other>y</other></drop>",
       "BVR ITN ITR ITN BVR BXP IXP IXP IXP BXP"},
      // Nameless rules apply to every element; named ones override them.
      {"<Rule Type='Block' Whitespace='Normalize'/><Rule Type='Inline' Algorithm='Reserve' "
       "Whitespace='Remove'><Attribute-Condition Name='mark' Condition='Exist'/></Rule>"
       "<Rule Name='em' Type='Inline'/>",
       u"<p>t<em></em><span mark=''></span></p>", "BTN BTN ITN ITN IVR IVR BTN"},
      // The first named rule whose conditions all hold wins.
      {"<Rule Name='x' Algorithm='Remove'><Attribute-Condition Name='a' Condition='Equal' "
       "Value='1'/><Attribute-Condition Name='b' Condition='Exist'/></Rule><Rule Name='x' "
       "Algorithm='Reserve' Whitespace='Remove'/><Rule Name='x' Algorithm='Skip'/>",
       u"<x a='1' b=''></x><x a='1'></x>", "BXP BXP BVR BVR"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rules);
    CRules rules;
    Load(rules, c.rules);
    CElementTable table;
    Classify(table, c.document, rules);
    EXPECT_EQ(Classes(table), c.classes);
  }
}

// Every condition kind against an attribute's value; a missing attribute has the empty value,
// a name compares in any case unless the rule asks for its exact case.
TEST(ClassifyRecordsTest, ConditionsCompareAttributeValues) {
  const struct {
    const char* condition;
    bool holds;
  } cases[] = {
      {"Name='CLASS' Condition='Equal' Value='note big'", true},
      {"Name='class' Condition='Equal' Value='NOTE BIG'", false},
      {"Name='missing' Condition='NotEqual' Value=''", false},
      {"Name='empty' Condition='Exist'", true},
      {"Name='empty' Condition='NotExist'", false},
      {"Name='missing' Condition='NotExist'", true},
      {"Name='class' Condition='Contain' Value='big'", true},
      {"Name='class' Condition='NotContain' Value='Big'", true},
      {"Name='class' Condition='NotContain' Value='big'", false},
      {"Name='class' NameCaseSensitive='true' Condition='Equal' Value='second'", true},
      {"Name='CLASS' NameCaseSensitive='true' Condition='Exist'", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.condition);
    CRules rules;
    Load(rules, std::string("<Rule Name='x' Algorithm='Remove'><Attribute-Condition ") +
                    c.condition + "/></Rule>");
    CElementTable table;
    Classify(table, u"<x Class='note big' class='second' empty=''/>", rules);
    EXPECT_EQ(Classes(table), c.holds ? "BXP" : "ITP");
  }
}

// The outcome of a tested tag is remembered by its text, in slots chosen by a few of its bytes:
// tags whose texts differ only elsewhere (here in the tested value) share a slot, and each is
// classified by its own attributes.
TEST(ClassifyRecordsTest, TagsSharingAnOutcomeSlotKeepTheirOwnOutcome) {
  CRules rules;
  Load(rules,
       "<Rule Name='x' Algorithm='Remove'><Attribute-Condition Name='v' "
       "Condition='Equal' Value='1'/></Rule>");
  CElementTable table;
  Classify(table,
           u"<x a=\"aa\" v=\"1\" b=\"bbbbbbbbbbbbbbbbbbbb\"/>"
           u"<x a=\"aa\" v=\"2\" b=\"bbbbbbbbbbbbbbbbbbbb\"/>"
           u"<x a=\"aa\" v=\"1\" b=\"bbbbbbbbbbbbbbbbbbbb\"/>",
           rules);
  EXPECT_EQ(Classes(table), "BXP ITP BXP");
}

// Element names s, r and v skip, remove and reserve; n, m and g normalize, remove and
// normalize-significant the whitespace of the text runs they enclose; p has no rule. Then ut
// placeholders take their names, types and block marks from their attributes and are paired.
TEST(StructureRecordsTest, StructuresClassifiedDocuments) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"<s> Hello\r\n   world &amp; more</s>after<s></s><s> \r\n </s>",
       "[<s> Hello\\u000D\\u000A   world &amp; more</s>]s -0FB|after|[<s></s>]s -0B|[<s> "
       "\\u000D\\u000A </s>]s -0FB"},
      {u"<s><s>a</s>\n <p>b</p></s>x", "[<s><s>a</s>\\u000A <p>b</p></s>]s -0FB|x"},
      // A skipped block holding a start tag whose end lies beyond it.
      {u"<s><n></s> a\n b</n>", "[<s><n></s>]s -0FB| a b|n c102B"},
      {u"<r>a</r><v>b</v><p>c</p>",
       "r o104~3B|a~3|r c104~3B|v o105~4B|b|v c105~4B|p o106|c|p c106"},
      {u"<n>a&#10;\r\n  b&amp;amp;\t</n><n> \n </n><m>a\n\nb</m><g> \n </g><g>x\n\ny</g> a\n b<m> "
       u"\n </m>",
       "n o107B|a\\u000A b&amp; |n c107B|n o108B||n c108B|m o109B|a\\u000A\\u000Ab|m c109B|g "
       "o110B| \\u000A |g c110B|g o111B|x y|g c111B| a\\u000A b|m o112B||m c112B"},
      {u"a\u00A0b<p t=\"\u00A0\"/>\u00A0lead<p/>end&nbsp;<p/>\u00A0\u00A0x&",
       "a\\u00A0 b_|p -0|\\u00A0 lead_|p -0|end\\u00A0 _|p -0|\\u00A0 \\u00A0 x&_"},
      {u"<ut Type='start' DisplayText='b'/>bold<ut Type='start' DisplayText='i'/>"
       u"<ut Type='end' DisplayText='i'/><ut Type='end' DisplayText='b'/>"
       u"<ut Type='start' DisplayText='b'/><ut Type='end' DisplayText='u'/>",
       "b o101|bold|i o102|i c102|b c101|b O103|u C104"},
      {u"<ut Type='start'/><ut Type='end' displaytext='x'/><ut Type='Start'><ut Type='END'/>"
       u"<ut Type=''/><ut type='start'/><ut Type='end' Type='start'/>",
       "ut o102|ut c102|ut -0|ut -0|ut -0|ut -0|ut C103"},
      {u"<ut Style='external'/><ut Style='External'/><ut style='external'/><Ut Type='start'/>"
       u"<UT Type='start' DisplayText='b' Style='external'/><ut DisplayText='\u00F1a-x1'/>",
       "ut -0B|ut -0|ut -0|Ut -0|UT -0|\\u00F1a-x1 -0"},
      {u"<Raw><df><ut Type='start' DisplayText='b'/></df><ut Type='end' DisplayText='b'/></Raw>",
       "Raw o103|df o104|b o105|df c104|b c105|Raw c103"},
  };
  CRules rules;
  Load(rules,
       "<Rule Name='s' Algorithm='Skip'/><Rule Name='r' Algorithm='Remove'/>"
       "<Rule Name='v' Algorithm='Reserve'/><Rule Name='n' Whitespace='Normalize'/>"
       "<Rule Name='m' Whitespace='Remove'/><Rule Name='g' Whitespace='NormalizeSignificant'/>");
  for (const auto& [document, structured] : cases) {
    SCOPED_TRACE(Printable(document));
    CElementTable table;
    StructureRecords(table, Classify(table, document, rules));
    EXPECT_EQ(Structured(table), structured);
  }
}

// The structuring looks for a text's references, no-break spaces and line breaks a vector step
// at a time, up to the end of the buffer and past the text's end where the buffer goes on: such a
// unit is found at every place of the text, in a narrow and a wide source, with the text at the
// end of the buffer or not.
TEST(StructureRecordsTest, TextScanFindsUnitsAtEveryPlace) {
  CRules rules;
  Load(rules, "<Rule Name='n' Whitespace='Normalize'/>");
  const std::pair<std::u16string_view, std::u16string_view> pieces[] = {
      {u"&amp;", u"&"}, {u"\u00A0", u"\u00A0 "}, {u"\n", u" "}};
  for (const bool narrow : {true, false}) {
    for (const std::u16string_view after : {std::u16string_view{}, std::u16string_view{u"<p/>"}}) {
      for (std::size_t length = 0; length <= 34; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {
          for (const auto& [piece, decoded] : pieces) {
            const std::u16string before(at, u'a');
            const std::u16string rest(length - at, u'a');
            const std::u16string document =
                u"<n>" + before + std::u16string(piece) + rest + u"</n>" + std::u16string(after);
            SCOPED_TRACE(Printable(document) + (narrow ? " narrow" : " wide"));
            CElementTable table;
            if (narrow) table.Source().SetNarrow();
            StructureRecords(table, Classify(table, document, rules));
            ASSERT_GE(table.Records().size(), 3U);
            const CElementRecord& text = table.Records()[1];
            // A line break alone is white space only, which the mode empties.
            const std::u16string expected =
                length == 0 && piece == u"\n" ? u"" : before + std::u16string(decoded) + rest;
            EXPECT_EQ(Printable(table.Text(text)), Printable(expected));
            EXPECT_EQ((text.bits & CElementRecord::kRecordNbsp) != 0, piece == u"\u00A0");
          }
        }
      }
    }
  }
}

// A text whose references are all to the markup's own characters is decoded on a short path of
// its own: it gives what the full decoder gives, with several references and no-break spaces at
// every place of a vector step, other and cut references among them, in a narrow and a wide
// source, with the text at the end of the buffer or not.
TEST(StructureRecordsTest, ShortDecodingGivesWhatTheDecoderGives) {
  CRules rules;
  Load(rules, "<Rule Name='n' Whitespace='Normalize'/>");
  const std::u16string_view pieces[] = {u"&amp;",  u"&lt;", u"&gt;", u"&quot;", u"&apos;",
                                        u"\u00A0", u"&am;", u"&apo", u"&ampx",  u"&#38;",
                                        u"&nbsp;", u"&",    u"&l",   u"\u00E9"};
  for (const bool narrow : {true, false}) {
    for (std::size_t filler = 0; filler < 20; ++filler) {
      for (const std::u16string_view first : pieces) {
        for (const std::u16string_view second : pieces) {
          const std::u16string text = std::u16string(filler, u'a') + std::u16string(first) + u"b" +
                                      std::u16string(second) + std::u16string(filler % 7, u'c');
          const std::u16string document =
              filler % 2 == 0 ? u"<p/>" + text : u"<p>" + text + u"</p>";
          SCOPED_TRACE(Printable(document) + (narrow ? " narrow" : " wide"));
          CElementTable table;
          if (narrow) table.Source().SetNarrow();
          StructureRecords(table, Classify(table, document, rules));
          ASSERT_GE(table.Records().size(), 2U);
          std::u16string decoded;
          const bool nbsp = CTextProcessor::AppendDecoded(text, decoded, true);
          const CElementRecord& record = table.Records()[1];
          ASSERT_EQ(Printable(table.Text(record)), Printable(decoded));
          ASSERT_EQ((record.bits & CElementRecord::kRecordNbsp) != 0, nbsp);
        }
      }
    }
  }
}

// The scan that pairs links the records of one id and finds whether the pairs nest, which the
// classification takes instead of its own walks: the same next records for every paired start
// tag, and the same records after the classification and the structuring, with pairs that nest
// or cross, inside skipped blocks or around them, and ids that come round. The classification
// and the structuring in one walk (ClassifyAndStructureRecords) give the same records as well.
TEST(ClassifyRecordsTest, LinksOfTheScanGiveWhatTheWalksGive) {
  // More start tags than a round of ids, in a skipped block whose id comes again at a start tag
  // of a rule's name.
  std::u16string units;
  for (int i = 0; i < 22000; ++i)
    units += u"<u><s><n>x</n></s>";
  const std::u16string documents[] = {
      u"<s><n></s> a\n b</n>",
      u"<n><s><a><b></a></b>x</s></n><s><p>a</p><q></s></q>",
      u"<s><s></s><n></s></n><b><s><a>t</a></b></s><s>",
      u"<s>a</s>x<n> \n </n><r><s>x</s>y</r><v>a<s>b</s></v>y\u00A0z",
      u"<Raw><df><ut Type='start' DisplayText='b'/></df>a&amp;b<ut Type='end' "
      u"DisplayText='b'/></Raw>",
      u"<Body><s>" + units + u"</s><n><a>z</a></n></Body>",
      u"<Body><s>" + units + u"<s><a></s>y</a></s><n><a>z</a></n></Body>",
      u"<Body>" + units + u"<s><a></s>y</a></s><n><a>z</a></n></Body>",
  };
  CRules rules;
  Load(rules,
       "<Rule Name='s' Algorithm='Skip'/><Rule Name='n' Whitespace='Normalize'/>"
       "<Rule Name='r' Algorithm='Remove'/><Rule Name='v' Algorithm='Reserve'/>");
  for (const std::u16string& document : documents) {
    CElementTable linked, walked, oneWalk;
    for (CElementTable* table : {&linked, &walked, &oneWalk}) {
      table->Source().Assign(document);
      ScanElements(*table, true);
    }
    EXPECT_TRUE(linked.NextBySameIdReady());
    // The classification then walks for itself.
    walked.NextBySameIdReady() = false;
    walked.PairsNest() = false;
    const CRecordIndexVector& linkedNext = ClassifyRecords(linked, &rules);
    const CRecordIndexVector& walkedNext = ClassifyRecords(walked, &rules);
    ASSERT_EQ(linked.Records().size(), walked.Records().size());
    for (std::size_t i = 0; i < linked.Records().size(); ++i) {
      if (linked.Records()[i].tagType == TagType::PairedOpen) {
        ASSERT_EQ(linkedNext[i], walkedNext[i]) << i;
      }
    }
    EXPECT_TRUE(Classes(linked) == Classes(walked));
    StructureRecords(linked, linkedNext);
    StructureRecords(walked, walkedNext);
    EXPECT_TRUE(Structured(linked) == Structured(walked));
    ClassifyAndStructureRecords(oneWalk, &rules);
    EXPECT_TRUE(Structured(oneWalk) == Structured(linked));
    EXPECT_TRUE(Classes(oneWalk) == Classes(linked));
  }
}

// A table of more records than there are pair ids takes the second pairing's path for large
// tables, where ids come round: every unit of a repeated one is typed as the unit alone is, and
// each start tag shares its id with the end tag of the same place in its unit.
TEST(StructureRecordsTest, LargeTablesPairAsTheirUnitsAlone) {
  const std::u16string unit =
      u"<Raw><df>a<ut Type='start' DisplayText='b'/>c<ut Type='end' DisplayText='b'/></df>x</Raw>";
  CRules rules;
  ASSERT_TRUE(rules.LoadStream(OpenBuiltinRulesStream(), false));
  CElementTable one, many;
  StructureRecords(one, Classify(one, unit, rules));
  // Enclosed in a pair whose id stays open while the ids come round.
  std::u16string document = u"<Body>";
  for (int i = 0; i < 9000; ++i)
    document += unit;
  StructureRecords(many, Classify(many, document + u"</Body>", rules));
  const auto& records = many.Records();
  const std::size_t size = one.Records().size();
  ASSERT_EQ(records.size(), 9000 * size + 2);
  ASSERT_GT(records.size(), std::size_t{0x10000});
  EXPECT_TRUE(records.front().tagType == TagType::PairedOpen &&
              records.back().tagType == TagType::PairedClose);
  EXPECT_EQ(records.front().pairId, records.back().pairId);
  for (std::size_t k = 0; k + 2 < records.size(); ++k) {
    const CElementRecord& record = records[k + 1];
    const std::size_t base = k - k % size + 1;
    ASSERT_EQ(record.tagType, one.Records()[k % size].tagType) << k;
    for (std::size_t j = 0; j < size && record.tagType == TagType::PairedOpen; ++j) {
      if (j != k % size && one.Records()[j].pairId == one.Records()[k % size].pairId) {
        ASSERT_EQ(records[base + j].pairId, record.pairId) << k;
      }
    }
  }
}

// A stop ends every pass at its first record, with E_ABORT: the cutting of the input into records
// (on a large document the longest pass) and each pass between reading and writing.
TEST(RecordPassesTest, PassesStopAtTheStopFlag) {
  CRules rules;
  rules.LoadStream(OpenBuiltinRulesStream(), false);
  const std::function<void(CElementTable&)> passes[] = {
      [](CElementTable& table) { ScanElements(table); },
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
  const char16_t* const inputs[] = {u"<TRADOStag><Tu MatchPercent=\"100\">x</Tu></TRADOStag>",
                                    u"text", u"<<<"};
  for (std::size_t i = 0; i < std::size(passes); ++i) {
    // The scan on every input; the passes after it on the document.
    for (const char16_t* input : std::span(inputs, i == 0 ? 3 : 1)) {
      SCOPED_TRACE(testing::Message() << "pass " << i << ", " << Printable(input));
      CElementTable table;
      table.Source().Assign(input);
      if (i != 0) ScanElements(table);
      std::atomic<bool> stop{i != 3};
      table.SetStopFlag(&stop);
      try {
        passes[i](table);
        ADD_FAILURE() << "the pass did not stop";
      } catch (const CHResultError& e) {
        EXPECT_EQ(e.Code(), kEAbort);
      }
      EXPECT_TRUE(i != 0 || table.Records().empty());
    }
  }
}

// The facts of `document`, cut into a table of its own.
CDocumentFacts FactsOf(const std::u16string& document, const FactsSettled& settled = {}) {
  CElementTable table;
  table.Source().Assign(document);
  ScanElements(table, true);
  return ReadDocumentFacts(table, settled);
}

// The facts' walk looks at the records four at a time and at the last few one by one: the unit
// and language tags count at every place in a group and in the rest.
TEST(DocumentFactsTest, TagsCountAtEveryPlaceOfTheWalk) {
  for (std::size_t before = 0; before < 8; ++before) {
    SCOPED_TRACE(before);
    std::u16string document;
    for (std::size_t i = 0; i < before; ++i)
      document += u"<b/>";
    document += u"<Tu MatchPercent=\"5\"><Tuv Lang=\"x\">y";
    const CDocumentFacts facts = FactsOf(document);
    EXPECT_EQ(facts.units, 1U);
    EXPECT_EQ(facts.matchedUnits, 1U);
    EXPECT_EQ(facts.tuvLanguages, std::vector<std::u16string>{u"x"});
  }
}

// Once the languages settle, the rest of the walk counts only the units, four records a step
// and the last few one by one: it resumes right after the record that settled them, wherever
// that stands in its group, and finds the Tu tags of every spelling of the name.
TEST(DocumentFactsTest, UnitsCountedToTheEndAfterTheLanguagesSettle) {
  for (const bool oneSpelling : {true, false}) {
    for (std::size_t before = 0; before < 8; ++before) {
      for (std::size_t after = 0; after < 5; ++after) {
        SCOPED_TRACE(testing::Message() << oneSpelling << " " << before << " " << after);
        std::u16string document = u"<UserSettings TargetLanguage=\"x\"/>";
        for (std::size_t i = 0; i < before; ++i)
          document += u"<b/>";
        // The first Tuv settles the facts; the Tu right after it shares its group.
        document += u"<Tu MatchPercent=\"5\"><Tuv Lang=\"a\"><Tu MatchPercent=\"7\"/>";
        document += oneSpelling ? u"<Tu MatchPercent=\"0\"><Tuv Lang=\"b\"></Tuv></Tu>"
                                : u"<tu MatchPercent=\"0\"><Tuv Lang=\"b\"></Tuv></tu>";
        for (std::size_t i = 0; i < after; ++i)
          document += u"<b/>";
        document += oneSpelling ? u"<Tu MatchPercent=\"9\">" : u"<TU MatchPercent=\"9\">";
        const CDocumentFacts whole = FactsOf(document);
        EXPECT_EQ(whole.units, 4U);
        EXPECT_EQ(whole.matchedUnits, 3U);
        FactsSettled settled;
        settled.languages = [](const CDocumentFacts& facts) { return !facts.tuvLanguages.empty(); };
        settled.allUnits = true;
        const CDocumentFacts facts = FactsOf(document, settled);
        EXPECT_EQ(facts.units, whole.units);
        EXPECT_EQ(facts.matchedUnits, whole.matchedUnits);
        EXPECT_EQ(facts.tuvLanguages, std::vector<std::u16string>{u"a"});
        settled.allUnits = false;
        EXPECT_EQ(FactsOf(document, settled).units, 1U);
      }
    }
  }
}

}  // namespace
}  // namespace tagvert
