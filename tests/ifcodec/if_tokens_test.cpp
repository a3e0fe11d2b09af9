// Tagvert tests: the IF token reader.
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/if_tokens.h"

#include <gtest/gtest.h>

#include <string>

namespace tagvert {
namespace {

using namespace std::string_literals;

// The tokens of `units` fed in two pieces cut at `cut`, one line each, with adjacent text and
// group-data pieces joined (a run may come in several tokens).
std::string Trace(const std::u16string& units, std::size_t cut) {
  std::string trace;
  IfTokenKind last = IfTokenKind::Flag;
  const auto sink = [&](const CIfToken& token) {
    const bool run = token.kind == IfTokenKind::Text || token.kind == IfTokenKind::GroupData;
    if (!(run && token.kind == last)) {
      static const char* const kNames[] = {"text", "flag", "boundary", "start", "data", "end"};
      trace += std::string(trace.empty() ? "" : " ") + kNames[static_cast<int>(token.kind)];
      if (token.code != 0) trace += ':' + std::to_string(token.code - 0xE000);
      for (std::uint8_t i = 0; i < token.dataCount; ++i)
        trace += '/' + std::to_string(int(token.data[i]));
      if (token.cutOff) trace += '!';
    }
    for (const char16_t u : token.units)
      trace += static_cast<char>(u);
    last = token.kind;
  };
  CIfTokenReader reader;
  reader.Feed(std::u16string_view(units).substr(0, cut), sink);
  reader.Feed(std::u16string_view(units).substr(cut), sink);
  reader.Finish(sink);
  return trace;
}

TEST(CIfTokenReaderTest, TokensDoNotDependOnWhereThePiecesAreCut) {
  const struct {
    std::u16string units;
    std::string tokens;
  } cases[] = {
      // Header, a block tag with its pair id (taken even when it is a code), text, an end tag.
      {u"\uE804TTX\uE000\uE405\uE805\u0011<b>\uE000ab\uE404\uE805\uE000</b>\uE000",
       "start:2052 dataTTX end:0 flag:1029 start:2053/17 data<b> end:0 textab flag:1028 "
       "start:2053/57344 data</b> end:0"},
      // A reserve group takes two data units; another code ends a group and is read anew;
      // skipped text keeps the boundary after it; a flagged boundary stands alone.
      {u"\uE80A\uE000\u0001\uE805\u0000x\uE012\uEC03m\uE000z"s,
       "start:2058/57344/1 end start:2053/0 datax end boundary:18 start:3075 datam end "
       "boundary:0 textz"},
      // Cut off inside the fixed data, and inside a group.
      {u"a\uE80A\u0005", "texta start:2058/5! end!"},
      {u"\uE805\u0001<i", "start:2053/1 data<i end!"},
  };
  for (const auto& c : cases) {
    for (std::size_t cut = 0; cut <= c.units.size(); ++cut) {
      EXPECT_EQ(Trace(c.units, cut), c.tokens) << "cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace tagvert
