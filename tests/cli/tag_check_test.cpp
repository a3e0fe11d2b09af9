// Tagvert: tests of the tag check of a translated IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/tag_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/ttx_converter.h"
#include "ifcodec/if_parser.h"
#include "markup/pairing.h"
#include "storage/char_class.h"
#include "storage/memory_stream.h"

namespace tagvert::cli {
namespace {

// A tag group: the end-tag flag, the group's code, its pair id, its source text (<b> or </b> when
// none is given) and the boundary.
void AddTag(std::u16string& units, bool end, char16_t pair, std::u16string_view source = {}) {
  if (end) units += kIfEndTag;
  units += kIfTagGroup;
  units += pair;
  if (source.empty()) source = end ? u"</b>" : u"<b>";
  units += source;
  units += kIfBoundary;
}

// `count` ids as the pairing hands them out after `last`.
std::vector<char16_t> Ids(std::uint32_t last, std::size_t count) {
  std::vector<char16_t> ids;
  while (ids.size() < count)
    ids.push_back(detail::NextPairId(last));
  return ids;
}

// Many tags open at once, closed in ways that make a search from the innermost open tag walk
// far: the work per tag group must not grow with the open tags.
TEST(TagCheckTest, WorkStaysLinearWithManyOpenTags) {
  constexpr std::size_t kTags = 150000;
  const struct {
    const char* name;
    std::vector<char16_t> starts;  // the start tags' ids, outermost first
    std::vector<char16_t> ends;    // the end tags' ids, outermost first
    bool nested;                   // the end tags come innermost first
    std::size_t problems;          // SIZE_MAX: not counted here
  } rows[] = {
      // Nested tags whose end tags carry ids handed out from another point of the cycle, as the
      // second pairing of the way in gives them once ids come round: most ends match no open
      // tag, the others an open tag deep inside.
      {"nested, ids come round", Ids(0x9771, kTags), Ids(100, kTags), true, SIZE_MAX},
      // Every end tag closes the outermost open tag, which the one before crossed (ids unique).
      {"closed first in, first out", Ids(0x1000, 50000), Ids(0x1000, 50000), false, 49999},
  };
  for (const auto& row : rows) {
    std::u16string units = {kIfHeader, u'T', u'T', u'X', kIfBoundary};
    for (const char16_t id : row.starts)
      AddTag(units, false, id);
    std::vector<char16_t> ends = row.ends;
    if (row.nested) std::reverse(ends.begin(), ends.end());
    for (const char16_t id : ends)
      AddTag(units, true, id);
    std::string bytes;  // UTF-16 little-endian
    for (const char16_t unit : units) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    std::vector<std::string> whole, pieces;
    CTagCheck check([&](const CTagPlace& place, const std::string& text) {
      whole.push_back(std::to_string(place.unit) + text);
    });
    check.Feed(bytes.data(), bytes.size());
    check.Finish();
    if (row.problems != SIZE_MAX) {
      EXPECT_EQ(check.Problems(), row.problems) << row.name;
    }
    EXPECT_EQ(whole.size(), check.Problems()) << row.name;
    EXPECT_LE(check.Steps(), 4 * (row.starts.size() + row.ends.size())) << row.name;
    // Cut into pieces of an odd number of bytes, units and source texts split: the same problems.
    CTagCheck cut([&](const CTagPlace& place, const std::string& text) {
      pieces.push_back(std::to_string(place.unit) + text);
    });
    for (std::size_t at = 0; at < bytes.size(); at += 7)
      cut.Feed(bytes.data() + at, std::min<std::size_t>(7, bytes.size() - at));
    cut.Finish();
    EXPECT_EQ(pieces, whole) << row.name;
  }
}

// On a document with more tags than ids the way in can number a start tag and another pair's end
// tag alike: the sent IF itself fails the nesting checks there. Against it, the translation is
// blamed only for what it changed.
TEST(TagCheckTest, AgainstTheSentIfOnlyWhatTheTranslationChanged) {
  const auto bytesOf = [](const std::vector<std::pair<bool, char16_t>>& tags) {
    std::u16string units = {kIfHeader, u'T', u'T', u'X', kIfBoundary};
    for (const auto& [end, pair] : tags)
      AddTag(units, end, pair);
    std::string bytes;
    for (const char16_t unit : units) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
  };
  // The outer pair 0x0200 ends with 0x0065; 0x0065 also numbers an inner pair; 0x0300 is whole.
  const std::string sent = bytesOf({{false, 0x0200},
                                    {false, 0x0065},
                                    {true, 0x0065},
                                    {false, 0x0300},
                                    {true, 0x0300},
                                    {true, 0x0065}});
  const std::string damaged =
      bytesOf({{false, 0x0200}, {false, 0x0065}, {true, 0x0065}, {false, 0x0300}, {true, 0x0065}});
  for (const auto& [translated, expected] :
       {std::pair{sent, std::size_t{0}}, std::pair{damaged, std::size_t{1}}}) {
    std::vector<std::string> said;
    CTagCheck check([&](const CTagPlace&, const std::string& text) { said.push_back(text); });
    CMemoryStream sentStream(std::vector<std::uint8_t>(sent.begin(), sent.end()));
    check.SetSent(sentStream);
    check.Feed(translated.data(), translated.size());
    check.Finish();
    ASSERT_EQ(said.size(), expected) << (said.empty() ? "" : said.front());
    if (expected != 0) {
      EXPECT_NE(said.front().find("pair 0x0300: no end tag"), std::string::npos);
    }
  }
}

// The IF's units as the bytes of a stream.
std::vector<std::uint8_t> Bytes(std::u16string_view units) {
  std::vector<std::uint8_t> bytes;
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

// A check's report that lists each problem in `to` with its line, column and unit's words.
auto Said(std::vector<std::string>& to) {
  return [&to](const CTagPlace& place, const std::string& text) {
    to.push_back(std::to_string(place.line) + ":" + std::to_string(place.column) + " " + text +
                 " " + QuoteWords(place));
  };
}

// The places followed along the conversion's own reading (the input buffer's pieces, whose line
// feeds are looked for a stretch ahead) are those followed over the tokens of the same IF: line
// feeds and references in text runs and source texts, runs that span two pieces or stretches,
// long runs counted on their own, units that hold a byte 0x0A but are no line feed, the words
// of translation units that end in a piece or go on in the next. Each is where the tag stands
// in the document written.
// An input that does not tell its size: with no progress to report the conversion walks it in
// pieces as large as its buffer, so that the line feed search goes a stretch at a time.
class CUnsizedStream : public CMemoryStream {
 public:
  using CMemoryStream::CMemoryStream;
  bool Size(std::uint64_t&) override { return false; }
};

// What the check says over the tokens of the IF `bytes`.
std::vector<std::string> SaidOverTokens(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::string> said;
  CTagCheck fed(Said(said));
  fed.Feed(bytes.data(), bytes.size());
  fed.Finish();
  return said;
}

// What the check says along the conversion of the IF `input` into `output`.
std::vector<std::string> SaidAlongConversion(const ByteStreamPtr& input,
                                             const ByteStreamPtr& output) {
  std::vector<std::string> said;
  CTagCheck observer(Said(said));
  CTagvertConverter converter;
  converter.SetIfTagGroupObserver(&observer);
  EXPECT_EQ(converter.ConvertFromIF(CEndpoint::Stream(input), CEndpoint::Stream(output)), kSOk);
  observer.Finish();
  return said;
}

TEST(TagCheckTest, PlacesAlongTheConversionAreThoseOfTheTokens) {
  std::u16string units = {kIfHeader, u'T', u'T', u'X', kIfBoundary};
  constexpr std::u16string_view kTexts[] = {u"a]]> b]]]>\n]]>c ", u"plain] text & ", u"x\ny",
                                            u"a & b\nc < d ", u"n\u00A0 ]]>&<\n]]> "};
  const std::u16string lowByte0A = std::u16string(100, u'\u0A0A') + u"\n\u010A";
  const auto group = [&units](char16_t pair, std::u16string_view source) {
    AddTag(units, false, pair, source);
  };
  // The words that each start tag's message quotes: those of the unit it was opened in.
  std::vector<std::string> words;
  std::string unitWords;
  for (char16_t pair = 0x100; pair < 0x1000; ++pair) {
    // Every other unit ends three tags after it starts: the tags after it name no words.
    if (pair % 14 == 3) {
      group(0, u"</Tu>");
      unitWords.clear();
    }
    if (pair % 7 == 0) {
      // A translation unit, named by the words of its source Tuv.
      group(0, u"<Tu>");
      group(0, u"<Tuv Lang=\"EN\">unit " + std::u16string(1, pair) + u" words</Tuv>");
      unitWords = "unit " + Utf16ToUtf8(std::u16string(1, pair)) + " words";
    }
    words.push_back(unitWords);
    if (pair % 11 == 0) units += lowByte0A;
    // Many line feeds, and now and then a long run of them.
    for (int line = 0; pair > 0x110 && line < (pair % 251 == 0 ? 1500 : 3); ++line)
      units += u"ab\n";
    units += kTexts[pair % std::size(kTexts)];
    if (pair % 13 == 0) {
      // A placeholder after a no-break space: the space after the placeholder is written.
      group(0, u"\u00A0");
      group(pair, u"<ut Type=\"start\">&lt;i&gt;</ut>");
      units += u" ";
    }
    units += kIfTagGroup;
    units += pair;  // never closed: every start tag is reported
    units += pair % 5 == 0 ? u"<b\nclass='x'>" : u"<b>";
    units += kIfBoundary;
  }
  const std::vector<std::uint8_t> bytes = Bytes(units);
  const std::vector<std::string> tokens = SaidOverTokens(bytes);
  const auto written = std::make_shared<CMemoryStream>();
  const std::vector<std::string> walked =
      SaidAlongConversion(std::make_shared<CMemoryStream>(bytes), written);
  EXPECT_EQ(SaidAlongConversion(std::make_shared<CUnsizedStream>(bytes),
                                std::make_shared<CMemoryStream>()),
            tokens);
  ASSERT_EQ(tokens.size(), 0x1000U - 0x100U);
  // The first start tag follows "plain] text &amp; ": the ']' stays one unit. The third follows
  // "c < d " on the third line: only the '<' after the line feed widens the column ("&lt;").
  EXPECT_EQ(tokens[0].substr(0, 5), "1:19 ");
  EXPECT_EQ(tokens[2].substr(0, 5), "3:10 ");
  EXPECT_EQ(walked, tokens);
  // A tag still open when later units are named keeps the words of its own.
  for (std::size_t i = 0; i < tokens.size(); ++i)
    ASSERT_TRUE(tokens[i].ends_with(" " + words[i])) << tokens[i];
  // The document's lines in characters (the text is in the Basic Multilingual Plane), after the
  // byte-order mark.
  std::vector<std::u16string> lines(1);
  const std::vector<std::uint8_t>& out = written->Bytes();
  for (std::size_t i = 3; i < out.size();) {
    char16_t unit = out[i++];
    if (unit >= 0xE0) {
      unit =
          static_cast<char16_t>((unit & 0x0F) << 12 | (out[i] & 0x3F) << 6 | (out[i + 1] & 0x3F));
      i += 2;
    } else if (unit >= 0xC0) {
      unit = static_cast<char16_t>((unit & 0x1F) << 6 | (out[i++] & 0x3F));
    }
    if (unit == u'\n') {
      lines.emplace_back();
    } else {
      lines.back() += unit;
    }
  }
  for (const std::string& token : tokens) {
    const std::size_t colon = token.find(':');
    const std::size_t line = std::stoul(token.substr(0, colon));
    const std::size_t column = std::stoul(token.substr(colon + 1));
    ASSERT_LE(line, lines.size()) << token;
    ASSERT_EQ(lines[line - 1].substr(column - 1, 2), u"<b") << token;
  }
}

// Open tags closed out of order leave gaps that the list drops once they outnumber the tags still
// open: the quotes of short and long source texts and the words of their units stay those of
// each tag, in the messages of tags closed or left open afterwards and of tags opened since.
TEST(TagCheckTest, OpenTagsKeepTheirQuotesAndWordsWhenClosedOnesAreDropped) {
  std::u16string units = {kIfHeader, u'T', u'T', u'X', kIfBoundary};
  const auto group = [&units](bool end, char16_t pair, std::u16string_view source) {
    AddTag(units, end, pair, source);
  };
  struct CTag {
    char16_t pair;
    std::u16string source;
    std::string words;
  };
  std::vector<CTag> tags;
  const auto open = [&](std::string_view words, std::size_t count) {
    group(false, 0, u"<Tu>");
    group(false, 0, u"<Tuv Lang=\"EN\">" + Utf8ToUtf16(words));
    for (std::size_t i = 0; i < count; ++i) {
      const std::u16string n = Utf8ToUtf16(std::to_string(tags.size()));
      // Kept in place, in the shared store, and cut short in a message.
      const std::u16string source = tags.size() % 3 == 0 ? u"<b>"
                                    : tags.size() % 3 == 1
                                        ? u"<span class='c" + n + u"'>"
                                        : u"<x n='" + n + u"' " + std::u16string(70, u'a') + u">";
      tags.push_back({static_cast<char16_t>(0x200 + tags.size()), source, std::string(words)});
      group(false, tags.back().pair, source);
    }
    group(true, 0, u"</Tu>");
  };
  const auto quote = [](const std::u16string& source, bool more) {
    return Utf16ToUtf8(source.substr(0, 60)) + (more && source.size() > 60 ? "..." : "");
  };
  const auto hex = [](char16_t pair) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(pair));
    return std::string(text);
  };
  open("first unit words", 16);
  open("second unit words", 8);
  open("third unit words", 16);
  // Closed from the outermost on, but every fourth outside the second unit: the first end tag
  // crosses every other tag, each later one finds its tag crossed. More tags are closed than stay
  // open; no tag of the second unit does.
  const auto closed = [](std::size_t i) { return i < 40 && (i % 4 != 3 || (i >= 16 && i < 24)); };
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < 40; ++i) {
    if (!closed(i)) continue;
    group(true, tags[i].pair, u"</b>");
    if (i == 0) continue;
    expected.push_back("tag </b>, pair " + hex(tags[0].pair) + ": closes its start tag while " +
                       quote(tags[i].source, false) + " (pair " + hex(tags[i].pair) +
                       ") is still open: the tags are misnested | ");
  }
  open("fourth unit words", 5);
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (closed(i)) continue;
    expected.push_back("tag " + quote(tags[i].source, true) + ", pair " + hex(tags[i].pair) +
                       ": no end tag | " + tags[i].words);
  }
  const std::vector<std::uint8_t> bytes = Bytes(units);
  std::vector<std::string> said;
  CTagCheck check([&said](const CTagPlace& place, const std::string& text) {
    said.push_back(text + " | " + QuoteWords(place));
  });
  check.Feed(bytes.data(), bytes.size());
  check.Finish();
  EXPECT_EQ(said, expected);
}

