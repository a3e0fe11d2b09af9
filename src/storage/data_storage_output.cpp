// Tagvert: the storage's output: the output buffer and its flushes, PutChar with the IF start
// rule and capture, the UTF-16 and UTF-8 encoders, the bulk writes and byte-order marks.
// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "ifcodec/if_code_range.h"
#include "storage/data_storage.h"
#include "storage/input_scan.h"
#include "storage/unit_scan.h"
#include "storage/utf8.h"

namespace tagvert {
namespace {

// Writes one unit as UTF-8 at `p` (room for three bytes); returns the byte count. UTF-8 output
// is markup: a unit that XML excludes (a control but tab, line feed and carriage return, U+FFFE,
// U+FFFF) cannot stay, and no reference may stand for it either. Vertical tab and form feed,
// white space to every reader of markup here, become a space, so that a tag they stood in
// keeps its name, attributes and end; the others become U+FFFD.
inline std::uint32_t EncodeUtf8Unit(std::uint8_t* p, char16_t ch) {
  if (ch < 0x80) {
    if (ch >= 0x20 || IsXmlControl(ch)) {
      p[0] = static_cast<std::uint8_t>(ch);
      return 1;
    }
    if (ch == 0x0B || ch == 0x0C) {
      p[0] = ' ';
      return 1;
    }
    ch = kReplacementCharacter;
  } else if (ch < 0x800) {
    p[0] = static_cast<std::uint8_t>(0xC0 | ((ch >> 6) & 0x1F));
    p[1] = static_cast<std::uint8_t>(0x80 | (ch & 0x3F));
    return 2;
  } else if (ch >= 0xFFFE) {
    ch = kReplacementCharacter;
  }
  p[0] = static_cast<std::uint8_t>(0xE0 | ((ch >> 12) & 0x0F));
  p[1] = static_cast<std::uint8_t>(0x80 | ((ch >> 6) & 0x3F));
  p[2] = static_cast<std::uint8_t>(0x80 | (ch & 0x3F));
  return 3;
}

// UnitsCopyPlainAscii for the UTF-8 writes: blocks of sixteen units in U+0020..U+007F, by far
// the most common, pass one range test (then eight), and the last units of a run of eight or
// more are taken as the run's last block of eight, over bytes already written the same (a run of
// four to seven units as its first and last four). From the first block that fails the test on,
// UnitsCopyPlainAscii decides.
inline std::size_t CopyPlainAscii(const char16_t* s, std::size_t n, std::uint8_t* out) {
  std::size_t i = 0;
#if TAGVERT_UNITS_SSE2
  // A unit lies in the range when, moved by 0x7FE0, it lies below 0x8060 (as signed lanes).
  const __m128i shift = _mm_set1_epi16(0x7FE0);
  const __m128i bound = _mm_set1_epi16(static_cast<short>(0x8060));
  const auto inRange = [&](const __m128i v) {
    return _mm_cmplt_epi16(_mm_add_epi16(v, shift), bound);
  };
  const auto plain = [&](const __m128i v) { return _mm_movemask_epi8(inRange(v)) == 0xFFFF; };
  for (; i + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
    if (_mm_movemask_epi8(_mm_and_si128(inRange(a), inRange(b))) != 0xFFFF) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
  }
  for (; i + 8 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    if (!plain(v)) break;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(v, v));
  }
  if (i < n && i + 8 > n && n >= 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n - 8));
    if (plain(v)) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + n - 8), _mm_packus_epi16(v, v));
      return n;
    }
  } else if (n >= 4 && n < 8) {
    // A short run (an end tag, a reference) as its first and its last four units.
    const __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s));
    const __m128i last = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + n - 4));
    if ((_mm_movemask_epi8(_mm_and_si128(inRange(first), inRange(last))) & 0xFF) == 0xFF) {
      const auto put = [](std::uint8_t* to, const __m128i v) {
        const std::int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(v, v));
        std::memcpy(to, &bytes, 4);
      };
      put(out, first);
      put(out + n - 4, last);
      return n;
    }
  }
#endif
  return i + UnitsCopyPlainAscii(s + i, n - i, out + i);
}

