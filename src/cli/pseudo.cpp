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

// Every unit is kept as it is but for the text runs, which are translated whole.
void CPseudoTranslator::Take(const CIfToken& token, std::u16string& out) {
  if (token.kind == IfTokenKind::Text) {
    // A run comes as one token per piece: a second one is the same run going on.
    if (!m_inPiece.empty()) m_run += m_inPiece;
    m_inPiece = token.units;
    return;
  }
  EndRun(out);
  if (token.kind == IfTokenKind::GroupData) {
    out += token.units;
    return;
  }
  if (token.code != 0) out += token.code;
  out.append(token.data, token.dataCount);
}

void CPseudoTranslator::EndRun(std::u16string& out) {
  if (m_run.empty()) {
    if (!m_inPiece.empty()) AppendPseudoText(m_inPiece, out);
  } else {
    m_run += m_inPiece;
    AppendPseudoText(m_run, out);
    m_run.clear();
  }
  m_inPiece = {};
}

void CPseudoTranslator::Feed(std::u16string_view units, std::u16string& out) {
  m_reader.Feed(units, [&](const CIfToken& token) { Take(token, out); });
  // The piece goes: what of a run it holds is kept for the run's end.
  m_run += m_inPiece;
  m_inPiece = {};
}

void CPseudoTranslator::Finish(std::u16string& out) {
  m_reader.Finish([&](const CIfToken& token) { Take(token, out); });
  EndRun(out);
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
