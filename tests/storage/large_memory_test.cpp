// Tagvert: tests of the memory for large buffers: memory backed ahead of a writer without
// touching the content, by the buffer alone and by a storage reading a large input into it.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdint>

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

}  // namespace
}  // namespace tagvert
