// Tagvert: tests of the memory for large buffers: memory backed ahead of a writer without
// touching the content, by the buffer alone and by a storage reading a large input into it, and
// blocks kept for reuse.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/large_memory.h"
#include "storage/storage_test_util.h"
#include "storage/unit_buffer.h"

namespace tagvert {
namespace {

char16_t Pattern(std::size_t i) {
  return static_cast<char16_t>((i * 2654435761u) >> 16);
}

// The buffer is written in steps while its backing is asked ahead, shrunk, moved by a growth
// and dropped in the middle: every unit reads back as written (under AddressSanitizer this
// also checks that a backing never outlives its block).
TEST(CUnitBufferTest, ContentSurvivesBackingAheadAndGrowth) {
  constexpr std::size_t kStep = 300000;
  CUnitBuffer buffer;
  buffer.Reserve(3 * 1024 * 1024);
  for (std::size_t step = 0; step < 20; ++step) {
    buffer.BackAhead(step % 5 == 3 ? 0 : buffer.Size() + (step + 1) * kStep);
    if (step == 12) buffer.Reserve(buffer.Capacity() * 2);  // moves while backed
    char16_t* to = buffer.Extend(kStep);
    for (std::size_t i = 0; i < kStep; ++i)
      to[i] = Pattern(buffer.Size() + i);
    buffer.Commit(kStep);
  }
  buffer.BackAhead(SIZE_MAX);
  ASSERT_EQ(buffer.Size(), 20 * kStep);
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < buffer.Size(); ++i)
    wrong += buffer.Data()[i] != Pattern(i);
  EXPECT_EQ(wrong, 0u);
  CUnitBuffer dropped;
  dropped.Reserve(8 * 1024 * 1024);
  dropped.BackAhead(SIZE_MAX);  // destroyed while the backing runs
}

// CJK text in UTF-8 gives a unit per three bytes; the memory is backed ahead of the units as the
// read goes (past the first step of input) and the units come out as read.
TEST(CUnitBufferTest, ReadingALargeInputBacksAheadOfTheUnits) {
  constexpr std::size_t kCharacters = std::size_t{1} << 20;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < kCharacters; ++i)
    bytes.insert(bytes.end(), {0xE4, 0xB8, 0xAD});  // U+4E2D
  test::CStorageOverBytes s(bytes, 1 << 20);
  CUnitBuffer units;
  s.storage.ReadAllUnits(units);
  EXPECT_TRUE(units.View() == std::u16string(kCharacters, u'\u4E2D'));
}

// The room for the whole input is taken once and never grown at the last piece (a growth copies
// every unit into a block of twice the size): UTF-16 input asks a unit per two bytes, and a
// narrow buffer gets the room of the input's size after its first look at UTF-8 input, in the
// form it has then, whether it widens within that look (a Cyrillic letter early, or one whose
// bytes straddle its end), after it, or never. The units come out as read.
TEST(CUnitBufferTest, ReadingALargeInputTakesItsRoomOnce) {
  // ASCII and Latin-1 letters, one of them at bytes 65535 and 65536 (the first look's end).
  std::string text;
  const auto fill = [&text](std::size_t size) {
    while (text.size() < size) {
      if (text.size() % 7 == 0 && size - text.size() >= 2) {
        text += "\xC3\xA9";
      } else {
        text += "ab<c>"[text.size() % 5];
      }
    }
  };
  fill(65535);
  text += "\xC3\xA9";
  fill(300000);
  std::vector<std::uint8_t> wide;
  for (const char16_t unit : Utf8ToUtf16(text))
    wide.insert(wide.end(),
                {static_cast<std::uint8_t>(unit), static_cast<std::uint8_t>(unit >> 8)});
  test::CStorageOverBytes s16(wide, 1 << 20, EncodingMode::Utf16);
  CUnitBuffer units16;
  s16.storage.ReadAllUnits(units16);
  EXPECT_TRUE(units16.View() == Utf8ToUtf16(text));
  EXPECT_EQ(units16.Capacity(), wide.size() / 2 + 1);

  for (const std::size_t at :
       {std::size_t{200}, std::size_t{65535}, std::size_t{200000}, text.size()}) {
    SCOPED_TRACE(at);
    std::string bytes = text;
    if (at != text.size()) {
      ASSERT_NE(bytes[at] & 0xC0, 0x80);
      bytes.insert(at, "\xD0\x96");
    }
    test::CStorageOverBytes s(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), 1 << 20);
    CUnitBuffer units;
    units.SetNarrow();
    s.storage.ReadAllUnits(units);
    std::u16string read;
    for (std::size_t i = 0; i < units.Size(); ++i)
      read.push_back(units.UnitAt(i));
    EXPECT_TRUE(read == Utf8ToUtf16(bytes));
    EXPECT_EQ(units.Narrow(), at == text.size());
    EXPECT_EQ(units.Capacity(), bytes.size() + 1);
  }
}

// Blocks given back are cut for smaller ones and joined again, never handed out twice, and the
// thread keeps no more than it held in use at once. Where blocks cannot be cut (Windows) a kept
// block serves only a block of its span.
TEST(CLargeBlockReuseTest, KeptBlocksAreCutJoinedAndBounded) {
  if (!CLargeBlockReuse::IsEnabled()) GTEST_SKIP() << "no reuse under AddressSanitizer";
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  const CLargeBlockReuse reuse;
  const std::size_t span4 = PlatformLargeBlockSpan(4 * kMiB);
  auto* const whole = static_cast<std::uint8_t*>(CLargeBlockReuse::Allocate(4 * kMiB));
  ASSERT_NE(whole, nullptr);
  CLargeBlockReuse::Free(whole, 4 * kMiB);
  EXPECT_EQ(reuse.KeptBytes(), span4);
  if (PlatformLargeBlocksDivide()) {
    const std::size_t half = span4 / 2;
    auto* const first = static_cast<std::uint8_t*>(CLargeBlockReuse::Allocate(half));
    auto* const second = static_cast<std::uint8_t*>(CLargeBlockReuse::Allocate(half));
    EXPECT_EQ(first, whole);
    EXPECT_EQ(second, whole + half);
    EXPECT_EQ(reuse.KeptBytes(), 0u);
    first[0] = 1;
    second[half - 1] = 2;
    CLargeBlockReuse::Free(second, half);
    CLargeBlockReuse::Free(first, half);
  }
  void* const again = CLargeBlockReuse::Allocate(4 * kMiB);
  EXPECT_EQ(again, whole);
  CLargeBlockReuse::Free(again, 4 * kMiB);
  // A larger block comes from the system, and the kept one gives way: no more than the most in
  // use at once is held.
  void* const larger = CLargeBlockReuse::Allocate(8 * kMiB);
  ASSERT_NE(larger, nullptr);
  EXPECT_EQ(reuse.KeptBytes(), 0u);
  CLargeBlockReuse::Free(larger, 8 * kMiB);
  EXPECT_EQ(reuse.KeptBytes(), PlatformLargeBlockSpan(8 * kMiB));
}

}  // namespace
}  // namespace tagvert
