// Tagvert: pseudo-translation of an IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/pseudo.h"

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
  bool onlySpace = true;
  for (const char16_t c : run)
    onlySpace = onlySpace && CharIsSpace(c);
  if (onlySpace) return run;
  std::u16string result;
  const std::size_t pad = (run.size() * kExpansionPercent + 99) / 100;
  result.reserve(run.size() + pad + 2);
  result += u'[';
  for (const char16_t c : run) {
    if (c >= u'a' && c <= u'z') {
      result += kLower[c - u'a'];
    } else if (c >= u'A' && c <= u'Z') {
      result += kUpper[c - u'A'];
    } else {
      result += c;
    }
  }
  result.append(pad, kPad);
  result += u']';
  return result;
}

// Every unit is kept as it is but for the text runs, which are translated whole.
void CPseudoTranslator::Take(const CIfToken& token, std::u16string& out) {
  if (token.kind == IfTokenKind::Text) {
    m_run += token.units;
    return;
  }
  if (!m_run.empty()) {
    out += PseudoText(m_run);
    m_run.clear();
  }
  if (token.kind == IfTokenKind::GroupData) {
    out += token.units;
    return;
  }
  if (token.code != 0) out += token.code;
  out.append(token.data, token.dataCount);
}

void CPseudoTranslator::Feed(std::u16string_view units, std::u16string& out) {
  m_reader.Feed(units, [&](const CIfToken& token) { Take(token, out); });
}

void CPseudoTranslator::Finish(std::u16string& out) {
  m_reader.Finish([&](const CIfToken& token) { Take(token, out); });
  if (!m_run.empty()) out += PseudoText(m_run);
  m_run.clear();
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
