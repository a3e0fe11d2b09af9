// Tagvert: the tag grammar shared by the two tag readers (the record scanner over a decoded
// buffer and COrvelSgmlParser over a storage).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "markup/element_kinds.h"
#include "storage/char_class.h"

namespace tagvert::detail {

/// Raised by a tag reader's unit source when the input ends inside markup. The end of input is
/// met at most once per document, while the grammar reads a unit in a dozen loops: one throw
/// from the source, caught only by CTagGrammar::ReadMarkup, keeps every loop free of an
/// end check after each unit.
struct CEndOfMarkup {};

/// Throws CEndOfMarkup; kept out of line so that the sources' inline reads stay small.
[[noreturn, gnu::noinline]] inline void ThrowEndOfMarkup() {
  throw CEndOfMarkup{};
}

/// ASCII units that may stand in an attribute name, looked up instead of classified.
inline const std::array<bool, 128> kAsciiNameChars = [] {
  std::array<bool, 128> chars{};
  for (char16_t c = 0; c < 128; ++c)
    chars[c] = CharIsNameChar(c);
  return chars;
}();

/// CharIsNameChar, with a table for ASCII.
inline bool TagIsNameChar(char16_t c) {
  return c < 128 ? kAsciiNameChars[c] : CharIsNameChar(c);
}

/// The grammar of one piece of markup after its `<`: a tag with its name and attributes,
/// special markup (`<!...>`, `<?...?>`, `<%...%>`, comments, CDATA sections), a stray `<` that
/// ends the element before it, and a tag broken off by a `<`. `TReader` derives from it and
/// supplies, all inline, as unit source:
///   char16_t Next()               the next unit; at the end of input ThrowEndOfMarkup()
///   std::size_t Position()        units of the element read so far (the last one is at -1)
///   void Unread()                 puts the unit read last back
///   char16_t FindQuoteOrLess(q)   reads up to and including the first `q` or `<`, returns it
///   char16_t SkipNameChars(c)     optional: reads on while `c` and the units after it are
///                                 name units (TagIsNameChar), returns the first other one
///   char16_t AppendNameRun(c)     optional: AppendName for `c` and the units after it up to
///                                 the first `>`, `/`, `<` or white space, which it returns
/// and as sink:
///   SetTagType(type); AppendName(c) for the unit just read; StartSpecialName(c) for the `!`
///   or `%` after `<`; SetName(name); TrimName(terminator) to drop a terminator the name ran
///   into; AddAttribute(nameStart, nameEnd, valueStart, valueEnd) and AddNameOnly(nameStart,
///   nameEnd) by positions; AddMarker(special) for the kBrokenTagMarker attribute; ResetTag()
///   when a stray `<` takes the element back to its initial state.
template <class TReader>
class CTagGrammar {
 protected:
  /// Reads the markup after its `<`. Markup cut off by the end of input keeps what was read.
  void ReadMarkup() {
    try {
      ReadTag();
    } catch (const CEndOfMarkup&) {
      // Cut-off markup keeps what was read.
    }
  }

 private:
  TReader& Self() { return static_cast<TReader&>(*this); }
  char16_t Next() { return Self().Next(); }

  char16_t SkipSpace(char16_t c) {
    while (CharIsSpace(c))
      c = Next();
    return c;
  }

  // A `<` where the tag reader does not expect one: ends the element before it.
  void TakeBackStray() {
    Self().Unread();
    Self().ResetTag();
  }

  // A `<` where an attribute name would begin: ends the element as a broken tag.
  void BreakTag() {
    Self().SetTagType(TagType::Single);
    Self().AddMarker(false);
    Self().Unread();
  }

