// Tagvert: the storage's bulk reads: the whole input at once, and runs up to a stop unit (the
// next `<`, the next IF code), taken straight from the input buffer where no hook would act.
// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <type_traits>

#include "ifcodec/if_code_range.h"
#include "storage/data_storage.h"
#include "storage/input_scan.h"
#include "storage/unit_scan.h"
#include "storage/utf8.h"

namespace tagvert {
namespace {

// ReadAllUnits backs its buffer's memory ahead of the decoding after each step of input, with
// some slack (in units) beyond what the rest of the input is expected to give, and at most a
// window (in units) ahead of the units decoded: pages backed beyond the last unit are memory
// taken fresh and given back unused.
constexpr std::uint64_t kBackAheadStep = 0x100000;
constexpr std::size_t kBackAheadSlack = 0x10000;
constexpr std::size_t kBackAheadWindow = 0x400000;

// The bytes of UTF-8 input that ReadAllUnits decodes into a narrow buffer of their own size
// before it takes room for the whole input: text in another script than Latin widens the buffer
// within them, mostly, and then the narrow block of the input's size is never taken.
constexpr std::uint32_t kFirstLookBytes = 0x10000;

// The stop unit of ReadRunBeforeCode.
constexpr auto kIsIfCode = [](char16_t ch) { return IsIfCode(ch); };

// Bytes decoded between two looks at the stop flag (the last character may end beyond them).
constexpr std::uint32_t kStopCheckBytes = 256;
// Bytes DecodeAsciiAndTwoByte takes at most in one call, after which the stop flag is looked at:
// more than a block, as a call and the block's set-up cost as much as a few steps and Latin-script
// text has few characters that end the steps. A few microseconds of decoding.
constexpr std::uint32_t kStepWindowBytes = 4096;

// The four and the eight bytes at `p` as little-endian words (one load on most processors).
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t LoadLe64(const std::uint8_t* p) {
  return LoadLe32(p) | (std::uint64_t{LoadLe32(p + 4)} << 32);
}

// Whether a three-byte form's `value` is taken by DecodeUtf8Run: well-formed (neither overlong
// nor a surrogate) and not in the IF's code range, which follows the surrogates: one test for
// both, as cheap as the test for the surrogates alone. The first code of a buffer is left with
// the surrogates to DecodeUtf8Char, after which DecodeUtf8Units notes it for the IF writer; once
// noted (`ifCode`), codes are taken too (TakesNotedCode, looked at only when this fails).
constexpr bool IsThreeByteValue(std::uint32_t value) {
  static_assert(kIfCodeFirst == 0xE000 && kIfCodeLast == 0xEFFF);
  return value >= 0x800 && value - 0xD800 >= 0x1800;
}
constexpr bool TakesNotedCode(std::uint32_t value, bool ifCode) {
  return ifCode && value >= kIfCodeFirst && value <= kIfCodeLast;
}

// Decodes the run of well-formed two- and three-byte characters at buffer[pos] into `to`, each
// starting before `end` (below which four bytes are buffered), pairs of three-byte ones before
// `pairEnd` (their second before `end`, eight bytes buffered); returns the position reached:
// the first byte of anything else, left to DecodeUtf8Char (ASCII, four-byte and ill-formed
// sequences, overlong forms and surrogates included). Text in Cyrillic, Greek, CJK and kana is
// mostly such runs: a character is one word, its lead and continuation bytes tested together,
// and three-byte ones come two to a word where they can.
inline std::uint32_t DecodeUtf8Run(const std::uint8_t* buffer, std::uint32_t pos, std::uint32_t end,
                                   std::uint32_t pairEnd, char16_t*& to, bool ifCode) {
  while (pos < end) {
    const std::uint32_t w = LoadLe32(buffer + pos);
    if ((w & 0xC0C0F0) == 0x8080E0) {
      // 1110xxxx 10xxxxxx 10xxxxxx: U+0800..U+FFFF but the surrogates.
      const std::uint32_t value = ((w & 0x0F) << 12) | ((w & 0x3F00) >> 2) | ((w >> 16) & 0x3F);
      if (!IsThreeByteValue(value) && !TakesNotedCode(value, ifCode)) break;
      *to++ = static_cast<char16_t>(value);
      pos += 3;
      // Those after it two at a time, their values in the bits 0..15 and 24..39.
      while (pos < pairEnd) {
        const std::uint64_t x = LoadLe64(buffer + pos);
        if ((x & 0xC0C0F0C0C0F0) != 0x8080E08080E0) break;
        const std::uint64_t values =
            ((x & 0x0F00000F) << 12) | ((x & 0x3F00003F00) >> 2) | ((x & 0x3F00003F0000) >> 16);
        const auto first = static_cast<std::uint32_t>(values & 0xFFFF);
        const auto second = static_cast<std::uint32_t>((values >> 24) & 0xFFFF);
        if ((!IsThreeByteValue(first) && !TakesNotedCode(first, ifCode)) ||
            (!IsThreeByteValue(second) && !TakesNotedCode(second, ifCode))) {
          break;
        }
        to[0] = static_cast<char16_t>(first);
        to[1] = static_cast<char16_t>(second);
        to += 2;
        pos += 6;
      }
    } else if ((w & 0xC0E0) == 0x80C0 && (w & 0x1E) != 0) {
      // 110xxxxx 10xxxxxx with a lead of C2..DF (C0 and C1 begin only overlong forms).
      *to++ = static_cast<char16_t>(((w & 0x1F) << 6) | ((w >> 8) & 0x3F));
      pos += 2;
    } else {
      break;
    }
  }
  return pos;
}

#if defined(TAGVERT_INPUT_SCAN_SSE2)
// Decodes ASCII and the two-byte characters between it at buffer[pos..end) into `to`, which
// has room for `end - pos` units, while sixteen bytes are left, sixteen at least at the start;
// returns the position reached: fewer than sixteen bytes before `end`, or the first byte of
// anything else (three- and four-byte and ill-formed sequences; into bytes, `Unit`
// std::uint8_t, a two-byte character beyond U+00FF too), left to the caller. A two-byte
// character may start at the last byte before `end`: the byte at `end` is buffered. Text has
// an ASCII run around nearly every accented Latin letter, and text that mixes scripts around
// every Greek or Cyrillic word: here a step of sixteen bytes is copied (into UTF-16, widened)
// up to the first other byte, and a two-byte character there is decoded on the spot, without
// leaving the loop for each run.
template <class Unit>
inline std::uint32_t DecodeAsciiAndTwoByte(const std::uint8_t* buffer, std::uint32_t pos,
                                           std::uint32_t end, Unit*& to) {
  const __m128i zero = _mm_setzero_si128();
  const std::uint8_t* in = buffer + pos;
  // The last place a step may start; a step of thirty-two bytes starts before `pairBound`.
  const std::uint8_t* const last = buffer + end - 16;
  [[maybe_unused]] const std::uint8_t* const pairBound = buffer + (end >= 31 ? end - 31 : 0);
  Unit* out = to;
  do {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    if constexpr (sizeof(Unit) == 1) {
      // Bytes to bytes: thirty-two a step while both halves are ASCII, one test for two loads
      // (the ASCII runs of Latin-script text are long). Widened, pairs were no faster.
      if (in < pairBound) {
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
        if (_mm_movemask_epi8(_mm_or_si128(bytes, second)) == 0) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
          _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), second);
          in += 32;
          out += 32;
          continue;
        }
      }
    }
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
    // Sixteen units written, those from the first non-ASCII byte on as room.
    if constexpr (sizeof(Unit) == 1) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
    }
    if (high != 0) {
      const auto ascii = static_cast<std::size_t>(std::countr_zero(high));
      in += ascii;
      out += ascii;
      // 110xxxxx 10xxxxxx with a lead of C2..DF (C0 and C1 begin only overlong forms); into
      // bytes, C2 or C3 (U+0080..U+00FF).
      const std::uint32_t w = in[0] | (std::uint32_t{in[1]} << 8);
      constexpr std::uint32_t kLeadMask = sizeof(Unit) == 1 ? 0xC0FE : 0xC0E0;
      constexpr std::uint32_t kLead = sizeof(Unit) == 1 ? 0x80C2 : 0x80C0;
      if ((w & kLeadMask) != kLead || (w & 0x1E) == 0) break;
      *out++ = static_cast<Unit>(((w & 0x1F) << 6) | ((w >> 8) & 0x3F));
      in += 2;
      continue;
    }
    in += 16;
    out += 16;
  } while (in <= last);
  to = out;
  return static_cast<std::uint32_t>(in - buffer);
}
#endif

