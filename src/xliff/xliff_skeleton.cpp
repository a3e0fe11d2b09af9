// Tagvert: the XLIFF skeleton's compact form: narrowed IF units, LZ77 blocks and base64.
// SPDX-License-Identifier: Apache-2.0
#include "xliff/xliff_skeleton.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "storage/unit_scan.h"

namespace tagvert::xliff {

namespace {

std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
// Eight bytes as a big-endian number: the first byte in the high bits.
std::uint64_t LoadBig64(const std::uint8_t* p) {
  std::uint64_t v = Load64(p);
  if constexpr (std::endian::native == std::endian::little) {
    v = ((v & 0x00000000FFFFFFFFull) << 32) | (v >> 32);
    v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
    v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
  }
  return v;
}
// Sizes in the plan: `bytes` bytes, little-endian.
template <typename String>
void PutLittle(String& out, std::uint64_t v, int bytes) {
  for (int k = 0; k < bytes; ++k)
    out += static_cast<char>((v >> (8 * k)) & 0xFF);
}
std::uint64_t GetLittle(const char* p, int bytes) {
  std::uint64_t v = 0;
  for (int k = bytes - 1; k >= 0; --k)
    v = (v << 8) | static_cast<std::uint8_t>(p[k]);
  return v;
}
template <typename String>
void Put32(String& out, std::size_t v) {
  PutLittle(out, v, 4);
}
std::size_t Get32(const char* p) {
  return static_cast<std::size_t>(GetLittle(p, 4));
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// The block format: sequences of a token (literal count in its high four bits, match length
// less 4 in its low four; 15 continues in bytes of 255 and a last smaller one), the literals,
// and but for the last sequence a two-byte offset back into what was written.
constexpr int kHashBits = 14;
constexpr std::size_t kMinMatch = 4;
constexpr std::size_t kWindow = 0xFFFF;
constexpr std::size_t kTableSize = std::size_t{1} << kHashBits;

std::uint8_t* PutLength(std::uint8_t* o, std::size_t extra) {
  for (; extra >= 255; extra -= 255)
    *o++ = 255;
  *o++ = static_cast<std::uint8_t>(extra);
  return o;
}

// Literals are copied sixteen bytes at a time when there are at most sixteen: the caller
// leaves sixteen bytes readable past the input and writable past the output's bound.
std::uint8_t* PutSequence(std::uint8_t* o, const std::uint8_t* literals, std::size_t count,
                          std::size_t offset, std::size_t extra) {
  *o++ = static_cast<std::uint8_t>((std::min<std::size_t>(count, 15) << 4) |
                                   std::min<std::size_t>(extra, 15));
  if (count >= 15) o = PutLength(o, count - 15);
  // A few literals, the common case between matches, in one copy of a fixed size.
  if (count <= 16) {
    std::memcpy(o, literals, 16);
  } else {
    std::memcpy(o, literals, count);
  }
  o += count;
  *o++ = static_cast<std::uint8_t>(offset & 0xFF);
  *o++ = static_cast<std::uint8_t>(offset >> 8);
  if (extra >= 15) o = PutLength(o, extra - 15);
  return o;
}

// The last sequence: literals alone.
std::uint8_t* PutLastSequence(std::uint8_t* o, const std::uint8_t* literals, std::size_t count) {
  *o++ = static_cast<std::uint8_t>(std::min<std::size_t>(count, 15) << 4);
  if (count >= 15) o = PutLength(o, count - 15);
  std::memcpy(o, literals, count);
  return o + count;
}

// The most bytes Compress writes for `n`: literals alone, with their lengths and one token.
constexpr std::size_t CompressBound(std::size_t n) {
  return n + n / 255 + 16;
}
// What Compress may touch past that bound, and read past its input.
constexpr std::size_t kCompressSlack = 16;

// The length of the match of `a` and `b` from `length` on, within the `n` bytes of `a`'s block
// (`a` + n is its end).
inline std::size_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t length,
                               std::size_t n) {
#if defined(__SSE2__)
  // Sixteen bytes a look.
  while (length + 16 <= n) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + length));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + length));
    const auto equal = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
    if (equal != 0xFFFF) return length + static_cast<std::size_t>(std::countr_one(equal));
    length += 16;
  }
#endif
  while (length + 8 <= n) {
    const std::uint64_t diff = Load64(a + length) ^ Load64(b + length);
    if (diff != 0) {
      return length + static_cast<std::size_t>(std::endian::native == std::endian::little
                                                   ? std::countr_zero(diff)
                                                   : std::countl_zero(diff)) /
                          8;
    }
    length += 8;
  }
  while (length < n && a[length] == b[length])
    ++length;
  return length;
}