  void ReadTag();
  void ReadSpecial(char16_t opener);
  void ReadAfterBracket();
  void ReadUntil(std::u16string_view terminator, bool quotes, bool& nameDone);
};

template <class TReader>
void CTagGrammar<TReader>::ReadTag() {
  TReader& self = Self();
  self.SetTagType(TagType::Open);
  char16_t c = Next();
  if (c == u'<') return TakeBackStray();

  bool closeFlag = false;
  if (c == u'/') {
    self.SetTagType(TagType::Close);
    c = Next();
  } else if (c == u'!' || c == u'%') {
    self.StartSpecialName(c);
    return ReadSpecial(c);
  }
  if (c == u'?') self.SetTagType(TagType::Single);  // a processing instruction, named "?xml" etc.

  if (!CharIsSpace(c)) {
    for (;;) {
      if (c == u'>') return;
      if (c == u'/') {
        closeFlag = true;
        c = Next();
        break;
      }
      if (c == u'<') return TakeBackStray();
      if constexpr (requires { self.AppendNameRun(c); }) {
        c = self.AppendNameRun(c);
      } else {
        self.AppendName(c);
        c = Next();
      }
      if (CharIsSpace(c)) break;
    }
  }

  while (c != u'>') {
    // A `/` counts only when nothing but `>` follows it.
    closeFlag = false;
    c = SkipSpace(c);
    const std::size_t nameStart = self.Position() - 1;
    if constexpr (requires { self.SkipNameChars(c); }) {
      c = self.SkipNameChars(c);
    } else {
      while (TagIsNameChar(c))
        c = Next();
    }
    const std::size_t nameEnd = self.Position() - 1;
    if (c == u'<') return BreakTag();
    if (c == u'/') closeFlag = true;
    // Also without a `/`, so that white space before `=` still leads to the value.
    c = SkipSpace(c);
    if (c != u'=') {
      if (nameEnd != nameStart) {
        self.AddNameOnly(nameStart, nameEnd);
      } else if (c != u'>') {
        c = Next();  // a unit that starts no attribute is passed over
      }
      continue;
    }
    c = SkipSpace(Next());
    if (c == u'"' || c == u'\'') {
      const std::size_t valueStart = self.Position();
      // The value runs to the quote; a `<` before it is a stray one.
      if (self.FindQuoteOrLess(c) == u'<') return TakeBackStray();
      const std::size_t valueEnd = self.Position() - 1;
      // Cut off by the end of input after the quote, the attribute is not added.
      c = Next();
      self.AddAttribute(nameStart, nameEnd, valueStart, valueEnd);
      continue;
    }
    const std::size_t valueStart = self.Position() - 1;
    for (;;) {
      if (c == u'>' || CharIsSpace(c)) {
        self.AddAttribute(nameStart, nameEnd, valueStart, self.Position() - 1);
        break;
      }
      if (c == u'<') return TakeBackStray();
      if (c == u'/') {
        c = Next();
        if (c == u'>') {
          self.SetTagType(TagType::Single);
          // Without the `/` before the `>`.
          self.AddAttribute(nameStart, nameEnd, valueStart, self.Position() - 2);
          break;
        }
        continue;  // the `/` stays in the value; `c` is looked at again
      }
      c = Next();
    }
  }
  if (closeFlag) self.SetTagType(TagType::Single);
}

template <class TReader>
void CTagGrammar<TReader>::ReadSpecial(char16_t opener) {
  bool nameDone = false;
  if (opener == u'%') {
    ReadUntil(u"%>", true, nameDone);
  } else {
    const char16_t c = Next();
    if (c == u'<') return TakeBackStray();
    if (CharIsSpace(c)) {
      nameDone = true;
      ReadUntil(u">", true, nameDone);
    } else {
      Self().AppendName(c);
      if (c == u'-') {
        const char16_t d = Next();
        if (d == u'-') {
          // A comment: quotes in it mean nothing.
          nameDone = true;
          ReadUntil(u"-->", false, nameDone);
        } else if (CharIsSpace(d)) {
          nameDone = true;
          ReadUntil(u">", true, nameDone);
        } else {
          Self().AppendName(d);
          ReadUntil(u">", true, nameDone);
        }
      } else if (c == u'[') {
        ReadAfterBracket();
      } else {
        ReadUntil(u">", true, nameDone);
      }
    }
  }
  Self().SetTagType(TagType::Single);
  Self().AddMarker(true);
}

// After "<![": a CDATA section, or other markup up to `>`.
template <class TReader>
void CTagGrammar<TReader>::ReadAfterBracket() {
  for (const char16_t expected : std::u16string_view(u"CDATA[")) {
    if (Next() != expected) {
      bool nameDone = false;
      return ReadUntil(u">", true, nameDone);
    }
  }
  // Only a `>` that completes "]]>" ends the section; `last` and `beforeLast` are the two units
  // read before `c` since "<![CDATA[".
  char16_t beforeLast = 0;
  char16_t last = 0;
  for (;;) {
    const char16_t c = Next();
    if (c == u'>' && last == u']' && beforeLast == u']') break;
    beforeLast = last;
    last = c;
  }
  Self().SetName(u"![CDATA[");
}

// Reads units until the last ones read, counted since the start or since the end of the last
// quoted stretch, equal `terminator` (at most 3 units). Until `nameDone` is set by the first
// white space, every unit is also appended to the name. With `quotes` on, a quote character
// opens a stretch that runs to the same quote and is skipped as a whole, so a terminator inside
// quotes does not end the markup. A name that ran into the terminator loses it again.
template <class TReader>
void CTagGrammar<TReader>::ReadUntil(std::u16string_view terminator, bool quotes, bool& nameDone) {
  char16_t window[3] = {};
  std::size_t filled = 0;
  const std::size_t length = terminator.size();
  for (;;) {
    const char16_t c = Next();
    if (!nameDone) {
      if (CharIsSpace(c)) {
        nameDone = true;
      } else {
        Self().AppendName(c);
      }
    }
    if (quotes && (c == u'"' || c == u'\'')) {
      ReadUntil(std::u16string_view(&c, 1), false, nameDone);
      filled = 0;
      continue;
    }
    if (filled < length) {
      window[filled++] = c;
    } else {
      std::copy(window + 1, window + length, window);
      window[length - 1] = c;
    }
    if (filled == length && std::u16string_view(window, length) == terminator) break;
  }
  if (!nameDone) Self().TrimName(terminator);
}

}  // namespace tagvert::detail