// Decodes the UTF-8 bytes buffer[pos..limit) to `to` as DecodeUtf8 does, up to a character not
// wholly buffered (`filled` bytes are), a character beyond U+FFFF whose low half would reach
// `hookAt`, or a stop request; returns the position reached and advances `to`, which has room
// for `limit - pos` units. With `Unit` std::uint8_t (a narrow buffer, CUnitBuffer) it also
// stops before the first character that gives no unit below U+0100 (left to GetChar; the
// buffer then widens). A unit of the IF's code range, which DecodeUtf8Run leaves to the general
// decoder here, sets `ifCode`: the buffer's units need no other look for codes.
template <class Unit>
inline std::uint32_t DecodeUtf8Units(const std::uint8_t* buffer, std::uint32_t pos,
                                     std::uint32_t limit, std::uint32_t filled,
                                     std::uint64_t hookAt, Unit*& to, const std::atomic<bool>& stop,
                                     bool& ifCode) {
  // DecodeAsciiAndTwoByte's steps end before `stepLimit`.
  [[maybe_unused]] const std::uint32_t stepLimit = std::min(limit, filled - 1);
  while (pos < limit) {
    if (stop.load(std::memory_order_relaxed)) break;
    const std::uint32_t blockEnd = limit - pos > kStopCheckBytes ? pos + kStopCheckBytes : limit;
    // A character of DecodeUtf8Run starts before the block's end, with four bytes buffered
    // (below `wordEnd`); a pair of them, the second three bytes after the first, with eight
    // (below `pairEnd`).
    const std::uint32_t wordEnd = std::min(blockEnd, filled >= 3 ? filled - 3 : 0);
    const std::uint32_t pairEnd =
        std::min(blockEnd >= 3 ? blockEnd - 3 : 0, filled >= 7 ? filled - 7 : 0);
    while (pos < blockEnd) {
      const std::uint8_t* p = buffer + pos;
      const std::uint8_t b = p[0];
      if (b < 0x80) {
#if defined(TAGVERT_INPUT_SCAN_SSE2)
        // With the two-byte characters between it, while sixteen bytes are left; the second
        // byte of a character at the last one is buffered.
        const std::uint32_t end = std::min(stepLimit, pos + kStepWindowBytes);
        if (end - pos >= 16) {
          pos = DecodeAsciiAndTwoByte(buffer, pos, end, to);
          if constexpr (sizeof(Unit) == 2) {
            // Text that mixes ASCII markup with CJK goes from one to the other without the
            // block loop: where the steps stopped, a run of two- and three-byte characters
            // whose words (and pairs' eight bytes) lie before `end`, then the steps again
            // while sixteen bytes are left. A run that ends the steps' window early goes on in
            // the block loop.
            for (;;) {
              const std::uint32_t reached =
                  DecodeUtf8Run(buffer, pos, end - 3, end - 7, to, ifCode);
              if (reached == pos || end - reached < 16) {
                pos = reached;
                break;
              }
              pos = DecodeAsciiAndTwoByte(buffer, reached, end, to);
            }
          }
          continue;
        }
#endif
        // ASCII bytes sixteen at a time, up to the first other byte, while sixteen are left:
        // `to` has room for them.
        if (limit - pos >= 16) {
          const auto ascii = static_cast<std::uint32_t>(
              CopyAsciiPrefix(p, std::min(limit - pos, kStopCheckBytes), to));
          to += ascii;
          pos += ascii;
        } else {
          *to++ = b;
          ++pos;
        }
        continue;
      }
      if constexpr (sizeof(Unit) == 1) {
        // U+0080..U+00FF: lead byte 0xC2 or 0xC3 and a continuation byte (never an overlong form).
        if ((b != 0xC2 && b != 0xC3) || filled - pos < 2 || (p[1] & 0xC0) != 0x80) return pos;
        *to++ = static_cast<std::uint8_t>(((b & 0x03) << 6) | (p[1] & 0x3F));
        pos += 2;
      } else {
        const std::uint32_t runEnd = DecodeUtf8Run(buffer, pos, wordEnd, pairEnd, to, ifCode);
        if (runEnd != pos) {
          pos = runEnd;
          continue;
        }
        // As DecodeUtf8; a character not wholly buffered is left to GetChar, which refills.
        const CUtf8Char c = DecodeUtf8Char(p, filled - pos);
        if (c.length == 0) return pos;
        if (c.value >= kIfCodeFirst && c.value <= kIfCodeLast) ifCode = true;
        if (c.value >= kFirstSupplementary) {
          // The low half is delivered by a read of its own, before which the hook may act.
          if (pos + 4 >= hookAt) return pos;
          *to++ = HighSurrogateOf(c.value);
          *to++ = LowSurrogateOf(c.value);
        } else {
          *to++ = static_cast<char16_t>(c.value);
        }
        pos += c.length;
      }
    }
  }
  return pos;
}

}  // namespace