// Greedy LZ77 over one block: a hash of the next four bytes finds the last place they were
// seen; where nothing is found the search steps faster through the literals.
// Writes at most CompressBound(n) bytes at `o` (and may touch kCompressSlack more); reads up to
// kCompressSlack bytes past the block. Returns the end of what it wrote.
std::uint8_t* Compress(const std::uint8_t* in, std::size_t n, std::vector<std::uint32_t>& table,
                       std::uint8_t* o) {
  std::fill(table.begin(), table.end(), 0);
  auto hash = [](std::uint32_t v) { return (v * 2654435761u) >> (32 - kHashBits); };
  std::size_t anchor = 0;
  // The first place has nothing before it: the search starts at the second, and every place
  // the table then gives lies before the one searched (the table holds places searched and
  // places within matches, all behind the search).
  std::size_t i = 1;
  const std::size_t limit = n >= 16 ? n - 8 : 0;
  while (i < limit) {
    const std::uint32_t seq = Load32(in + i);
    const std::uint32_t h = hash(seq);
    std::size_t from = table[h];
    table[h] = static_cast<std::uint32_t>(i);
    if (i - from > kWindow || Load32(in + from) != seq) {
      i += 1 + ((i - anchor) >> 5);
      continue;
    }
    while (i > anchor && from > 0 && in[i - 1] == in[from - 1]) {
      --i;
      --from;
    }
    // The match as far as it goes within the block (`in + i` and `in + from` from the same
    // length on, `i` + length at most n).
    const std::size_t length = MatchLength(in + i, in + from, kMinMatch, n - i);
    o = PutSequence(o, in + anchor, i - anchor, i - from, length - kMinMatch);
    i += length;
    anchor = i;
    if (i < limit) table[hash(Load32(in + i - 2))] = static_cast<std::uint32_t>(i - 2);
  }
  return PutLastSequence(o, in + anchor, n - anchor);
}

bool GetLength(const std::uint8_t*& in, const std::uint8_t* end, std::size_t& length) {
  for (;;) {
    if (in == end || length > (std::size_t{1} << 30)) return false;
    const std::uint8_t b = *in++;
    length += b;
    if (b != 255) return true;
  }
}

// Decompresses into [out, outEnd), writing up to kSlack bytes beyond it (copies of 16 bytes).
constexpr std::size_t kSlack = 32;