// Start tags that the conversion's walk holds back until an end tag closes them (nested ones,
// more than are held at once, tags a later end tag crosses, tags left open while their unit's
// words change or their piece ends) give the messages and places of tags opened at once, as the
// check over the tokens opens them.
TEST(TagCheckTest, StartTagsHeldAlongTheConversionSayWhatOpenOnesSay) {
  std::u16string units = {kIfHeader, u'T', u'T', u'X', kIfBoundary};
  const auto tag = [&units](bool end, char16_t pair, std::u16string_view source) {
    AddTag(units, end, pair, source);
  };
  std::uint32_t random = 1;
  const auto next = [&random](std::uint32_t n) {
    random = random * 1103515245U + 12345U;
    return (random >> 16) % n;
  };
  std::vector<char16_t> open;
  char16_t pair = 0x100;
  for (int step = 0; step < 60000; ++step) {
    const std::uint32_t r = next(20);
    if (r == 0) {
      // Half the units' tags have pair ids: held, or closing the tag held last, while the unit
      // changes.
      const bool paired = next(2) == 0;
      if (paired) open.push_back(++pair);
      tag(false, paired ? pair : 0, u"<Tu>");
      tag(false, 0,
          u"<Tuv Lang=\"EN\">words " +
              std::u16string(1 + next(3), static_cast<char16_t>(u'a' + next(26))));
    } else if (r == 1) {
      const bool paired = !open.empty() && next(2) == 0;
      tag(true, paired ? open.back() : 0, u"</Tu>");
      if (paired) open.pop_back();
    } else if (r < 9) {
      open.push_back(++pair);
      tag(false, pair, r == 8 ? u"<b\nclass='x'>" : u"<b>");
    } else if (r < 15 && !open.empty()) {
      tag(true, open.back(), u"</b>");
      open.pop_back();
    } else if (r == 15 && !open.empty()) {
      // Misnested: a tag opened earlier is closed first.
      const std::size_t at = next(static_cast<std::uint32_t>(open.size()));
      tag(true, open[at], u"</b>");
      open.erase(open.begin() + static_cast<std::ptrdiff_t>(at));
    } else if (r == 16) {
      tag(next(2) == 0, static_cast<char16_t>(pair - next(4)), u"<i>");  // twice, or no start
    } else if (r == 17 && !open.empty()) {
      open.pop_back();  // never closed
    } else {
      units += r == 18 ? u"x\ny & z " : u"text ";
    }
  }
  const std::vector<std::uint8_t> bytes = Bytes(units);
  const std::vector<std::string> tokens = SaidOverTokens(bytes);
  EXPECT_GT(tokens.size(), 1000U);
  EXPECT_EQ(SaidAlongConversion(std::make_shared<CMemoryStream>(bytes),
                                std::make_shared<CMemoryStream>()),
            tokens);
}

}  // namespace
}  // namespace tagvert::cli