void CDataStorage::ReadRunBeforeLess(std::u16string& out) {
  ReadRun(&out, [](char16_t ch) { return ch == u'<'; });
}

void CDataStorage::ReadAllUnits(CUnitBuffer& out) {
  // Every unit decoded here from UTF-8 or through GetChar is looked at for the IF's code range
  // on the way (see DecodeUtf8Units and CUnitBuffer::PushBack); UTF-16 input is copied without.
  if (out.Size() == 0 || out.Narrow()) out.MarkFreeOfIfCodes();
  // A narrow buffer is filled in bulk from UTF-8 only; other input is read into a wide one.
  if (out.Narrow() && m_inputMode != EncodingMode::Utf8) out.Widen();
  // A UTF-8 byte gives at most one unit (a four-byte character two), a UTF-16 unit takes two.
  const auto unitsOf = [this](std::uint64_t bytes) {
    return m_inputMode == EncodingMode::Utf16 ? bytes / 2 + 1 : bytes + 1;
  };
  // The room for the rest of the input, taken at once where its size is known; for a narrow
  // buffer only once its first look is decoded (or it widened there), up to `lookEnd`.
  std::size_t room = 0;
  std::uint64_t lookEnd = 0;
  if (m_inputSize > GetInputConsumed()) {
    const std::uint64_t units = unitsOf(m_inputSize - GetInputConsumed());
    // Guard: size overflow
    if (units < SIZE_MAX / sizeof(char16_t) - out.Size())
      room = out.Size() + static_cast<std::size_t>(units);
  }
  if (out.Narrow() && room > out.Size() + kFirstLookBytes) {
    lookEnd = GetInputConsumed() + kFirstLookBytes;
    out.Reserve(out.Size() + kFirstLookBytes);
  } else {
    out.Reserve(room);
  }
  // Where the size is known, the buffer's memory is backed ahead of the decoding, up to what
  // the rest of the input gives at the rate of units per byte seen so far (all of a reserve
  // for ASCII text, a third of it for CJK text in UTF-8), worked out again after each MiB, and
  // never beyond the units the rest can give or a window ahead of the units.
  const std::uint64_t firstByte = GetInputConsumed();
  const std::size_t firstUnit = out.Size();
  std::uint64_t nextBackAhead = firstByte + kBackAheadStep;
  const auto backAhead = [&] {
    if (GetInputConsumed() < nextBackAhead || m_inputSize <= GetInputConsumed()) return;
    nextBackAhead = GetInputConsumed() + kBackAheadStep;
    const std::uint64_t consumed = GetInputConsumed() - firstByte;
    const std::uint64_t rest = m_inputSize - GetInputConsumed();
    const double rate = static_cast<double>(out.Size() - firstUnit) / static_cast<double>(consumed);
    const double expected =
        static_cast<double>(rest) * rate * (17.0 / 16.0) + static_cast<double>(kBackAheadSlack);
    const double most =
        static_cast<double>(std::min<std::uint64_t>(unitsOf(rest), kBackAheadWindow));
    out.BackAhead(out.Size() + static_cast<std::size_t>(std::min(expected, most)));
  };
  for (;;) {
    if (lookEnd != 0 && (!out.Narrow() || GetInputConsumed() >= lookEnd)) {
      out.Reserve(room);
      lookEnd = 0;
    }
    backAhead();
    if (NothingPendingToRead() && !m_endOfInput && m_inputBuffer && !StopRequested() &&
        (m_inputMode == EncodingMode::Utf8 || m_inputMode == EncodingMode::Utf16)) {
      ReadBufferedUnits(out, lookEnd);
    }
    // One unit through the virtual GetChar: its hooks act, or it needs more bytes or decoding.
    char16_t ch = 0;
    if (!GetChar(ch)) {
      // At the end of the input its buffer (up to 256 KiB) has served; it goes back before the
      // larger stages of the conversion. A push-back needs only the last unit, kept apart.
      if (m_endOfInput && m_inputPosition == m_inputFilled) {
        m_inputBuffer.reset();
        m_inputBufferSize = 0;
        // So do the pages backed ahead of the units beyond those that came.
        out.DiscardUnused();
      }
      return;
    }
    out.PushBack(ch);
  }
}

