// Tagvert: pseudo-translation of an IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/pseudo.h"

#include <algorithm>
#include <array>

#include "ifcodec/if_parser.h"
#include "ifcodec/if_tokens.h"
#include "storage/char_class.h"

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
  std::u16string result;
  AppendPseudoText(run, result);
  return result;
}

void AppendPseudoText(std::u16string_view run, std::u16string& out) {
  // A run of white space stays as it is; most runs show a unit that is none at once.
  if (std::all_of(run.begin(), run.end(), CharIsSpace)) {
    out.append(run);
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
  const std::size_t pad = (run.size() * kExpansionPercent + 99) / 100;
  const std::size_t at = out.size();
  out.resize(at + run.size() + pad + 2);
  char16_t* to = out.data() + at;
  *to++ = u'[';
  for (const char16_t c : run)
    *to++ = c < 0x80 ? kAscii[c] : c;
  std::fill_n(to, pad, kPad);
  to[pad] = u']';
}

void CPseudoTranslator::EndRun(std::u16string_view run, std::u16string& out) {
  if (m_run.empty()) {
    AppendPseudoText(run, out);
    return;
  }
  m_run += run;
  AppendPseudoText(m_run, out);
  m_run.clear();
}

// Every unit is kept as it is but for the text runs, which are translated whole: the units
// between two runs go to the output in one piece.
void CPseudoTranslator::Feed(std::u16string_view units, std::u16string& out) {
  const char16_t* const p = units.data();
  std::size_t i = m_codes.TakeData(units.size());  // the units before it are read
  std::size_t kept = 0;                            // the units before it are in the output
  ForEachIfCode(units, i, [&](std::size_t at) {
    if (m_codes.InText() && (at > i || !m_run.empty())) {
      out.append(p + kept, i - kept);
      EndRun(units.substr(i, at - i), out);
      kept = at;
    }
    i = at + 1;
    if (m_codes.TakeCode(p[at])) i += m_codes.TakeData(units.size() - i);
    return i;
  });
  if (m_codes.InText() && i < units.size()) {
    // A run that goes on in the next piece is kept until it ends.
    out.append(p + kept, i - kept);
    m_run.append(p + i, units.size() - i);
    kept = units.size();
  }
  out.append(p + kept, units.size() - kept);
}

void CPseudoTranslator::Finish(std::u16string& out) {
  m_codes.Reset();
  if (!m_run.empty()) EndRun({}, out);
}

std::u16string PseudoTranslate(const std::u16string& units) {
  std::u16string result;
  result.reserve(units.size() + units.size() / 2);
  CPseudoTranslator translator;
  translator.Feed(units, result);
  translator.Finish(result);
  return result;
}

}  // namespace tagvert::cli
