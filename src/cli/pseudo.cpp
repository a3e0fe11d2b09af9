// Tagvert: pseudo-translation of an IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/pseudo.h"

#include <algorithm>
#include <array>

#include "ifcodec/if_parser.h"
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
// between two runs go to the output in one piece. A group's content and a text run are passed
// over up to their next code in bulk; each code moves the state as a token reader would.
void CPseudoTranslator::Feed(std::u16string_view units, std::u16string& out) {
  const char16_t* p = units.data();
  const char16_t* const end = p + units.size();
  const char16_t* kept = p;  // the units before it are in the output
  for (;;) {
    // A group's fixed data (pair id, reserve units) is kept whatever its value.
    p += m_codes.TakeData(static_cast<std::size_t>(end - p));
    if (p == end) break;
    if (m_codes.InText()) {
      const char16_t* const next =
          IsIfCode(*p) ? p : p + FindIfCode({p, static_cast<std::size_t>(end - p)});
      if (next == end) {
        // A run that goes on in the next piece is kept until it ends.
        out.append(kept, p);
        m_run.append(p, end);
        kept = end;
        break;
      }
      if (next > p || !m_run.empty()) {
        out.append(kept, p);
        EndRun({p, static_cast<std::size_t>(next - p)}, out);
        kept = next;
      }
      p = next;
    } else if (!IsIfCode(*p)) {
      p += FindIfCode({p, static_cast<std::size_t>(end - p)});
      if (p == end) break;
    }
    m_codes.TakeCode(*p++);
  }
  out.append(kept, end);
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