void CDataStorage::ReadBufferedUnits(CUnitBuffer& out, std::uint64_t lookEnd) {
  // Units are read in bulk while the bytes consumed before them stay below the read hook.
  const std::uint64_t bufferBase = m_inputRead - m_inputFilled;
  const std::uint64_t hookAt = m_readHookAt <= bufferBase
                                   ? 0
                                   : std::min<std::uint64_t>(m_readHookAt - bufferBase, UINT32_MAX);
  const std::uint32_t filled = m_inputFilled;
  std::uint32_t limit = static_cast<std::uint32_t>(std::min<std::uint64_t>(hookAt, filled));
  // A narrow buffer's first look ends before `lookEnd` (where it is not 0); a character may
  // start before it and end beyond.
  if (lookEnd != 0 && lookEnd > bufferBase)
    limit = static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, lookEnd - bufferBase));
  const std::uint8_t* const buffer = m_inputBuffer.get();
  const std::atomic<bool>& stop = *m_stopFlag;
  std::uint32_t pos = m_inputPosition;
  if (out.Narrow()) {
    // Only UTF-8 is decoded into a narrow buffer here; UTF-16 input widens it at its first unit.
    if (m_inputMode != EncodingMode::Utf8) return;
    std::uint8_t* const firstByte = out.ExtendBytes(limit > pos ? limit - pos : 0);
    std::uint8_t* toByte = firstByte;
    bool ifCode = false;  // none in a narrow buffer
    pos = DecodeUtf8Units(buffer, pos, limit, filled, hookAt, toByte, stop, ifCode);
    const auto units = static_cast<std::size_t>(toByte - firstByte);
    out.Commit(units);
    if (units != 0) m_lastChar = toByte[-1];
    m_charCount += static_cast<std::uint32_t>(units);
    m_inputPosition = pos;
    return;
  }
  // Room for a unit per byte of UTF-8 (a four-byte character gives two), per two of UTF-16: room
  // asked beyond the units would grow a buffer reserved for the whole input at its last piece.
  const std::uint32_t bytes = limit > pos ? limit - pos : 0;
  char16_t* const first =
      out.Extend(m_inputMode == EncodingMode::Utf8 ? bytes : (std::size_t{bytes} + 1) / 2);
  char16_t* to = first;
  if (m_inputMode == EncodingMode::Utf8) {
    bool ifCode = !out.FreeOfIfCodes();
    pos = DecodeUtf8Units(buffer, pos, limit, filled, hookAt, to, stop, ifCode);
    if (ifCode) out.NoteIfCodeUnits();
  } else {
    // Copied as they come: the buffer may hold codes from here on.
    out.NoteIfCodeUnits();
    // Units start at positions below `end` (a whole unit buffered, no hook due).
    const std::uint32_t end = filled > 0 ? std::min(limit, filled - 1) : 0;
    while (pos < end && !stop.load(std::memory_order_relaxed)) {
      const std::uint32_t blockEnd = std::min(end, pos + 8192);
      if (std::endian::native == std::endian::little && !m_inputByteSwap) {
        const std::uint32_t units = (blockEnd - pos + 1) / 2;
        std::memcpy(to, buffer + pos, 2 * std::size_t{units});
        to += units;
        pos += 2 * units;
      } else {
        for (; pos < blockEnd; pos += 2)
          *to++ = DecodeUtf16At(pos);
      }
    }
  }
  const auto units = static_cast<std::size_t>(to - first);
  out.Commit(units);
  if (units != 0) m_lastChar = to[-1];
  m_charCount += static_cast<std::uint32_t>(units);
  m_inputPosition = pos;
}