#if TAGVERT_UNITS_SSE2
// The units of `v` and `w` as sixteen bytes, and the mask of those that are U+0020..U+007F: a
// unit above U+00FF packs to 0xFF and one from U+8000 on (negative) to 0, so that every unit
// outside the range gives a byte that is no printable ASCII (negative, or below 0x20).
inline std::uint32_t PackPrintable(const __m128i v, const __m128i w, __m128i& bytes) {
  bytes = _mm_packus_epi16(v, w);
  return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(0x1F))));
}

inline __m128i Load8Units(const char16_t* s) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
}

// Writes the leading units of `s[0..n)` that are three bytes in UTF-8 (U+0800..U+D7FF and
// U+E000..U+FFFD: EncodeUtf8Unit writes them as they are) eight a step to `out`, as long as
// nine or more units are left, and returns their count (their bytes are three times as many).
// `out` has room for three bytes a unit: a step writes 26 bytes, the last two of them room left
// over that the next write covers. A step that holds another unit gives the bytes of those
// before it. CJK text is made of such runs, which the unit-by-unit path takes some twenty-five
// instructions a unit.
inline std::size_t EncodeThreeByteUnits(const char16_t* s, std::size_t n, std::uint8_t* out) {
  // A unit lies in one of the two ranges when, moved to the bottom of the signed lanes, it lies
  // below the range's length.
  const __m128i toLow = _mm_set1_epi16(0x7800);                        // U+0800 to -0x8000
  const __m128i lowEnd = _mm_set1_epi16(0x5000);                       // U+D800 likewise
  const __m128i toHigh = _mm_set1_epi16(static_cast<short>(0xA000));   // U+E000 to -0x8000
  const __m128i highEnd = _mm_set1_epi16(static_cast<short>(0x9FFE));  // U+FFFE likewise
  const __m128i sixBits = _mm_set1_epi16(0x3F);
  const __m128i middleBits = _mm_set1_epi16(0x3F00);
  const __m128i leadMarks = _mm_set1_epi16(static_cast<short>(0x80E0));
  const __m128i lastMark = _mm_set1_epi16(0x80);
  const __m128i firstThree = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i nextThree = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000), 0x0000FFFF,
                                          static_cast<int>(0xFF000000));
  // Lanes of 32 bits that hold a unit's three bytes each, two by two as the six bytes of a
  // 64-bit half.
  const auto joinPairs = [&](const __m128i v) {
    return _mm_or_si128(_mm_and_si128(v, firstThree),
                        _mm_and_si128(_mm_srli_epi64(v, 8), nextThree));
  };
  std::uint8_t* p = out;
  std::size_t i = 0;
  while (n - i >= 9) {
    const __m128i v = Load8Units(s + i);
    const __m128i three = _mm_or_si128(_mm_cmplt_epi16(_mm_add_epi16(v, toLow), lowEnd),
                                       _mm_cmplt_epi16(_mm_add_epi16(v, toHigh), highEnd));
    const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(three));
    // Each unit's first two bytes as a 16-bit lane, its last byte as another.
    const __m128i firstTwo = _mm_or_si128(_mm_or_si128(_mm_srli_epi16(v, 12), leadMarks),
                                          _mm_and_si128(_mm_slli_epi16(v, 2), middleBits));
    const __m128i last = _mm_or_si128(_mm_and_si128(v, sixBits), lastMark);
    const __m128i low = joinPairs(_mm_unpacklo_epi16(firstTwo, last));
    const __m128i high = joinPairs(_mm_unpackhi_epi16(firstTwo, last));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), low);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 6), _mm_unpackhi_epi64(low, low));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 12), high);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 18), _mm_unpackhi_epi64(high, high));
    if (mask != 0xFFFF) {
      const std::size_t k = static_cast<std::size_t>(std::countr_one(mask)) / 2;
      i += k;
      break;
    }
    i += 8;
    p += 24;
  }
  return i;
}
#endif