bool Decompress(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out,
                std::uint8_t* outEnd) {
  std::uint8_t* const begin = out;
  for (;;) {
    // Far from both ends, a sequence whose two lengths fit in its token (at most 14 literals, a
    // match of at most 18 bytes) is copied without the tests the ends need: its literals and
    // the offset lie within the input, and it writes within the output's room and slack. Only
    // the offset is tested, as below.
    while (end - in >= 18 && outEnd - out >= 32) {
      const unsigned token = *in;
      if ((token >> 4) == 15 || (token & 15) == 15) break;
      const std::size_t count = token >> 4;
      std::memcpy(out, in + 1, 16);
      in += 1 + count;
      out += count;
      const std::size_t offset = in[0] | (static_cast<std::size_t>(in[1]) << 8);
      in += 2;
      if (offset == 0 || offset > static_cast<std::size_t>(out - begin)) return false;
      const std::size_t length = (token & 15) + kMinMatch;
      const std::uint8_t* const from = out - offset;
      if (offset >= 16) {
        std::memcpy(out, from, 16);
        std::memcpy(out + 16, from + 16, 16);
      } else if (offset >= 8) {
        // Eight bytes a step read only bytes written before the step.
        for (std::size_t k = 0; k < length; k += 8)
          std::memcpy(out + k, from + k, 8);
      } else {
        for (std::size_t k = 0; k < length; ++k)
          out[k] = from[k];
      }
      out += length;
    }
    if (in == end) return false;
    const unsigned token = *in++;
    std::size_t count = token >> 4;
    if (count == 15 && !GetLength(in, end, count)) return false;
    if (count > static_cast<std::size_t>(end - in) ||
        count > static_cast<std::size_t>(outEnd - out)) {
      return false;
    }
    if (count <= 16 && end - in >= 16) {
      std::memcpy(out, in, 16);
    } else {
      std::memcpy(out, in, count);
    }
    in += count;
    out += count;
    if (in == end) return out == outEnd;
    if (end - in < 2) return false;
    const std::size_t offset = in[0] | (static_cast<std::size_t>(in[1]) << 8);
    in += 2;
    std::size_t length = token & 15;
    if (length == 15 && !GetLength(in, end, length)) return false;
    length += kMinMatch;
    if (offset == 0 || offset > static_cast<std::size_t>(out - begin) ||
        length > static_cast<std::size_t>(outEnd - out)) {
      return false;
    }
    const std::uint8_t* from = out - offset;
    if (offset >= 16) {
      for (std::size_t k = 0; k < length; k += 16)
        std::memcpy(out + k, from + k, 16);
    } else if (offset >= length) {
      std::memcpy(out, from, length);
    } else {
      for (std::size_t k = 0; k < length; ++k)
        out[k] = from[k];
    }
    out += length;
  }
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two base64 digits by the twelve bits they stand for: a group of three bytes in two looks.
struct CBase64Pairs {
  char pair[4096][2];
  constexpr CBase64Pairs() : pair() {
    for (int v = 0; v < 4096; ++v) {
      pair[v][0] = kBase64[v >> 6];
      pair[v][1] = kBase64[v & 63];
    }
  }
};
constexpr CBase64Pairs kBase64Pairs;

// Base64 digits by character: the value, or one of these.
constexpr std::int8_t kSpace = -2, kPad = -3, kBad = -1;
struct CBase64Table {
  std::int8_t value[256];
  constexpr CBase64Table() : value() {
    for (int c = 0; c < 256; ++c)
      value[c] = kBad;
    for (int v = 0; v < 64; ++v)
      value[static_cast<std::uint8_t>(kBase64[v])] = static_cast<std::int8_t>(v);
    for (const char space : {' ', '\t', '\n', '\r'})
      value[static_cast<unsigned char>(space)] = kSpace;
    value[static_cast<unsigned char>('=')] = kPad;
  }
};
constexpr CBase64Table kBase64Values;

// The digits' values shifted to their place in a group of four (`shift` 18, 12, 6 or 0); any
// character that is not a digit has the high bit, so that one test finds it in a group.
struct CBase64Shifted {
  std::uint32_t value[256];
  constexpr explicit CBase64Shifted(int shift) : value() {
    for (int c = 0; c < 256; ++c) {
      const std::int8_t v = kBase64Values.value[c];
      value[c] = v < 0 ? 0x80000000u : static_cast<std::uint32_t>(v) << shift;
    }
  }
};
constexpr CBase64Shifted kBase64At0(18), kBase64At1(12), kBase64At2(6), kBase64At3(0);

#if !defined(__SSE2__)
// Four ASCII bytes (the low 32 bits of `x`) spread into four UTF-16 little-endian units.
std::uint64_t Spread(std::uint64_t x) {
  x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
  return (x | (x << 8)) & 0x00FF00FF00FF00FFull;
}
#endif

// The number of ASCII bytes that `x` (eight bytes as loaded) starts with.
std::size_t AsciiBytes(std::uint64_t x) {
  const std::uint64_t high = x & kHighBits;
  if (high == 0) return 8;
  return static_cast<std::size_t>(std::endian::native == std::endian::little
                                      ? std::countr_zero(high)
                                      : std::countl_zero(high)) /
         8;
}

// Widens with `store(index, unit)`, or, on a little-endian machine with `bytes` given, runs of
// ASCII sixteen (eight without SSE2) units at a time straight into `bytes`; see Widen.
template <typename Store>
std::size_t WidenWith(const std::uint8_t*& at, const std::uint8_t* end, std::size_t room,
                      std::uint8_t* bytes, Store&& store) {
  // A local cursor: stores through `bytes` could otherwise alias `at` and force it to memory.
  const std::uint8_t* p = at;
  std::size_t k = 0;
#if defined(__SSE2__)
  constexpr std::size_t kStep = 16;
  const bool steps = bytes != nullptr;
#else
  constexpr std::size_t kStep = 8;
  const bool steps = std::endian::native == std::endian::little && bytes != nullptr;
#endif
  const auto stepFits = [&] {
    return steps && room - k >= kStep && static_cast<std::size_t>(end - p) >= kStep;
  };
  while (k < room && p < end) {
    if (stepFits()) {
#if defined(__SSE2__)
      // Sixteen bytes widened whatever they are; the units from the first non-ASCII byte on
      // are written again below.
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + 2 * k), _mm_unpacklo_epi8(x, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + 2 * k + 16), _mm_unpackhi_epi8(x, zero));
      const auto high = static_cast<unsigned>(_mm_movemask_epi8(x));
      const std::size_t ascii = high == 0 ? 16 : static_cast<std::size_t>(std::countr_zero(high));
#else
      // Eight bytes spread whatever they are; the units from the first non-ASCII byte on are
      // written again below.
      const std::uint64_t x = Load64(p);
      const std::uint64_t low = Spread(x & 0xFFFFFFFFull), high = Spread(x >> 32);
      std::memcpy(bytes + 2 * k, &low, 8);
      std::memcpy(bytes + 2 * k + 8, &high, 8);
      const std::size_t ascii = AsciiBytes(x);
#endif
      p += ascii;
      k += ascii;
      if (ascii == kStep) continue;
      if (k == room || p == end) break;
    }
    // One unit at a time while they are not ASCII (IF codes come several in a row: a group's
    // code, its pair id, a flag) or too few are left for a step.
    do {
      const std::uint8_t b = *p;
      const std::ptrdiff_t n = b < 0x80 ? 1 : b < 0xC0 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 0;
      if (n == 0 || end - p < n) {
        store(k++, u'\xFFFD');
        p = n == 0 ? p + 1 : end;
      } else if (n == 1) {
        store(k++, static_cast<char16_t>(b));
        ++p;
      } else if (n == 2) {
        store(k++, static_cast<char16_t>(((b & 0x1F) << 6) | (p[1] & 0x3F)));
        p += 2;
      } else {
        store(k++,
              static_cast<char16_t>(((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F)));
        p += 3;
      }
    } while (k < room && p < end && (*p >= 0x80 || !stepFits()));
  }
  at = p;
  return k;
}

}  // namespace

std::uint64_t HashBytes(std::string_view bytes) {
  CHash64 hash;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8)
    hash.AddWord(Load64(reinterpret_cast<const std::uint8_t*>(bytes.data()) + i));
  hash.AddBytes(bytes.substr(i));
  return hash.Value();
}