std::uint32_t CDataStorage::BufferedLimit() const {
  const std::uint64_t bufferBase = m_inputRead - m_inputFilled;
  if (m_readHookAt >= bufferBase + m_inputFilled) return m_inputFilled;
  return m_readHookAt <= bufferBase ? 0 : static_cast<std::uint32_t>(m_readHookAt - bufferBase);
}

void CDataStorage::PushBackStop(char16_t unit, std::uint32_t next) {
  m_lastChar = unit;
  m_inputPosition = next;
  m_pushedBack = true;
}

template <class IsStop>
bool CDataStorage::ReadOneRunUnit(std::u16string* out, const IsStop& isStop) {
  // One unit through the virtual GetChar: its hooks act, or it needs more bytes or decoding.
  char16_t ch = 0;
  if (!GetChar(ch)) return false;
  if (isStop(ch)) {
    UngetChar();
    return false;
  }
  if (out != nullptr) out->push_back(ch);
  return true;
}

void CDataStorage::ReadRunBeforeCode(std::u16string* out) {
  if (m_inputMode == EncodingMode::Utf16 && !m_inputByteSwap &&
      std::endian::native == std::endian::little) {
    ReadUtf16RunBeforeCode(out);
    return;
  }
  ReadRun(out, kIsIfCode);
}