// Writes `s[0..n)` as UTF-8 at `out` as EncodeUtf8Unit writes each unit, up to the first
// surrogate (which pairs up, or not, with what follows: PutChar's work); returns how many units
// it wrote and moves `out` past their bytes. `out` has room for three bytes a unit. Printable
// ASCII is taken sixteen units a test, the last units of a stretch as one test over its first
// and last eight or four (the bytes of the overlap written twice, the same); a block that holds
// other units gives the bytes of those before the first of them, and the others go one by one;
// with `kThreeByteSteps`, runs of three-byte characters with nine or more units left go eight a
// step (EncodeThreeByteUnits). Without it the loop is the one for text of few such characters:
// it is inlined into PutUnits, and the test and the call of the steps would cost that common
// path registers and instructions at every call.
template <bool kThreeByteSteps>
inline std::size_t EncodeUtf8Run(const char16_t* s, std::size_t n, std::uint8_t*& out) {
  std::uint8_t* p = out;
  std::size_t i = 0;
  while (i < n) {
#if TAGVERT_UNITS_SSE2
    std::uint32_t plain = 0;  // the lanes of the block looked at that are printable ASCII
    std::size_t block = 0;    // the units written from it
    __m128i bytes;
    for (; n - i >= 16; i += 16, p += 16) {
      plain = PackPrintable(Load8Units(s + i), Load8Units(s + i + 8), bytes);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p), bytes);
      if (plain != 0xFFFF) break;
    }
    const std::size_t rest = n - i;
    if (rest >= 16) {
      block = 16;
    } else if (rest >= 8) {
      plain = PackPrintable(Load8Units(s + i), Load8Units(s + n - 8), bytes);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(p), bytes);
      if (plain == 0xFFFF) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p + rest - 8), _mm_srli_si128(bytes, 8));
        p += rest;
        break;
      }
      block = 8;
    } else if (rest >= 4) {
      const __m128i v =
          _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i)),
                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + n - 4)));
      plain = PackPrintable(v, v, bytes) & 0xFF;
      const auto first = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
      std::memcpy(p, &first, 4);
      if (plain == 0xFF) {
        const auto last = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 4)));
        std::memcpy(p + rest - 4, &last, 4);
        p += rest;
        break;
      }
      block = 4;
    }
    // The printable units that lead the block are written.
    const std::size_t ahead = std::min(static_cast<std::size_t>(std::countr_one(plain)), block);
    i += ahead;
    p += ahead;
#endif
    // Units one by one: those that are no printable ASCII, the printable ones among them, and
    // the last few. Printable ASCII and two-byte characters, which text in most scripts mixes
    // (words and the spaces between them), take one path without a branch on which of the two
    // a unit is: two bytes are stored, and the pointer moves by one or two. A printable unit
    // with four or more after it goes back to the blocks.
    for (; i < n; ++i) {
      const char16_t ch = s[i];
      if (static_cast<unsigned>(ch - 0x20) < 0x800u - 0x20u) {
        const bool two = ch >= 0x80;
        p[0] = static_cast<std::uint8_t>(two ? 0xC0 | (ch >> 6) : ch);
        p[1] = static_cast<std::uint8_t>(0x80 | (ch & 0x3F));
        p += two ? 2 : 1;
#if TAGVERT_UNITS_SSE2
        if (!two && n - i > 4) {
          ++i;
          break;
        }
#endif
        continue;
      }
      if (IsSurrogate(ch)) {
        out = p;
        return i;
      }
#if TAGVERT_UNITS_SSE2
      if constexpr (kThreeByteSteps) {
        if (n - i >= 9 && ch >= 0x800) {
          const std::size_t three = EncodeThreeByteUnits(s + i, n - i, p);
          if (three != 0) {
            p += 3 * three;
            i += three - 1;
            continue;
          }
        }
      }
#endif
      p += EncodeUtf8Unit(p, ch);
    }
  }
  out = p;
  return n;
}

#if TAGVERT_UNITS_SSE2
// How many of the bytes `p[0..n)` lead a three-byte UTF-8 character (0xE0..0xEF), counted in a
// sample of 512 bytes at most: 32 windows of 16 bytes spread evenly over them (all of them when
// fewer). Sets `looked` to the bytes counted.
inline std::uint32_t CountThreeByteLeads(const std::uint8_t* p, std::uint32_t n,
                                         std::uint32_t& looked) {
  constexpr std::uint32_t kWindows = 32;
  constexpr std::uint32_t kWindow = 16;
  const __m128i highNibble = _mm_set1_epi8(static_cast<char>(0xF0));
  const __m128i lead = _mm_set1_epi8(static_cast<char>(0xE0));
  // Each window adds one to the lanes that hold a lead byte (a lane reaches 32 at most).
  __m128i counts = _mm_setzero_si128();
  const auto add = [&](const std::uint8_t* at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(_mm_and_si128(v, highNibble), lead));
  };
  std::uint32_t extra = 0;
  if (n >= kWindows * kWindow) {
    const std::uint32_t stride = (n - kWindow) / (kWindows - 1);
    const std::uint8_t* at = p;
    for (std::uint32_t k = 0; k < kWindows; ++k, at += stride)
      add(at);
    looked = kWindows * kWindow;
  } else {
    std::uint32_t i = 0;
    for (; i + kWindow <= n; i += kWindow)
      add(p + i);
    for (; i < n; ++i)
      extra += (p[i] & 0xF0) == 0xE0 ? 1 : 0;
    looked = n;
  }
  const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
  return extra + static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums)) +
         static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
}
#endif

}  // namespace