std::uint64_t HashBytes(std::span<const std::string_view> pieces) {
  CHash64 hash;
  // The bytes of a word cut between two pieces wait in `word`.
  char word[8];
  std::size_t waiting = 0;
  for (std::string_view bytes : pieces) {
    if (waiting != 0) {
      const std::size_t take = std::min(8 - waiting, bytes.size());
      if (take != 0) std::memcpy(word + waiting, bytes.data(), take);
      waiting += take;
      bytes.remove_prefix(take);
      if (waiting < 8) continue;
      hash.AddWord(Load64(reinterpret_cast<const std::uint8_t*>(word)));
      waiting = 0;
    }
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8)
      hash.AddWord(Load64(reinterpret_cast<const std::uint8_t*>(bytes.data()) + i));
    waiting = bytes.size() - i;
    if (waiting != 0) std::memcpy(word, bytes.data() + i, waiting);
  }
  hash.AddBytes(std::string_view(word, waiting));
  return hash.Value();
}

namespace {

// One unit narrowed at `o`; returns the end of its bytes.
inline char* PutNarrowed(char16_t c, char* o) {
  if (c < 0x80) {
    *o++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *o++ = static_cast<char>(0xC0 | (c >> 6));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *o++ = static_cast<char>(0xE0 | (c >> 12));
    *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *o++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return o;
}

#if defined(__SSE2__)
// The units from the first one that is not ASCII on, as long as none is ASCII (IF codes come
// several in a row: a group's code, its pair id, a flag); returns the end of their bytes.
inline char* PutNarrowedRun(const char16_t*& u, const char16_t* end, char* o) {
  do {
    const char16_t c = *u++;
    if constexpr (std::endian::native == std::endian::little) {
      if (c >= 0x800) {
        // The three bytes in one store of four (the fourth is written over or lies in the room
        // past the units' bytes).
        const std::uint32_t bytes = 0x8080E0u | (std::uint32_t{c} >> 12) |
                                    ((std::uint32_t{c} << 2) & 0x3F00u) |
                                    ((std::uint32_t{c} << 16) & 0x3F0000u);
        std::memcpy(o, &bytes, 4);
        o += 3;
        continue;
      }
    }
    o = PutNarrowed(c, o);
  } while (u < end && *u >= 0x80);
  return o;
}
#endif

}  // namespace

char* Narrow(std::u16string_view units, char* o) {
  const char16_t* u = units.data();
  const char16_t* const end = u + units.size();
#if defined(__SSE2__)
  // Sixteen units packed into sixteen bytes whatever they are; the bytes from the first unit
  // that is not ASCII on are written again below (a unit takes at least one byte, so the room
  // for the rest holds them). IF codes come every few units: the loop goes on after each run
  // of them rather than waiting for a run of sixteen.
  while (end - u >= 16) {
    unsigned ascii = UnitsPackAscii16(u, o);
    // Markup comes in long ASCII runs: after sixteen, the next sixteen are packed at once.
    if (ascii == 0xFFFF && end - u >= 32) {
      ascii = UnitsPackAscii16(u + 16, o + 16);
      o += 16;
      u += 16;
    }
    if (ascii == 0xFFFF) {
      o += 16;
      u += 16;
      continue;
    }
    const auto run = static_cast<std::size_t>(std::countr_one(ascii));
    o += run;
    u += run;
    o = PutNarrowedRun(u, end, o);
  }
  if (u == end) return o;
  if (units.size() >= 16) {
    // Fewer than sixteen left: the last sixteen units are packed aside, and the bytes of those
    // not yet written are copied from there, sixteen bytes a copy (the caller's room holds
    // sixteen bytes past the most the units can take).
    char packed[32];
    const unsigned ascii = UnitsPackAscii16(end - 16, packed);
    while (u < end) {
      const auto skip = static_cast<std::size_t>(16 - (end - u));  // units written already
      const auto run = std::min(static_cast<std::size_t>(std::countr_one(ascii >> skip)),
                                static_cast<std::size_t>(end - u));
      std::memcpy(o, packed + skip, 16);
      o += run;
      u += run;
      if (u < end) o = PutNarrowedRun(u, end, o);
    }
    return o;
  }
#endif
  while (u < end) {
#if !defined(__SSE2__)
    if constexpr (std::endian::native == std::endian::little) {
      // Eight ASCII units at a time while they last.
      while (end - u >= 8) {
        std::uint64_t x, y;
        std::memcpy(&x, u, 8);
        std::memcpy(&y, u + 4, 8);
        if (((x | y) & 0xFF80FF80FF80FF80ull) != 0) break;
        x = (x | (x >> 8)) & 0x0000FFFF0000FFFFull;
        y = (y | (y >> 8)) & 0x0000FFFF0000FFFFull;
        const std::uint64_t eight = ((x | (x >> 16)) & 0xFFFFFFFFull) | ((y | (y >> 16)) << 32);
        std::memcpy(o, &eight, 8);
        o += 8;
        u += 8;
      }
      if (u == end) break;
    }
#endif
    // Four ASCII units at a time.
    if (end - u >= 4) {
      std::uint64_t x;
      std::memcpy(&x, u, 8);
      if constexpr (std::endian::native == std::endian::little) {
        if ((x & 0xFF80FF80FF80FF80ull) == 0) {
          x = (x | (x >> 8)) & 0x0000FFFF0000FFFFull;
          x = (x | (x >> 16)) & 0xFFFFFFFFull;
          const auto four = static_cast<std::uint32_t>(x);
          std::memcpy(o, &four, 4);
          o += 4;
          u += 4;
          continue;
        }
      }
    }
    o = PutNarrowed(*u++, o);
  }
  return o;
}

void AppendNarrow(CLargeString& out, std::u16string_view units) {
  const std::size_t at = out.size();
  // Narrow may write sixteen bytes past the units' bytes.
  out.resize(at + 3 * units.size() + 16);
  out.resize(static_cast<std::size_t>(Narrow(units, out.data() + at) - out.data()));
}

std::size_t CBlockWriter::Units(std::u16string_view units) {
  char* const at = Room(3 * units.size());
  const auto bytes = static_cast<std::size_t>(Narrow(units, at) - at);
  m_used += bytes;
  if (m_used >= kPlanBlock) Flush(false);
  return bytes;
}

void CBlockWriter::Grow(std::size_t bytes) {
  m_pending.Resize(std::max({2 * m_pending.Size(), m_used + bytes + kPendingSlack,
                             m_firstRoom + kPendingSlack, std::size_t{4096}}),
                   m_used);
}

void CRawBytes::Resize(std::size_t size, std::size_t keep) {
  CLargeBlock block = size == 0 ? CLargeBlock() : MakeLargeBlock(size);
  if (keep != 0) std::memcpy(block.get(), m_block.get(), keep);
  m_block = std::move(block);
}

CPackPool::~CPackPool() {
  for (CJob* job : m_queue)
    delete job;
  for (CJob* job : m_free)
    delete job;
}

void CPackPool::SetHelper(std::size_t queued, std::function<void()> notify) {
  m_queued = queued;
  m_notify = std::move(notify);
}

CPackPool::CJob* CPackPool::Add(CRawBytes bytes, std::size_t size) {
  if (m_table.empty()) m_table.resize(kTableSize);
  CJob* job = nullptr;
  {
    const std::lock_guard lock(m_mutex);
    if (!m_free.empty()) {
      job = m_free.back();
      m_free.pop_back();
    }
  }
  if (job == nullptr) job = new CJob;
  if (job->out.Size() == 0) {
    try {
      job->out.Resize(CompressBound(kPlanBlock) + kCompressSlack, 0);
    } catch (...) {
      delete job;
      throw;
    }
  }
  job->in = std::move(bytes);
  job->size = size;
  job->done.store(false, std::memory_order_relaxed);
  {
    const std::lock_guard lock(m_mutex);
    m_queue.push_back(job);
    m_waiting.store(m_queue.size(), std::memory_order_release);
  }
  if (m_queued != 0 && m_notify) m_notify();
  // Past what may wait, the writer compresses the oldest itself.
  for (;;) {
    CJob* oldest = nullptr;
    {
      const std::lock_guard lock(m_mutex);
      if (m_queue.size() <= m_queued) break;
      oldest = Take();
    }
    Run(*oldest, m_table);
  }
  return job;
}

CPackPool::CJob* CPackPool::Take() {
  CJob* job = m_queue.front();
  m_queue.pop_front();
  m_waiting.store(m_queue.size(), std::memory_order_release);
  return job;
}

// Takes nothing: the room was taken by Add, the table before the job (a job taken is always
// done, or the writer would wait for it).
void CPackPool::Run(CJob& job, std::vector<std::uint32_t>& table) {
  const auto* in = reinterpret_cast<const std::uint8_t*>(job.in.Data());
  auto* const out = reinterpret_cast<std::uint8_t*>(job.out.Data());
  job.packed = static_cast<std::size_t>(Compress(in, job.size, table, out) - out);
  job.done.store(true, std::memory_order_release);
}

void CPackPool::Wait(CJob& job) {
  if (job.done.load(std::memory_order_acquire)) return;
  std::unique_lock lock(m_mutex);
  const auto queued = std::find(m_queue.begin(), m_queue.end(), &job);
  if (queued != m_queue.end()) {
    // Nobody has started it.
    m_queue.erase(queued);
    m_waiting.store(m_queue.size(), std::memory_order_release);
    lock.unlock();
    Run(job, m_table);
    return;
  }
  m_finished.wait(lock, [&job] { return job.done.load(std::memory_order_acquire); });
}

void CPackPool::Release(CJob* job) {
  const std::lock_guard lock(m_mutex);
  m_rooms.push_back(std::move(job->in));
  m_free.push_back(job);
}

CRawBytes CPackPool::Room() {
  const std::lock_guard lock(m_mutex);
  if (m_rooms.empty()) return {};
  CRawBytes room = std::move(m_rooms.back());
  m_rooms.pop_back();
  return room;
}

bool CPackPool::RunOne(std::vector<std::uint32_t>& table) {
  if (table.empty()) table.resize(kTableSize);
  CJob* job = nullptr;
  {
    const std::lock_guard lock(m_mutex);
    if (m_queue.empty()) return false;
    job = Take();
  }
  Run(*job, table);
  {
    // Under the lock, so that a writer about to wait for it cannot miss the news.
    const std::lock_guard lock(m_mutex);
  }
  m_finished.notify_all();
  return true;
}

CBlockWriter::~CBlockWriter() {
  for (CPackPool::CJob* job : m_jobs) {
    m_pool.Wait(*job);
    m_pool.Release(job);
  }
}

void CBlockWriter::Flush(bool all) {
  while (m_used >= kPlanBlock || (all && m_used > 0)) {
    const char* const plan = m_pending.Data();
    std::size_t cut = std::min(kPlanBlock, m_used);
    // A block holds whole units: it never ends within a unit's bytes.
    while (cut < m_used && (static_cast<std::uint8_t>(plan[cut]) & 0xC0) == 0x80)
      --cut;
    // The block goes to the pool where it lies; the bytes after it start the next one, in the
    // room of a block done with.
    const std::size_t rest = m_used - cut;
    CRawBytes next = m_pool.Room();
    if (next.Size() < rest + kPendingSlack)
      next.Resize(std::max({rest + kPendingSlack, m_firstRoom + kPendingSlack, std::size_t{4096}}),
                  0);
    if (rest != 0) std::memcpy(next.Data(), plan + cut, rest);
    m_jobs.push_back(m_pool.Add(std::move(m_pending), cut));
    m_pending = std::move(next);
    m_used = rest;
  }
  Collect(all);
}

void CBlockWriter::Collect(bool all) {
  while (!m_jobs.empty() && (all || m_jobs.front()->done.load(std::memory_order_acquire))) {
    CPackPool::CJob* const job = m_jobs.front();
    m_pool.Wait(*job);
    Put32(m_blocks, job->size);
    Put32(m_blocks, job->packed);
    m_blocks.append(job->out.Data(), job->packed);
    m_jobs.pop_front();
    m_pool.Release(job);
  }
}

void CBlockWriter::Number(std::uint64_t v) {
  char* const at = Room(10);
  char* o = at;
  for (; v >= 0x80; v >>= 7)
    *o++ = static_cast<char>(0x80 | (v & 0x7F));
  *o++ = static_cast<char>(v);
  m_used += static_cast<std::size_t>(o - at);
}

// The table: for each unit the bytes of the IF before it (since the unit before), its number
// of codes and each code's bytes; at the end the bytes after the last unit and the number of
// units of the IF outside the units.
void CPlanWriter::BeginUnit() {
  m_table.Number(m_rawBytes);
  m_rawBytes = 0;
  m_codeBytes.clear();
}

void CPlanWriter::EndUnit() {
  m_table.Number(m_codeBytes.size());
  for (const std::size_t bytes : m_codeBytes)
    m_table.Number(bytes);
}

std::array<std::string_view, 4> CPlanWriter::Finish() {
  m_table.Number(m_rawBytes);
  m_table.Number(m_rawUnits);
  const CLargeString& table = m_table.Finish();
  const CLargeString& codes = m_codes.Finish();
  const CLargeString& raw = m_raw.Finish();
  m_head.clear();
  PutLittle(m_head, table.size(), 8);
  PutLittle(m_head, codes.size(), 8);
  return {m_head, table, codes, raw};
}

bool SplitPlan(std::string_view plan, CPlanParts& parts) {
  if (plan.size() < 16) return false;
  const std::uint64_t table = GetLittle(plan.data(), 8), codes = GetLittle(plan.data() + 8, 8);
  plan.remove_prefix(16);
  if (table > plan.size() || codes > plan.size() - table) return false;
  // Both within the plan's size now.
  const auto tableBytes = static_cast<std::size_t>(table);
  const auto codeBytes = static_cast<std::size_t>(codes);
  parts.table = plan.substr(0, tableBytes);
  parts.codes = plan.substr(tableBytes, codeBytes);
  parts.raw = plan.substr(tableBytes + codeBytes);
  return true;
}

namespace {

// Decompresses the block at the start of `rest` into the room `room(size)` gives (`size` bytes
// and kSlack more) and moves `rest` past it; false, `rest` no longer meaningful, when it is
// damaged.
template <typename Room>
bool InflateBlock(std::string_view& rest, std::size_t& size, Room room) {
  if (rest.size() < 8) return false;
  size = Get32(rest.data());
  const std::size_t packed = Get32(rest.data() + 4);
  rest.remove_prefix(8);
  if (size == 0 || size > kPlanBlock || packed > rest.size()) return false;
  std::uint8_t* const out = room(size);
  const auto* in = reinterpret_cast<const std::uint8_t*>(rest.data());
  if (!Decompress(in, in + packed, out, out + size)) return false;
  rest.remove_prefix(packed);
  return true;
}

// Every block decompressed straight into `out`, in room taken once: no block is copied and no
// buffer of its own is taken (its pages would be fresh memory to fault in).
template <typename String>
bool InflateTo(std::string_view blocks, String& out) {
  if (std::uint64_t size = 0; InflatedSize(blocks, size) && size <= blocks.size() * 16 + 64) {
    out.reserve(out.size() + static_cast<std::size_t>(size) + kSlack);
  }
  while (!blocks.empty()) {
    const std::size_t at = out.size();
    std::size_t size = 0;
    const auto room = [&](std::size_t n) {
      out.resize(at + n + kSlack);
      return reinterpret_cast<std::uint8_t*>(out.data()) + at;
    };
    if (!InflateBlock(blocks, size, room)) {
      out.resize(at);
      return false;
    }
    out.resize(at + size);
  }
  return true;
}

}  // namespace

bool Inflate(std::string_view blocks, std::string& out) {
  return InflateTo(blocks, out);
}

bool Inflate(std::string_view blocks, CLargeString& out) {
  return InflateTo(blocks, out);
}

bool InflatedSize(std::string_view blocks, std::uint64_t& size) {
  size = 0;
  while (!blocks.empty()) {
    if (blocks.size() < 8) return false;
    const std::size_t bytes = Get32(blocks.data()), packed = Get32(blocks.data() + 4);
    if (bytes == 0 || bytes > kPlanBlock || packed > blocks.size() - 8) return false;
    size += bytes;
    blocks.remove_prefix(8 + packed);
  }
  return true;
}

bool GetNumber(const std::uint8_t*& p, const std::uint8_t* end, std::uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (p == end) return false;
    const std::uint8_t b = *p++;
    value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) return true;
  }
  return false;
}