void CDataStorage::ReadUtf16RunBeforeCode(std::u16string* out) {
  for (;;) {
    // The units that GetChar would deliver without any hook acting: nothing pending, no stop
    // request (looked at once per stretch, as PutUnits explains), and only units that start
    // before the byte at which the read hook is due and lie whole in the buffer.
    if (NothingPendingToRead() && !m_endOfInput && m_inputBuffer && !StopRequested()) {
      const std::uint32_t limit = BufferedLimit();
      const std::uint32_t end = m_inputFilled > 0 ? std::min(limit, m_inputFilled - 1) : 0;
      const std::uint32_t pos = m_inputPosition;
      const std::size_t available = end > pos ? (end - pos + 1) / 2 : 0;
      const std::uint8_t* const from = m_inputBuffer.get() + pos;
      const std::size_t units = UnitsFindIfCode(from, available);
      if (out != nullptr && units != 0) {
        const std::size_t old = out->size();
        out->resize(old + units);
        std::memcpy(out->data() + old, from, 2 * units);
      }
      m_charCount += static_cast<std::uint32_t>(units);
      const std::uint32_t next = pos + static_cast<std::uint32_t>(2 * units);
      if (units != 0) m_lastChar = DecodeUtf16At(next - 2);
      m_inputPosition = next;
      if (units < available) {
        // The code is read and pushed back, as GetChar and UngetChar would leave it.
        PushBackStop(DecodeUtf16At(next), next + 2);
        return;
      }
    }
    if (!ReadOneRunUnit(out, kIsIfCode)) return;
  }
}