void CDataStorage::ChooseUtf8Writer() {
#if TAGVERT_UNITS_SSE2
  // The block about to be written says what the next one is likely to hold. Text in which about
  // one byte in eleven or more belongs to a three-byte character (CJK: about one in three) goes
  // the way of the steps, text with fewer than half as many (Latin and the like: none, or a
  // lone letter here and there) the inline way; in between the choice stays, so that a document
  // near the bound does not switch at every block. Both ways write the same bytes.
  std::uint32_t looked = 0;
  const std::uint32_t leads = CountThreeByteLeads(m_outputBuffer.get(), m_outputPending, looked);
  if (32 * leads >= looked) {
    m_inlineUtf8 = false;
    m_threeByteRunsUtf8 = true;
  } else if (64 * leads < looked) {
    m_inlineUtf8 = true;
    m_threeByteRunsUtf8 = false;
  }
#endif
}

void CDataStorage::Flush() {
  // The conversion has ended: a high surrogate can no longer be paired.
  if (m_pendingHighSurrogate != 0) {
    m_pendingHighSurrogate = 0;
    PutUtf8Unit(kReplacementCharacter);
  }
  WriteOutputBuffer();
}

void CDataStorage::WriteOutputBuffer() {
  if (m_outputPending == 0) return;
  if (m_inlineUtf8 || m_threeByteRunsUtf8) ChooseUtf8Writer();
  if (!m_outputStream) ThrowHResult(kEPointer);
  const std::uint32_t written = m_outputStream->Write(m_outputBuffer.get(), m_outputPending);
  if (written < m_outputPending) Fail(kStateShortWrite);
  m_outputPending = 0;
  if (m_outputCapacity < kMaxOutputCapacity) {
    // The capacity, and with it the flush size, doubles. Past kSmallCapacityLimit the memory is
    // taken once, at the largest size, so that the pages written before are used again instead
    // of fresh ones being faulted in at every doubling.
    m_outputCapacity *= 2;
    if (m_outputCapacity <= kSmallCapacityLimit) {
      m_outputBuffer = MakeLargeBlock(m_outputCapacity);
    } else if (m_outputCapacity == 2 * kSmallCapacityLimit) {
      m_outputBuffer = MakeLargeBlock(kMaxOutputCapacity);
    }
  }
}

void CDataStorage::MakeOutputRoom() {
  // A full buffer is written out without the pending high surrogate: its low half may follow.
  WriteOutputBuffer();
  // Writing before Open or after Close: there is no target to write to.
  if (!m_outputBuffer) ThrowHResult(kEPointer);
}

bool CDataStorage::PutCharPrologue(char16_t ch) {
  if (m_outputStartArmed && m_outputMode == EncodingMode::Utf16) {
    m_outputStartArmed = false;
    if (NeedsIfStartCode(ch)) PutChar(kIfBoundary);
  }
  if (m_captureOn) {
    m_captureText.push_back(ch);
    return true;
  }
  return false;
}

void CDataStorage::PutChar(char16_t ch) {
  // The start rule and capture are rare: kept out of line so that the common path saves no
  // registers.
  if ((m_outputStartArmed || m_captureOn) && PutCharPrologue(ch)) return;
  if (m_outputPending + EncodingMaxUnitBytes(m_outputMode) > m_outputCapacity) {
    MakeOutputRoom();
  }
  std::uint8_t* p = m_outputBuffer.get() + m_outputPending;
  switch (m_outputMode) {
    case EncodingMode::Utf16:
      p[0] = static_cast<std::uint8_t>(ch & 0xFF);
      p[1] = static_cast<std::uint8_t>(ch >> 8);
      m_outputPending += 2;
      break;
    case EncodingMode::Utf8:
      if (IsSurrogate(ch) || m_pendingHighSurrogate != 0) {
        PutUtf8Surrogate(ch);
      } else {
        m_outputPending += EncodeUtf8Unit(p, ch);
      }
      break;
    case EncodingMode::Single:
      EncodeSingleByte(ch);
      break;
    default:
      break;
  }
}