namespace {

// Writes `bytes` as base64 at `o`, in lines of 76 characters (Base64Size(n) characters at
// most); returns the end of what it wrote.
char* PutBase64(char* o, std::string_view bytes) {
  const auto* in = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t line = 0;
  std::size_t i = 0;
  // Whole lines of 57 bytes (76 characters), without the checks for the end: six bytes a
  // step from one load of eight (all within the line), the last three on their own.
  for (; n - i >= 57; i += 57) {
    for (std::size_t k = i; k < i + 54; k += 6) {
      const std::uint64_t v = LoadBig64(in + k);
      std::memcpy(o, kBase64Pairs.pair[v >> 52], 2);
      std::memcpy(o + 2, kBase64Pairs.pair[(v >> 40) & 0xFFF], 2);
      std::memcpy(o + 4, kBase64Pairs.pair[(v >> 28) & 0xFFF], 2);
      std::memcpy(o + 6, kBase64Pairs.pair[(v >> 16) & 0xFFF], 2);
      o += 8;
    }
    const std::uint32_t v = (static_cast<std::uint32_t>(in[i + 54]) << 16) |
                            (static_cast<std::uint32_t>(in[i + 55]) << 8) | in[i + 56];
    std::memcpy(o, kBase64Pairs.pair[v >> 12], 2);
    std::memcpy(o + 2, kBase64Pairs.pair[v & 0xFFF], 2);
    o += 4;
    *o++ = '\n';
  }
  for (; i < n; i += 3) {
    const std::uint32_t v = (static_cast<std::uint32_t>(in[i]) << 16) |
                            (i + 1 < n ? static_cast<std::uint32_t>(in[i + 1]) << 8 : 0) |
                            (i + 2 < n ? in[i + 2] : 0);
    o[0] = kBase64[v >> 18];
    o[1] = kBase64[(v >> 12) & 63];
    o[2] = i + 1 < n ? kBase64[(v >> 6) & 63] : '=';
    o[3] = i + 2 < n ? kBase64[v & 63] : '=';
    o += 4;
    if (++line == 19) {
      *o++ = '\n';
      line = 0;
    }
  }
  if (line != 0) *o++ = '\n';
  return o;
}

}  // namespace

