// Tagvert: the XLIFF bridge: untouched XLIFF merges to the bytes of the IF round trip, tag
// damage is named, XLIFF from elsewhere is refused.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "frame/ttx_converter.h"
#include "storage/language_table.h"
#include "storage/memory_stream.h"
#include "support/xliff_feed.h"
#include "tagvert/xliff.h"
#include "xliff/xliff_bridge.h"
#include "xliff/xliff_skeleton.h"
#include "xliff/xliff_text.h"

namespace tagvert {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes Convert(bool toIF, const Bytes& input, std::int32_t direction) {
  CTagvertConverter converter;
  converter.SetLanguageMatch(LanguageMatch::Language);
  converter.SetReadUtf16WithoutMark(true);
  converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(direction));
  auto out = std::make_shared<CMemoryStream>();
  const CEndpoint source = CEndpoint::Stream(std::make_shared<CMemoryStream>(input));
  EXPECT_EQ(toIF ? converter.ConvertToIF(source, CEndpoint::Stream(out))
                 : converter.ConvertFromIF(source, CEndpoint::Stream(out)),
            kSOk);
  return out->Bytes();
}

// The Direction that to-if chooses: the document's target language when the table has it.
std::int32_t DocumentDirection(const Bytes& ttx) {
  const Bytes ifBytes = Convert(true, ttx, 0);
  std::u16string units(ifBytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(ifBytes[2 * i] | (ifBytes[2 * i + 1] << 8));
  std::u16string source, target;
  xliff::FrontMatterLanguages(units, source, target);
  const auto code = LanguageCodeOfTag(target);
  return code ? static_cast<std::int32_t>(static_cast<std::uint32_t>(*code) << 16) : 0;
}

std::string ToXliff(const Bytes& ttx, XliffVersion version, std::int32_t direction,
                    bool copySource = false) {
  CXliffWriteOptions options;
  options.version = version;
  options.direction = direction;
  options.copySource = copySource;
  auto out = std::make_shared<CMemoryStream>();
  CXliffReport report;
  EXPECT_EQ(ConvertToXliff(CEndpoint::Stream(std::make_shared<CMemoryStream>(ttx)),
                           CEndpoint::Stream(out), options, report),
            kSOk)
      << report.error;
  return std::string(out->Bytes().begin(), out->Bytes().end());
}

struct CMerged {
  HResult hr;
  Bytes ttx;
  CXliffReport report;
};

CMerged FromXliff(const std::string& xml, bool strict = false) {
  CXliffReadOptions options;
  options.strict = strict;
  options.name = "'t.xlf'";
  auto out = std::make_shared<CMemoryStream>();
  CMerged merged;
  merged.hr =
      ConvertFromXliff(CEndpoint::Stream(std::make_shared<CMemoryStream>(xml.data(), xml.size())),
                       CEndpoint::Stream(out), options, merged.report);
  merged.ttx = out->Bytes();
  return merged;
}

// Untouched XLIFF, and XLIFF whose targets copy their sources, give the bytes of TTX -> IF ->
// TTX, for every real and test document, in both versions.
TEST(XliffTest, UntouchedMergeIsTheIfRoundTrip) {
  std::vector<std::filesystem::path> documents;
  for (const char* folder :
       {TAGVERT_SAMPLES_DIR, TAGVERT_TEST_DATA_DIR "/roundtrip", TAGVERT_TEST_DATA_DIR "/golden"}) {
    if (!std::filesystem::is_directory(folder)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      if (entry.path().extension() == ".ttx") documents.push_back(entry.path());
    }
  }
  ASSERT_GE(documents.size(), 6u);
  for (const auto& path : documents) {
    const Bytes ttx = ReadFile(path);
    // The document's target language, and none (every Tuv untranslated; some documents then
    // offer no unit at all).
    for (const std::int32_t direction : {DocumentDirection(ttx), 0}) {
      const Bytes expected = Convert(false, Convert(true, ttx, direction), direction);
      for (const XliffVersion version : {XliffVersion::V1_2, XliffVersion::V2_0}) {
        for (const bool copySource : {false, true}) {
          const CMerged merged = FromXliff(ToXliff(ttx, version, direction, copySource), true);
          EXPECT_EQ(merged.hr, kSOk) << path << merged.report.error;
          EXPECT_TRUE(merged.ttx == expected)
              << path << (version == XliffVersion::V1_2 ? " 1.2" : " 2.0") << " copy " << copySource
              << " direction " << direction;
        }
      }
    }
  }
}

// A paragraph with nested pairs and a placeholder, and a second one of text alone.
const char kDocument[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><TRADOStag Version=\"2.0\"><FrontMatter>"
    "<UserSettings SourceLanguage=\"EN-US\" TargetLanguage=\"DE-DE\"/></FrontMatter><Body><Raw>"
    "<ut Type=\"start\" Style=\"external\" DisplayText=\"p\">&lt;p&gt;</ut>Hello <df "
    "Bold=\"on\">bold <df Italic=\"on\">both</df></df> and<ut DisplayText=\"br\">&lt;br/&gt;</ut> "
    "more.<ut Type=\"end\" Style=\"external\" DisplayText=\"p\">&lt;/p&gt;</ut><ut Type=\"start\" "
    "Style=\"external\" DisplayText=\"p\">&lt;p&gt;</ut>Second.<ut Type=\"end\" "
    "Style=\"external\" DisplayText=\"p\">&lt;/p&gt;</ut></Raw></Body></TRADOStag>";

Bytes Document() {
  return Bytes(std::begin(kDocument), std::end(kDocument) - 1);
}

// `xml` with the first `from` replaced by `to`.
std::string Replaced(std::string xml, const std::string& from, const std::string& to) {
  const std::size_t at = xml.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) xml.replace(at, from.size(), to);
  return xml;
}

// The source of unit 1 in each version's copy, and its pieces.
const char kSource12[] =
    "Hello <bpt id=\"1\">&lt;df Bold=\"on\"&gt;</bpt>bold <bpt id=\"2\">&lt;df "
    "Italic=\"on\"&gt;</bpt>both<ept id=\"2\">&lt;/df&gt;</ept><ept id=\"1\">&lt;/df&gt;</ept> "
    "and<ph id=\"3\">&lt;br/&gt;</ph> more.";

TEST(XliffTest, TargetsReplaceTextAndDamageIsNamed) {
  const std::string b1 = "<bpt id=\"1\">&lt;df Bold=\"on\"&gt;</bpt>";
  const std::string b2 = "<bpt id=\"2\">&lt;df Italic=\"on\"&gt;</bpt>";
  const std::string e2 = "<ept id=\"2\">&lt;/df&gt;</ept>";
  const std::string e1 = "<ept id=\"1\">&lt;/df&gt;</ept>";
  const std::string ph = "<ph id=\"3\">&lt;br/&gt;</ph>";
  struct CCase {
    const char* what;
    std::string target;  // unit 1's target
    const char* damage;  // what the warning says; nullptr for none
    const char* text;    // the merged TTX holds this
  };
  const CCase cases[] = {
      {"codes moved", "Hallo " + ph + b1 + "fett " + b2 + "beides" + e2 + e1 + " mehr.", nullptr,
       "Hallo <ut DisplayText=\"br\">&lt;br/&gt;</ut><df Bold=\"on\">fett <df Italic=\"on\">"
       "beides</df></df> mehr."},
      {"standalone dropped", "Hallo " + b1 + "fett " + b2 + "beides" + e2 + e1 + " mehr.",
       "was dropped", "</df></df> mehr."},
      {"missing", "Hallo " + b1 + "fett " + b2 + "beides" + e1 + ph + " mehr.",
       "unit 1: code <ept id=\"2\"> (</df>) is missing",
       "beides</df><ut DisplayText=\"br\">"
       "&lt;br/&gt;</ut> mehr.</df>"},
      {"doubled", "Hallo " + b1 + "fett " + b2 + "beides" + e2 + e2 + e1 + ph + " mehr.",
       "unit 1: code <ept id=\"2\"> (</df>) is doubled", "beides</df></df><ut"},
      {"unknown", "Hallo " + b1 + "<ph id=\"9\">?</ph>fett " + b2 + "beides" + e2 + e1 + ph,
       "unit 1: code <ph id=\"9\"> is unknown", "Hallo <df Bold=\"on\">fett"},
      {"end before start", "Hallo " + e1 + "fett " + b2 + "beides" + e2 + b1 + ph,
       "unit 1: code <ept id=\"1\"> (</df>) comes before its start", "Hallo </df>fett"},
      {"crossed", "Hallo " + b1 + "fett " + b2 + "beides" + e1 + e2 + ph,
       "(<df Bold=\"on\">) and its end no longer nest", "beides</df></df>"},
  };
  const std::string xliff = ToXliff(Document(), XliffVersion::V1_2, 0x00070000, true);
  for (const CCase& c : cases) {
    const std::string edited = Replaced(xliff, std::string("<target>") + kSource12 + "</target>",
                                        "<target>" + c.target + "</target>");
    const CMerged merged = FromXliff(edited);
    ASSERT_EQ(merged.hr, kSOk) << c.what << merged.report.error;
    const std::string ttx(merged.ttx.begin(), merged.ttx.end());
    EXPECT_NE(ttx.find(c.text), std::string::npos) << c.what << "\n" << ttx;
    std::string said;
    for (const std::string& warning : merged.report.warnings)
      said += warning + "\n";
    if (c.damage == nullptr) {
      EXPECT_EQ(said, "") << c.what;
    } else {
      EXPECT_NE(said.find(c.damage), std::string::npos) << c.what << ": " << said;
    }
    // Strict: damage is an error without output; a dropped standalone code stays a warning.
    const bool damage = c.damage != nullptr && std::string(c.damage) != "was dropped";
    const CMerged strict = FromXliff(edited, true);
    EXPECT_EQ(strict.hr, damage ? kEXliffTagDamage : kSOk) << c.what;
    EXPECT_EQ(strict.ttx.empty(), damage) << c.what;
  }
}

// 2.0: pairs come as <pc>; targets with annotations inside them merge.
TEST(XliffTest, Version2TargetsMerge) {
  std::string xliff = ToXliff(Document(), XliffVersion::V2_0, 0x00070000);
  const std::size_t begin = xliff.find("<source>Hello");
  const std::size_t end = xliff.find("</source>", begin) + 9;
  std::string target = Replaced(xliff.substr(begin, end - begin), ">both</pc>",
                                "><mrk id=\"m1\" translate=\"no\">beides</mrk></pc>");
  target = Replaced(Replaced(target, "<source>", "<target>"), "</source>", "</target>");
  xliff.insert(end, target);
  const std::string second = "<source>Second.</source>";
  const CMerged merged = FromXliff(Replaced(xliff, second, second + "<target>Zweiter.</target>"));
  ASSERT_EQ(merged.hr, kSOk) << merged.report.error;
  EXPECT_EQ(merged.report.translated, 2u);
  const std::string ttx(merged.ttx.begin(), merged.ttx.end());
  for (const char* text : {"<df Italic=\"on\">beides</df>", "&lt;p&gt;</ut>Zweiter.<ut"})
    EXPECT_NE(ttx.find(text), std::string::npos) << ttx;
}

// 2.0: a unit cut into segments merges their targets in order, a segment without a target
// giving its source, whichever segments have one.
TEST(XliffTest, Version2SegmentsWithAndWithoutTargetsMerge) {
  const std::string xliff = ToXliff(Document(), XliffVersion::V2_0, 0x00070000);
  const std::string unit = "<segment><source>Second.</source></segment>";
  ASSERT_NE(xliff.find(unit), std::string::npos);
  const auto segment = [](const std::string& source, const std::string& target) {
    return "<segment><source>" + source + "</source>" +
           (target.empty() ? "" : "<target>" + target + "</target>") + "</segment>";
  };
  const struct {
    std::string segments;
    const char* text;
  } cases[] = {
      {segment("Sec", "SEC") + segment("ond.", ""), "SECond."},
      {segment("Sec", "") + segment("ond.", "OND."), "SecOND."},
      {segment("Se", "") + segment("co", "CO") + segment("nd.", ""), "SeCOnd."},
  };
  for (const auto& c : cases) {
    const CMerged merged = FromXliff(Replaced(xliff, unit, c.segments));
    ASSERT_EQ(merged.hr, kSOk) << merged.report.error;
    EXPECT_EQ(merged.report.translated, 1u) << c.text;
    const std::string ttx(merged.ttx.begin(), merged.ttx.end());
    EXPECT_NE(ttx.find(c.text), std::string::npos) << c.text << "\n" << ttx;
  }
}

// The writer is fed the IF as the conversion writes it, cut anywhere: a unit at a time (group
// data, surrogate pairs and the front matter's tag split), and in odd pieces over an IF long
// enough for the writer to let go of what it has written.
TEST(XliffTest, WriterFedInAnyPiecesWritesTheSameXliff) {
  const std::string xml(kDocument);
  const std::size_t raw = xml.find("<Raw>") + 5, rawEnd = xml.find("</Raw>");
  std::string body;
  for (int k = 0; k < 600; ++k)
    body += Replaced(xml.substr(raw, rawEnd - raw), "Hello", "H\xF0\x9F\x98\x80llo");
  const std::string ttx = xml.substr(0, raw) + body + xml.substr(rawEnd);
  const Bytes ifBytes = Convert(true, Bytes(ttx.begin(), ttx.end()), 0);
  std::u16string units(ifBytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(ifBytes[2 * i] | (ifBytes[2 * i + 1] << 8));
  ASSERT_GT(units.size(), std::size_t{1} << 17);
  for (const XliffVersion version : {XliffVersion::V1_2, XliffVersion::V2_0}) {
    // With `room`, each piece is read where it lies with that many units before it for what
    // the writer keeps (too few, and the writer copies the piece).
    // A first piece of `first` units, when given, comes before the others.
    auto write = [&](const std::u16string& in, std::size_t piece, std::size_t room = 0,
                     std::size_t first = 0) {
      CXliffWriteOptions options;
      options.version = version;
      options.copySource = true;
      xliff::CXliffWriter writer(options);
      test::FeedInPieces(writer, in, piece, room, first);
      std::u16string source, target;
      writer.End(source, target);
      xliff::CXliffHeader header;
      header.sourceLanguage.assign(source.begin(), source.end());
      header.targetLanguage.assign(target.begin(), target.end());
      std::string out;
      writer.Write(header, [&out](std::string_view text) { out += text; });
      return out;
    };
    const std::string whole = write(units, units.size());
    EXPECT_NE(whole.find("=\"EN-US\""), std::string::npos);
    EXPECT_NE(whole.find("=\"DE-DE\""), std::string::npos);
    EXPECT_EQ(write(units, 1), whole);
    EXPECT_EQ(write(units, 4099), whole);
    EXPECT_EQ(write(units, 1, 64), whole);
    EXPECT_EQ(write(units, 4099, 64), whole);
    EXPECT_EQ(write(units, 70001, std::size_t{1} << 16), whole);
    EXPECT_EQ(write(units, units.size(), 1), whole);
    // A piece read in place is taken in slices of 32 Ki units, none of which may end between
    // the halves of a surrogate pair: after a first piece cut so that one would.
    std::size_t high = std::size_t{1} << 15;
    while (high < units.size() && (units[high] < 0xD800 || units[high] > 0xDBFF))
      ++high;
    ASSERT_LT(high, units.size());
    EXPECT_EQ(write(units, units.size(), std::size_t{1} << 16, high + 1 - (std::size_t{1} << 15)),
              whole);
    // A code that holds no tag group (a flag alone) shows nothing, however much of the IF
    // before it the writer has let go of.
    const std::u16string flag =
        u"\uE405\uE805\u0001<Tu>\uE000Hello \uE401 world\uE405\uE805\u0002</Tu>\uE000";
    EXPECT_EQ(write(flag, 4, 64), write(flag, flag.size()));
  }
}

// Skeleton blocks that another thread compresses while the writer goes on come out as the
// writer's own, in order: an IF of some megabytes (many blocks a stream), helped and not.
TEST(XliffTest, SkeletonBlocksCompressedByAHelperAreTheWritersOwn) {
  const std::string xml(kDocument);
  const Bytes ifBytes = Convert(true, Bytes(xml.begin(), xml.end()), 0);
  std::u16string once(ifBytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < once.size(); ++i)
    once[i] = static_cast<char16_t>(ifBytes[2 * i] | (ifBytes[2 * i + 1] << 8));
  std::u16string units;
  while (units.size() < (std::size_t{3} << 20))
    units += once;
  auto write = [&](bool helped) {
    xliff::CXliffWriter writer(CXliffWriteOptions{});
    std::mutex mutex;
    std::condition_variable waiting;
    bool ended = false;
    std::thread helper;
    if (helped) {
      writer.SetPackHelper(1, [&] {
        { const std::lock_guard lock(mutex); }
        waiting.notify_one();
      });
      helper = std::thread([&] {
        std::vector<std::uint32_t> table;
        std::unique_lock lock(mutex);
        for (;;) {
          waiting.wait(lock, [&] { return ended || writer.PackWaiting(); });
          if (ended) return;
          lock.unlock();
          writer.HelpPack(table);
          lock.lock();
        }
      });
    }
    test::FeedInPieces(writer, units, 70001, 0);
    if (helped) {
      {
        const std::lock_guard lock(mutex);
        ended = true;
      }
      waiting.notify_one();
      helper.join();
    }
    return test::EndAndWrite(writer, xliff::CXliffHeader{"en", "de", "t"});
  };
  const std::string alone = write(false);
  EXPECT_GT(alone.size(), std::size_t{1} << 20);
  EXPECT_EQ(write(true), alone);
}

TEST(XliffTest, RefusesXliffFromElsewhere) {
  const std::string xliff = ToXliff(Document(), XliffVersion::V1_2, 0x00070000);
  const std::string other = ToXliff(Document(), XliffVersion::V2_0, 0x00070000);
  const std::size_t skeleton = xliff.find("<skl>");
  const std::size_t skeletonEnd = xliff.find("</skl>") + 6;
  // One base64 digit of the compressed skeleton changed.
  std::string damaged = xliff;
  const std::size_t digit = damaged.find('\n', damaged.find("tagvert-if-skeleton-")) + 12;
  damaged[digit] = damaged[digit] == 'A' ? 'B' : 'A';
  struct CCase {
    std::string xml;
    const char* says;
  };
  const CCase cases[] = {
      {xliff.substr(0, xliff.size() - 20), "the XLIFF is not well-formed XML"},
      {Replaced(xliff, "version=\"1.2\"", "version=\"1.1\""),
       "line 2, column 1: the XLIFF is of version '1.1'"},
      {Replaced(other, "version=\"2.0\"", "version=\"2.1\""), "the XLIFF is of version '2.1'"},
      {xliff.substr(0, skeleton) + xliff.substr(skeletonEnd), "no skeleton before its units"},
      {Replaced(xliff, "trans-unit id=\"2\"", "trans-unit id=\"3\""), "unit id '3' is unknown"},
      {Replaced(xliff, "trans-unit id=\"2\"", "trans-unit id=\"1\""), "unit id '1' is doubled"},
      {Replaced(xliff, "Second.", "Third."),
       "do not rebuild the document the skeleton was made from"},
      {Replaced(xliff, "<bpt id=\"1\">", "<bpt id=\"1\"><sub>x</sub>"), nullptr},
      {Replaced(xliff, "tagvert-if-skeleton-2 ", "tagvert-if-skeleton-1 "),
       "the skeleton is of another version (tagvert-if-skeleton-1)"},
      {Replaced(xliff, "tagvert-if-skeleton-2 ", "tagvert-if-skeleton2 "),
       "the skeleton was not written by tagvert"},
      {damaged, "the skeleton is damaged"},
      {"<?xml version=\"1.0\"?><root/>", "the file is not XLIFF (its root element is <root>)"},
  };
  for (const CCase& c : cases) {
    const CMerged merged = FromXliff(c.xml);
    if (c.says == nullptr) {
      EXPECT_EQ(merged.hr, kSOk) << merged.report.error;
      continue;
    }
    EXPECT_EQ(merged.hr, kEXliffRefused) << c.says;
    EXPECT_TRUE(merged.ttx.empty()) << c.says;
    EXPECT_TRUE(merged.report.error.starts_with("'t.xlf', line ")) << merged.report.error;
    EXPECT_NE(merged.report.error.find(c.says), std::string::npos) << merged.report.error;
  }
}

// Letters from U+0080 to U+D7FF are written in runs, apart from the units that need a test: the
// XML must be that of the units one by one, wherever a run starts and ends (ASCII, references,
// surrogates, units XML cannot carry, the end) and however long it is.
// AppendXml's bytes for `s`, unit by unit.
std::string XmlOfEachUnit(const std::u16string& s, bool attribute) {
  std::string expected;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t u = s[i];
    if (!xliff::XmlCarries(s, i)) {
      expected += "U+" + xliff::Hex4(u);
    } else if (u == u'&' || u == u'<' || u == u'>' || (attribute && u == u'"') || u == u'\r' ||
               (attribute && u == u'\t')) {
      expected += u == u'&'    ? "&amp;"
                  : u == u'<'  ? "&lt;"
                  : u == u'>'  ? "&gt;"
                  : u == u'"'  ? "&quot;"
                  : u == u'\r' ? "&#13;"
                               : "&#9;";
    } else if (u >= 0xD800 && u <= 0xDBFF) {
      xliff::AppendUtf8(expected, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (s[++i] - 0xDC00));
    } else {
      xliff::AppendUtf8(expected, u);
    }
  }
  return expected;
}

TEST(XliffTest, XmlTextOfLettersIsThatOfEachUnit) {
  // A pair (U+1F600), a lone low surrogate and U+FFFE among letters of two and three bytes.
  std::u16string s = u"a\u00E9\u4E2D&\u00FC<\u0800\uD7FF";
  s += {char16_t{0xD83D}, char16_t{0xDE00}, u'\u00E0', u'\uFFFE', u'\u00E8', char16_t{0xDC00}};
  s += u"\t\u4E8C\r\u00E9";
  for (int k = 0; k < 700; ++k)
    s += static_cast<char16_t>(k % 3 == 0 ? 0x00E9 : 0x4E00 + k);
  s += u"\"\u00E9";
  const auto shown = [](std::string& out, char16_t unit) { out += "U+" + xliff::Hex4(unit); };
  for (const bool attribute : {false, true}) {
    std::string out;
    xliff::AppendXml(out, s, attribute, shown);
    EXPECT_EQ(out, XmlOfEachUnit(s, attribute)) << attribute;
  }
  // Runs of ASCII of every length up to forty, ended anywhere by a unit that is not plain:
  // the last units of a run are looked at and narrowed by eights and sixteens again.
  const std::u16string ends = u"&>\"\u00E9\t";
  for (std::size_t n = 0; n <= 40; ++n) {
    for (std::size_t at = 0; at <= n; ++at) {
      std::u16string run;
      for (std::size_t k = 0; k < n; ++k)
        run += static_cast<char16_t>(k == at ? ends[(n + at) % ends.size()] : u'a' + k % 26);
      std::string out;
      xliff::AppendXml(out, run, true, shown);
      EXPECT_EQ(out, XmlOfEachUnit(run, true)) << n << ' ' << at;
    }
  }
}

// The skeleton's bytes are those of each unit and each group of three bytes: narrowing looks at
// sixteen or thirty-two units at once, writes a piece's last units from a look at its last
// sixteen and runs of IF codes four bytes a store; base64 takes six bytes a step.
TEST(XliffTest, SkeletonBytesAreThoseOfEachUnit) {
  const char16_t palette[] = {u'a',  u'<',   u'"',   0x7F,   0x80,   0xFC,  0x7FF,
                              0x800, 0xE000, 0xE805, 0xD800, 0xDC00, 0xFFFF};
  std::uint32_t seed = 1;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 400; ++round) {
    // Mostly ASCII, as markup is, with runs of other units now and then.
    std::u16string units;
    const std::size_t size = next() % 90;
    for (std::size_t k = 0; k < size; ++k)
      units += next() % 4 == 0 ? palette[next() % std::size(palette)]
                               : static_cast<char16_t>(u'a' + k % 26);
    std::string expected = "x";
    for (const char16_t c : units) {
      if (c < 0x80) {
        expected += static_cast<char>(c);
      } else {
        const bool two = c < 0x800;
        expected += static_cast<char>(two ? 0xC0 | (c >> 6) : 0xE0 | (c >> 12));
        if (!two) expected += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        expected += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    xliff::CLargeString narrowed = "x";
    xliff::AppendNarrow(narrowed, units);
    ASSERT_EQ(std::string_view(narrowed), expected) << round;

    const std::string bytes = expected.substr(next() % 2) + expected;
    std::string base64;
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
      static constexpr char kDigits[] =
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
      std::uint32_t v = 0;
      for (std::size_t k = 0; k < 3; ++k)
        v = v << 8 | (at + k < bytes.size() ? static_cast<std::uint8_t>(bytes[at + k]) : 0);
      for (std::size_t k = 0; k < 4; ++k)
        base64 += at + k <= bytes.size() ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
      if (at % 57 == 54 || at + 3 >= bytes.size()) base64 += '\n';
    }
    std::string out;
    xliff::AppendBase64(out, bytes);
    ASSERT_EQ(out, base64) << round;
  }
}

// Widening takes runs of ASCII many bytes a step and other units one at a time: over random
// bytes (ASCII runs, two- and three-byte units, stray and cut ones) and any room, the units and the
// bytes read are those of a decoder going byte by byte.
TEST(XliffTest, WidensAsByteByByte) {
  const std::uint8_t palette[] = {0xE0, 0x80, 0x85, 0xEE, 0xC3, 0xA9, 0xBF, 0xF5, 0x7F};
  std::uint32_t seed = 7;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 3000; ++round) {
    Bytes in(next() % 70);
    for (auto& b : in)
      b = static_cast<std::uint8_t>(next() % 3 == 0 ? palette[next() % std::size(palette)]
                                                    : 'a' + next() % 26);
    const std::size_t room = 1 + next() % 80;
    const std::uint8_t* const end = in.data() + in.size();
    std::u16string expected;
    const std::uint8_t* q = in.data();
    while (expected.size() < room && q < end) {
      const std::uint8_t b = *q;
      const std::ptrdiff_t n = b < 0x80 ? 1 : b < 0xC0 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 0;
      if (n == 0 || end - q < n) {
        expected += u'\xFFFD';
        q = n == 0 ? q + 1 : end;
        continue;
      }
      char16_t c = n == 1 ? b : n == 2 ? b & 0x1F : b & 0x0F;
      for (std::ptrdiff_t k = 1; k < n; ++k)
        c = static_cast<char16_t>(c << 6 | (q[k] & 0x3F));
      expected += c;
      q += n;
    }
    Bytes out(2 * room + 1, 0xAA);
    const std::uint8_t* p = in.data();
    const std::size_t units = xliff::Widen(p, end, out.data(), room);
    ASSERT_EQ(units, expected.size()) << round;
    ASSERT_EQ(p, q) << round;
    for (std::size_t k = 0; k < units; ++k)
      ASSERT_EQ(out[2 * k] | out[2 * k + 1] << 8, expected[k]) << round << " " << k;
    ASSERT_EQ(out[2 * room], 0xAA) << round;
  }
}