void CDataStorage::PutUtf8Surrogate(char16_t ch) {
  const char16_t high = m_pendingHighSurrogate;
  m_pendingHighSurrogate = 0;
  if (high != 0 && IsLowSurrogate(ch)) {
    const char32_t value = CombineSurrogates(high, ch);
    if (m_outputPending + 4 > m_outputCapacity) MakeOutputRoom();
    std::uint8_t* p = m_outputBuffer.get() + m_outputPending;
    p[0] = static_cast<std::uint8_t>(0xF0 | (value >> 18));
    p[1] = static_cast<std::uint8_t>(0x80 | ((value >> 12) & 0x3F));
    p[2] = static_cast<std::uint8_t>(0x80 | ((value >> 6) & 0x3F));
    p[3] = static_cast<std::uint8_t>(0x80 | (value & 0x3F));
    m_outputPending += 4;
    return;
  }
  // A surrogate that does not pair up is no character: U+FFFD stands for it.
  if (high != 0) PutUtf8Unit(kReplacementCharacter);
  if (IsHighSurrogate(ch)) {
    m_pendingHighSurrogate = ch;  // written with the next unit, or by the final flush
  } else {
    PutUtf8Unit(IsLowSurrogate(ch) ? kReplacementCharacter : ch);
  }
}

void CDataStorage::PutUtf8Unit(char16_t ch) {
  if (m_outputPending + 3 > m_outputCapacity) MakeOutputRoom();
  m_outputPending += EncodeUtf8Unit(m_outputBuffer.get() + m_outputPending, ch);
}

void CDataStorage::PutString(const std::u16string& s) {
  PutUnits(s.data(), s.size());
}

void CDataStorage::PutString(const char16_t* s) {
  if (s == nullptr) return;
  PutUnits(s, std::char_traits<char16_t>::length(s));
}

template <bool kThreeByteSteps>
inline std::size_t CDataStorage::EncodeIntoOutput(const char16_t* s, std::size_t n) {
  std::uint8_t* const start = m_outputBuffer.get() + m_outputPending;
  std::uint8_t* p = start;
  const std::size_t done = EncodeUtf8Run<kThreeByteSteps>(s, n, p);
  m_outputPending += static_cast<std::uint32_t>(p - start);
  return done;
}

// The stop request in the bulk operations. Stop may come from another thread at any time, and
// the converting thread's hooks (progress events, whose listeners may call Stop) run only inside
// the virtual GetChar, PutChar and Fail. So within a stretch of units that involves none of those
// calls, the flag can only change by another thread, and such a store has no order with respect
// to any particular unit: a stretch that has begun is finished as if the request had come just
// after its last unit, which a check per unit could equally have seen. The flag is therefore
// looked at before every stretch, and every stretch ends before a flush and before any virtual
// call, so a request made during an event, or before a flush, still stops before the very next
// unit, and the target never receives a flushed stretch that a check per unit would have kept
// back.
void CDataStorage::PutUnits(const char16_t* s, std::size_t n) {
  // Most writes are UTF-8 that PutChar would only encode, with room for three bytes a unit
  // before the point where PutUnitsInBulk would flush: written here, at one look at the state.
  if (m_inlineUtf8 && PlainWrite() && 3 * n <= m_outputCapacity - m_outputPending &&
      !StopRequested()) {
    const std::size_t done = EncodeIntoOutput<false>(s, n);
    if (done == n) return;
    s += done;
    n -= done;
  } else if (m_threeByteRunsUtf8) {
    PutUnitsWithThreeByteRuns(s, n);
    return;
  }
  PutUnitsInBulk(s, n);
}

void CDataStorage::PutUnitsWithThreeByteRuns(const char16_t* s, std::size_t n) {
  // PutUnits' fast path with the steps for runs of three-byte characters.
  if (PlainWrite() && 3 * n <= m_outputCapacity - m_outputPending && !StopRequested()) {
    const std::size_t done = EncodeIntoOutput<true>(s, n);
    if (done == n) return;
    s += done;
    n -= done;
  }
  PutUnitsInBulk(s, n);
}