void AppendBase64(std::string& out, std::string_view bytes) {
  const std::size_t at = out.size();
  out.resize(at + Base64Size(bytes.size()));
  out.resize(static_cast<std::size_t>(PutBase64(out.data() + at, bytes) - out.data()));
}

void WriteBase64(std::span<const std::string_view> pieces,
                 const std::function<void(std::string_view)>& write) {
  // Whole lines at a time, so that the lines are those of the bytes written at once: a line
  // cut between two pieces is put together in `line`, and what the last piece leaves is
  // written as the end of the bytes.
  constexpr std::size_t kLine = 57;
  constexpr std::size_t kPiece = kLine * 1024;
  const std::size_t roomSize = Base64Size(kPiece);
  const std::unique_ptr<char[]> room(new char[roomSize]);
  char* o = room.get();
  const auto put = [&](std::string_view bytes) {
    if (static_cast<std::size_t>(room.get() + roomSize - o) < Base64Size(bytes.size())) {
      write(std::string_view(room.get(), static_cast<std::size_t>(o - room.get())));
      o = room.get();
    }
    o = PutBase64(o, bytes);
  };
  char line[kLine];
  std::size_t waiting = 0;
  for (std::string_view bytes : pieces) {
    if (waiting != 0) {
      const std::size_t take = std::min(kLine - waiting, bytes.size());
      if (take != 0) std::memcpy(line + waiting, bytes.data(), take);
      waiting += take;
      bytes.remove_prefix(take);
      if (waiting < kLine) continue;
      put(std::string_view(line, kLine));
      waiting = 0;
    }
    while (bytes.size() >= kLine) {
      const std::size_t whole = std::min(bytes.size(), kPiece) / kLine * kLine;
      put(bytes.substr(0, whole));
      bytes.remove_prefix(whole);
    }
    waiting = bytes.size();
    if (waiting != 0) std::memcpy(line, bytes.data(), waiting);
  }
  put(std::string_view(line, waiting));
  if (o != room.get())
    write(std::string_view(room.get(), static_cast<std::size_t>(o - room.get())));
}

