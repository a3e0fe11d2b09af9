// Tagvert: pseudo-translation of an IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/pseudo.h"

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

bool IsCode(char16_t unit) {
  return unit >= 0xE000 && unit <= 0xEFFF;
}

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

std::u16string PseudoTranslate(const std::u16string& units) {
  std::u16string result;
  result.reserve(units.size() + units.size() / 2);
  std::u16string run;
  enum class State { Text, Pair, Group, Reserve } state = State::Text;
  int reserveLeft = 0;
  for (const char16_t unit : units) {
    if (state == State::Pair) {
      result += unit;  // the pair-id unit, whatever its value
      state = State::Group;
      continue;
    }
    if (state == State::Reserve && reserveLeft > 0) {
      result += unit;
      --reserveLeft;
      continue;
    }
    if (!IsCode(unit)) {
      if (state == State::Text) {
        run += unit;
      } else {
        result += unit;
      }
      continue;
    }
    if (!run.empty()) {
      result += PseudoText(run);
      run.clear();
    }
    result += unit;
    if (state != State::Text) {
      // A group ends at the next code; a boundary belongs to it.
      state = State::Text;
      if (unit == kIfBoundary) continue;
    }
    if (unit == kIfTagGroup) {
      state = State::Pair;
    } else if (unit == kIfReserveGroup) {
      state = State::Reserve;
      reserveLeft = 2;
    } else if (unit >= 0xE800) {
      state = State::Group;
    }
  }
  if (!run.empty()) result += PseudoText(run);
  return result;
}

}  // namespace tagvert::cli