// The skeleton's bytes go out from pieces (empty ones, lines and words cut between two, pieces
// longer than what is written at once): the base64 and the hash are those of the bytes whole.
TEST(XliffTest, WritesAndHashesPiecesAsBytesWhole) {
  std::uint32_t seed = 13;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 300; ++round) {
    std::string bytes(round % 50 == 0 ? 150000 + next() : next() % 400, '\0');
    for (char& b : bytes)
      b = static_cast<char>(next());
    std::vector<std::string_view> pieces;
    for (std::size_t at = 0; at < bytes.size() || pieces.size() < 2;) {
      const std::size_t size =
          std::min<std::size_t>(bytes.size() - at, next() % 3 == 0   ? 0
                                                   : next() % 2 == 0 ? 57
                                                                     : next() % 90000);
      pieces.push_back(std::string_view(bytes).substr(at, size));
      at += size;
    }
    std::string whole, written;
    xliff::AppendBase64(whole, bytes);
    xliff::WriteBase64(pieces, [&written](std::string_view piece) { written += piece; });
    ASSERT_EQ(written, whole) << round;
    ASSERT_EQ(xliff::HashBytes(pieces), xliff::HashBytes(bytes)) << round;
  }
}

// Base64 is read eight digits a step where it can: over random bytes, white space and pieces,
// the bytes read are those written; a stray character stops the reading after the groups before it.
TEST(XliffTest, ReadsBase64InPiecesAsWritten) {
  std::uint32_t seed = 11;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(next() % 120, '\0');
    for (char& b : bytes)
      b = static_cast<char>(next());
    std::string written, text;
    xliff::AppendBase64(written, bytes);
    for (const char c : written) {
      if (next() % 16 == 0) text += " \t\r\n"[next() % 4];
      text += c;
    }
    const bool stray = round % 2 == 1 && !text.empty();
    const std::size_t bad = stray ? next() % (std::min(text.find('='), text.size()) + 1) : 0;
    if (stray) text.insert(bad, 1, '!');
    xliff::CBase64Reader reader;
    xliff::CLargeString out;
    const std::size_t cut = text.empty() ? 0 : next() % text.size();
    const bool good = reader.Add(std::string_view(text).substr(0, cut), out) &&
                      reader.Add(std::string_view(text).substr(cut), out);
    if (!stray) {
      ASSERT_TRUE(good && reader.Finish()) << round;
      ASSERT_EQ(std::string_view(out), bytes) << round;
      continue;
    }
    const auto spaces =
        std::count_if(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(bad),
                      [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    const std::size_t digits = bad - static_cast<std::size_t>(spaces);
    ASSERT_FALSE(good) << round;
    ASSERT_EQ(std::string_view(out), std::string_view(bytes).substr(0, digits / 4 * 3)) << round;
  }
}

// A placeholder's content is left out up to its end tag, which is searched from its start
// tag's end: also when the end tag ends the start tag's first '>'.
TEST(XliffTest, PlainTextLeavesPlaceholdersOut) {
  EXPECT_EQ(xliff::PlainText(u"x<ut Type=\"start\">&lt;b&gt;</ut>y&amp;<ut/>z"), u"xy&z");
  EXPECT_EQ(xliff::PlainText(u"a<ut </ut>b</ut>c"), u"abc");
  EXPECT_EQ(xliff::PlainText(u"a<ut>b"), u"a");
}

// A display met again is written as it was the first time in the same way, and a display that
// differs only in its last unit, or the same display written another way (2.0 writes a code's
// data as text and its display as an attribute), is written anew.
TEST(XliffTest, RepeatedDisplaysAreWrittenAsTheFirst) {
  const std::u16string block = u"\uE405\uE805\u0001<Tu>\uE000";
  const std::u16string end = u"\uE405\uE805\u0002</Tu>\uE000";
  auto unit = [&](const std::u16string& display) {
    return block + u"Hello \uE805\u0003" + display + u"\uE000bold\uE404\uE805\u0003</df>\uE000" +
           end;
  };
  const std::u16string units =
      unit(u"<df Bold=\"on\">") + unit(u"<df Bold=\"on\">") + unit(u"<df Bold=\"on\"/");
  CXliffWriteOptions options;
  options.version = XliffVersion::V2_0;
  xliff::CXliffWriter writer(options);
  writer.Feed(units);
  std::u16string source, target;
  writer.End(source, target);
  std::string out;
  EXPECT_EQ(writer.Write({}, [&out](std::string_view text) { out += text; }), 3u);
  auto count = [&out](std::string_view part) {
    std::size_t n = 0;
    for (std::size_t at = out.find(part); at != std::string::npos; at = out.find(part, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("<data id=\"d2\">&lt;df Bold=\"on\"&gt;</data>"), 2u) << out;
  EXPECT_EQ(count("dispStart=\"&lt;df Bold=&quot;on&quot;&gt;\""), 2u) << out;
  EXPECT_EQ(count("<data id=\"d2\">&lt;df Bold=\"on\"/</data>"), 1u) << out;
  EXPECT_EQ(count("dispStart=\"&lt;df Bold=&quot;on&quot;/\""), 1u) << out;
  EXPECT_EQ(count("<data id=\"d4\">&lt;/df&gt;</data>"), 3u) << out;
}

}  // namespace
}  // namespace tagvert