bool CBase64Reader::Add(std::string_view text, CLargeString& out) {
  const std::size_t at = out.size();
  // Room for the bytes, a group's bytes carried from the piece before and the two bytes past
  // the last six that a step of eight digits writes.
  out.resize(at + text.size() / 4 * 3 + 8);
  char* o = out.data() + at;
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto* const end = p + text.size();
  const std::int8_t* const values = kBase64Values.value;
  bool good = true;
  while (p < end) {
    // Whole groups of four digits, the bulk of every line.
    if (m_count == 0 && m_padding == 0) {
      // Eight digits a step: six bytes in one store of eight.
      while (end - p >= 8) {
        const std::uint32_t a = kBase64At0.value[p[0]] | kBase64At1.value[p[1]] |
                                kBase64At2.value[p[2]] | kBase64At3.value[p[3]];
        const std::uint32_t b = kBase64At0.value[p[4]] | kBase64At1.value[p[5]] |
                                kBase64At2.value[p[6]] | kBase64At3.value[p[7]];
        if (((a | b) & 0x80000000u) != 0) break;
        std::uint64_t six = std::uint64_t{a} << 40 | std::uint64_t{b} << 16;
        if constexpr (std::endian::native == std::endian::little) six = __builtin_bswap64(six);
        std::memcpy(o, &six, 8);
        o += 6;
        p += 8;
      }
      while (end - p >= 4) {
        const std::uint32_t v = kBase64At0.value[p[0]] | kBase64At1.value[p[1]] |
                                kBase64At2.value[p[2]] | kBase64At3.value[p[3]];
        if ((v & 0x80000000u) != 0) break;
        o[0] = static_cast<char>(v >> 16);
        o[1] = static_cast<char>((v >> 8) & 0xFF);
        o[2] = static_cast<char>(v & 0xFF);
        o += 3;
        p += 4;
      }
      if (p == end) break;
    }
    const std::int8_t v = values[*p++];
    if (v >= 0 && m_padding == 0) {
      m_bits = (m_bits << 6) | static_cast<std::uint32_t>(v);
      if (++m_count == 4) {
        *o++ = static_cast<char>(m_bits >> 16);
        *o++ = static_cast<char>((m_bits >> 8) & 0xFF);
        *o++ = static_cast<char>(m_bits & 0xFF);
        m_bits = 0;
        m_count = 0;
      }
    } else if (v == kPad && m_count >= 2) {
      // "xx==" gives one byte, "xxx=" two; nothing follows but white space.
      if (m_padding == 0) m_padding = 4 - m_count;
      if (--m_padding == 0) {
        m_bits <<= 6 * (4 - m_count);
        *o++ = static_cast<char>(m_bits >> 16);
        if (m_count == 3) *o++ = static_cast<char>((m_bits >> 8) & 0xFF);
        m_bits = 0;
        m_count = 0;
        m_padding = -1;
      }
    } else if (v != kSpace) {
      good = false;
      break;
    }
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return good;
}

bool CPlanReader::Next(std::string_view& plan) {
  if (m_damaged || m_rest.empty()) return false;
  std::size_t size = 0;
  const auto room = [&](std::size_t n) {
    m_block.resize(n + kSlack);
    return reinterpret_cast<std::uint8_t*>(m_block.data());
  };
  if (!InflateBlock(m_rest, size, room)) {
    m_damaged = true;
    return false;
  }
  plan = std::string_view(m_block).substr(0, size);
  return true;
}

std::size_t Widen(const std::uint8_t*& p, const std::uint8_t* end, std::uint8_t* out,
                  std::size_t room) {
  return WidenWith(p, end, room, out, [out](std::size_t k, char16_t u) {
    out[2 * k] = static_cast<std::uint8_t>(u & 0xFF);
    out[2 * k + 1] = static_cast<std::uint8_t>(u >> 8);
  });
}

void WidenAppend(const std::uint8_t* p, const std::uint8_t* end, std::u16string& out) {
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(end - p));
  char16_t* o = out.data() + at;
  auto* bytes =
      std::endian::native == std::endian::little ? reinterpret_cast<std::uint8_t*>(o) : nullptr;
  const std::size_t n =
      WidenWith(p, end, out.size() - at, bytes, [o](std::size_t k, char16_t u) { o[k] = u; });
  out.resize(at + n);
}

bool IsNarrowed(const std::uint8_t* p, const std::uint8_t* end) {
  while (p < end) {
    if (end - p >= 8) {
      const std::size_t ascii = AsciiBytes(Load64(p));
      p += ascii;
      if (ascii == 8) continue;
    }
    const std::uint8_t b = *p;
    const std::ptrdiff_t n = b < 0x80 ? 1 : b < 0xC0 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 0;
    if (n == 0 || end - p < n) return false;
    for (std::ptrdiff_t k = 1; k < n; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
    }
    p += n;
  }
  return true;
}

}  // namespace tagvert::xliff