template <class IsStop>
bool CDataStorage::ReadBufferedUtf8Run(std::u16string* out, IsStop& isStop, std::uint32_t limit) {
  const std::uint8_t* const buffer = m_inputBuffer.get();
  const std::uint32_t start = m_inputPosition;
  const std::atomic<bool>& stop = *m_stopFlag;
  bool stopped = false;
  const std::uint8_t* p = buffer + start;
  const std::uint8_t* const last = buffer + limit;
  for (; p < last && *p < 0x80; ++p) {
    if (stop.load(std::memory_order_relaxed)) break;
    if (isStop(*p)) {
      stopped = true;
      break;
    }
  }
  const auto pos = static_cast<std::uint32_t>(p - buffer);
  if (out != nullptr && pos != start) {
    const std::size_t old = out->size();
    out->resize(old + (pos - start));
    std::copy(buffer + start, buffer + pos, out->begin() + static_cast<std::ptrdiff_t>(old));
  }
  if (pos != start) m_lastChar = buffer[pos - 1];
  m_charCount += static_cast<std::uint32_t>(pos - start);
  m_inputPosition = pos;
  // The stop unit is read and pushed back, as GetChar and UngetChar would leave it.
  if (stopped) PushBackStop(buffer[pos], pos + 1);
  return stopped;
}

template <class IsStop>
bool CDataStorage::ReadBufferedUtf16Run(std::u16string* out, IsStop& isStop, std::uint32_t limit) {
  const std::uint8_t* const buffer = m_inputBuffer.get();
  const std::uint32_t start = m_inputPosition;
  const std::atomic<bool>& stop = *m_stopFlag;
  // Units start at positions below `end` (a whole unit buffered, no hook due).
  const std::uint32_t end = m_inputFilled > 0 ? std::min(limit, m_inputFilled - 1) : 0;
  std::uint32_t pos = start;
  char16_t unit = 0;
  bool stopped = false;
  const bool swapped = m_inputByteSwap;
  // The unit at `p` in the run's byte order; `swap` is fixed per run.
  auto scan = [&](auto swap) {
    const std::uint8_t* p = buffer + pos;
    const std::uint8_t* const last = buffer + end;
    for (; p < last; p += 2) {
      if (stop.load(std::memory_order_relaxed)) break;
      std::uint16_t raw;
      std::memcpy(&raw, p, 2);
      if constexpr (decltype(swap)::value)
        raw = static_cast<std::uint16_t>((raw << 8) | (raw >> 8));
      if (isStop(static_cast<char16_t>(raw))) {
        unit = static_cast<char16_t>(raw);
        stopped = true;
        break;
      }
    }
    pos = static_cast<std::uint32_t>(p - buffer);
  };
  // Bytes in memory order: little-endian input on a little-endian machine needs no swap.
  if (swapped == (std::endian::native == std::endian::little)) {
    scan(std::true_type());
  } else {
    scan(std::false_type());
  }
  const std::size_t units = (pos - start) / 2;
  if (out != nullptr && units != 0) {
    const std::size_t old = out->size();
    out->resize(old + units);
    char16_t* to = out->data() + old;
    if (std::endian::native == std::endian::little && !swapped) {
      std::memcpy(to, buffer + start, 2 * units);
    } else {
      for (std::uint32_t at = start; at < pos; at += 2)
        *to++ = DecodeUtf16At(at);
    }
  }
  if (units != 0) m_lastChar = DecodeUtf16At(pos - 2);
  m_charCount += static_cast<std::uint32_t>(units);
  m_inputPosition = pos;
  if (stopped) PushBackStop(unit, pos + 2);
  return stopped;
}

template <class IsStop>
void CDataStorage::ReadRun(std::u16string* out, IsStop isStop) {
  for (;;) {
    // The units that GetChar would deliver without any hook acting: nothing pushed back, no
    // stop request, fewer bytes consumed than the read hook waits for. They are taken straight
    // from the buffer (ASCII bytes of UTF-8, units of UTF-16).
    if (NothingPendingToRead() && !m_endOfInput && m_inputBuffer) {
      const std::uint32_t limit = BufferedLimit();
      if (m_inputMode == EncodingMode::Utf8 && ReadBufferedUtf8Run(out, isStop, limit)) return;
      if (m_inputMode == EncodingMode::Utf16 && ReadBufferedUtf16Run(out, isStop, limit)) return;
    }
    if (!ReadOneRunUnit(out, isStop)) return;
  }
}

}  // namespace tagvert