void CDataStorage::PutUnitsInBulk(const char16_t* s, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    if (!PlainWrite() || StopRequested() ||
        (m_outputMode != EncodingMode::Utf16 && m_outputMode != EncodingMode::Utf8)) {
      // The IF start rule, capture, a waiting high surrogate, a stop request or another mode:
      // the virtual PutChar does it.
      PutChar(s[i++]);
      continue;
    }
    if (m_outputMode == EncodingMode::Utf16) {
      // PutChar flushes when the two bytes of a unit would not fit.
      if (m_outputPending + 2 > m_outputCapacity) MakeOutputRoom();
      std::uint8_t* p = m_outputBuffer.get() + m_outputPending;
      const std::size_t count =
          std::min<std::size_t>((m_outputCapacity - m_outputPending) / 2, n - i);
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, s + i, 2 * count);
      } else {
        for (std::size_t k = 0; k < count; ++k) {
          p[2 * k] = static_cast<std::uint8_t>(s[i + k] & 0xFF);
          p[2 * k + 1] = static_cast<std::uint8_t>(s[i + k] >> 8);
        }
      }
      m_outputPending += static_cast<std::uint32_t>(2 * count);
      i += count;
      continue;
    }
    // UTF-8: PutChar flushes when three bytes would not fit, whatever the unit needs; a unit is
    // written here only while it starts below `limit`.
    if (m_outputPending + 3 > m_outputCapacity) MakeOutputRoom();
    std::uint8_t* const buffer = m_outputBuffer.get();
    std::uint8_t* p = buffer + m_outputPending;
    std::uint8_t* const limit = buffer + m_outputCapacity - 2;
    while (i < n && p < limit) {
      const char16_t ch = s[i];
      if (ch < 0x80) {
        // An ASCII stretch in blocks; a control that XML excludes is encoded below.
        const std::size_t ascii = CopyPlainAscii(
            s + i, std::min<std::size_t>(n - i, static_cast<std::size_t>(limit - p)), p);
        i += ascii;
        p += ascii;
        if (ascii != 0) continue;
      }
      if (IsSurrogate(ch)) break;
      p += EncodeUtf8Unit(p, ch);
      ++i;
    }
    m_outputPending = static_cast<std::uint32_t>(p - buffer);
    // A surrogate pairs up in PutChar (with room for it: otherwise the next stretch flushes).
    if (i < n && p < limit && IsSurrogate(s[i])) PutChar(s[i++]);
  }
}

void CDataStorage::PutNarrowUnitsInBulk(const std::uint8_t* s, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    if (m_outputMode == EncodingMode::Utf16 && PlainWrite() && !StopRequested() &&
        std::endian::native == std::endian::little) {
      // The stretch PutUnits would copy, widened into the output buffer.
      if (m_outputPending + 2 > m_outputCapacity) MakeOutputRoom();
      const std::size_t count =
          std::min<std::size_t>((m_outputCapacity - m_outputPending) / 2, n - i);
      WidenBytes(s + i, count, reinterpret_cast<char16_t*>(m_outputBuffer.get() + m_outputPending));
      m_outputPending += static_cast<std::uint32_t>(2 * count);
      i += count;
      continue;
    }
    // Any other case goes through PutUnits, a widened piece at a time.
    char16_t units[256];
    const std::size_t count = std::min<std::size_t>(std::size(units), n - i);
    WidenBytes(s + i, count, units);
    PutUnits(units, count);
    i += count;
  }
}

// The IF reader's runs in place: the way back passes a run of the input buffer to the output
// without taking it into a string first.
void CDataStorage::SkipBufferedUtf16Units(std::size_t n) {
  if (n == 0) return;
  m_charCount += static_cast<std::uint32_t>(n);
  m_inputPosition += static_cast<std::uint32_t>(2 * n);
  m_lastChar = DecodeUtf16At(m_inputPosition - 2);
}

void CDataStorage::PutBOM() {
  if (m_outputCapacity - m_outputPending < 3) MakeOutputRoom();
  std::uint8_t* p = m_outputBuffer.get() + m_outputPending;
  if (m_outputMode == EncodingMode::Utf16) {
    p[0] = 0xFF;
    p[1] = 0xFE;
    m_outputPending += 2;
  } else if (m_outputMode == EncodingMode::Utf8) {
    p[0] = 0xEF;
    p[1] = 0xBB;
    p[2] = 0xBF;
    m_outputPending += 3;
  }
}

}  // namespace tagvert
