// Tagvert: pseudo-translation of an IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/pseudo.h"

#include <algorithm>
#include <array>

#include "ifcodec/if_parser.h"
#include "storage/char_class.h"
#include "storage/unit_scan.h"

namespace tagvert::cli {

namespace {

// Accented look-alikes of a-z and A-Z: text stays readable while every letter shows whether it
// went through the translation path and whether its characters survive.
constexpr char16_t kLower[] = u"áƀçďéƒĝĥíĵķĺḿñöþqŕšŧüṽŵxýž";
constexpr char16_t kUpper[] = u"ÅƁÇĎÉƑĜĤÍĴĶĹḾÑÖÞQŔŠŦÜṼŴXÝŽ";
constexpr char16_t kPad = 0x00B7;  // middle dot
constexpr std::size_t kExpansionPercent = 30;

}  // namespace

std::u16string PseudoText(const std::u16string& run) {
  CUnitBlock result;
  AppendPseudoText(run, result);
  return std::u16string(result.View());
}

void AppendPseudoText(std::u16string_view run, CUnitBlock& out) {
  // A run of white space stays as it is; most runs show a unit that is none at once.
  if (std::all_of(run.begin(), run.end(), CharIsSpace)) {
    out += run;
    return;
  }
  // ASCII through a table of what each unit becomes (itself but for the letters).
  static constexpr std::array<char16_t, 0x80> kAscii = [] {
    std::array<char16_t, 0x80> table{};
    for (char16_t c = 0; c < 0x80; ++c) {
      table[c] = c >= u'a' && c <= u'z'   ? kLower[c - u'a']
                 : c >= u'A' && c <= u'Z' ? kUpper[c - u'A']
                                          : c;
    }
    return table;
  }();
  const std::size_t size = run.size();
  const std::size_t pad = (size * kExpansionPercent + 99) / 100;
  char16_t* to = out.Room(size + pad + 2);
  out.Commit(size + pad + 2);
  *to++ = u'[';
  const char16_t* from = run.data();
  const char16_t* const end = from + size;
#if TAGVERT_UNITS_SSE2
  // Eight units without an ASCII letter (digits, punctuation, other scripts) are copied as
  // they are in one step. A unit is a letter when (unit | 0x20) - 'a', taken unsigned, is
  // below 26; the sign flip lets the signed compare of SSE2 do the unsigned one.
  const __m128i caseBit = _mm_set1_epi16(0x20);
  const __m128i first = _mm_set1_epi16(static_cast<short>(u'a'));
  const __m128i sign = _mm_set1_epi16(static_cast<short>(0x8000));
  const __m128i letters = _mm_set1_epi16(static_cast<short>(0x8000 + 26));
  for (; end - from >= 8; from += 8, to += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i offset = _mm_xor_si128(_mm_sub_epi16(_mm_or_si128(units, caseBit), first), sign);
    if (_mm_movemask_epi8(_mm_cmplt_epi16(offset, letters)) == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), units);
      continue;
    }
    for (int k = 0; k < 8; ++k)
      to[k] = from[k] < 0x80 ? kAscii[from[k]] : from[k];
  }
#endif
  for (; from != end; ++from)
    *to++ = *from < 0x80 ? kAscii[*from] : *from;
  std::fill_n(to, pad, kPad);
  to[pad] = u']';
}

void CPseudoTranslator::EndRun(std::u16string_view run, CUnitBlock& out) {
  if (m_run.empty()) {
    AppendPseudoText(run, out);
    return;
  }
  m_run += run;
  AppendPseudoText(m_run, out);
  m_run.clear();
}

// Every unit is kept as it is but for the text runs, which are translated whole: the units
// between two runs go to the output in one piece. The codes are found sixty-four units at a
// time; the units between two codes are a text run or a group's content, and each code moves
// the state as a token reader would.
void CPseudoTranslator::Feed(std::u16string_view units, CUnitBlock& out) {
  const char16_t* const p = units.data();
  const std::size_t n = units.size();
  std::size_t kept = 0;  // the units before it are in the output
  // The state stays in registers across the calls that write the output.
  CIfCodeState codes = m_codes;
  // A group's fixed data (pair id, reserve units) is kept whatever its value.
  std::size_t from = codes.TakeData(n);  // the units from here to the next code are alike
  ForEachIfCode(units, from, [&](std::size_t at) {
    if (codes.InText() && (at > from || !m_run.empty())) {
      out.append(p + kept, from - kept);
      EndRun({p + from, at - from}, out);
      kept = at;
    }
    codes.TakeCode(p[at]);
    from = at + 1;
    from += codes.TakeData(n - from);
    return from;
  });
  if (from < n && codes.InText()) {
    // A run that goes on in the next piece is kept until it ends.
    out.append(p + kept, from - kept);
    m_run.append(p + from, p + n);
    kept = n;
  }
  out.append(p + kept, n - kept);
  m_codes = codes;
}

void CPseudoTranslator::Finish(CUnitBlock& out) {
  m_codes.Reset();
  if (!m_run.empty()) EndRun({}, out);
}

std::u16string PseudoTranslate(const std::u16string& units) {
  CUnitBlock result;
  result.reserve(units.size() + units.size() / 2);
  CPseudoTranslator translator;
  translator.Feed(units, result);
  translator.Finish(result);
  return std::u16string(result.View());
}

}  // namespace tagvert::cli
