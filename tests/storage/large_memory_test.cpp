// Tagvert: tests of the memory for large buffers: blocks on whole large pages, and memory
// backed ahead of a writer without touching the content, within what the writer lets it have.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "storage/data_storage.h"
#include "storage/large_memory.h"
#include "storage/unit_buffer.h"
#include "support/test_streams.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

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

#if defined(__linux__)
// Pages of [block, block + bytes) that are in memory.
std::size_t ResidentBytes(const void* block, std::size_t bytes) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> flags((bytes + page - 1) / page);
  if (::mincore(const_cast<void*>(block), bytes, flags.data()) != 0) return 0;
  std::size_t resident = 0;
  for (const unsigned char f : flags)
    resident += (f & 1) * page;
  return resident;
}

// Waits until `done` holds; false after a minute (a backing that never comes).
template <class Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 6000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

bool SystemBacksPages() {
#if defined(MADV_POPULATE_WRITE)
  void* probe = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (probe == MAP_FAILED) return false;
  const bool backs = ::madvise(probe, 4096, MADV_POPULATE_WRITE) == 0;
  ::munmap(probe, 4096);
  return backs;
#else
  return false;
#endif
}

// Blocks start on a large page and may be written to their last byte.
TEST(CLargeMemoryTest, BlocksStartOnALargePage) {
  for (const std::size_t bytes :
       {kLargeBlockBytes, (std::size_t{2} << 20) + 1, std::size_t{5} << 20}) {
    auto* block = static_cast<std::uint8_t*>(PlatformAllocateLarge(bytes));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (std::size_t{2} << 20), 0u) << bytes;
    block[0] = 1;
    block[bytes - 1] = 2;
    EXPECT_EQ(block[bytes - 1] + block[0], 3);
    PlatformFreeLarge(block, bytes);
  }
}

// One large page of slack: a fault inside a large page brings in all of it.
constexpr std::size_t kPageSlack = std::size_t{2} << 20;

TEST(CPageBackerTest, BacksThePagesItIsLetHaveAndNoMore) {
  if (!SystemBacksPages()) GTEST_SKIP() << "this system cannot back pages without writing them";
  constexpr std::size_t kBytes = std::size_t{32} << 20;
  constexpr std::size_t kFirst = std::size_t{8} << 20;
  void* block = PlatformAllocateLarge(kBytes);
  ASSERT_NE(block, nullptr);
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  {
    const std::unique_ptr<CPageBacker> backer = PlatformBackPagesAhead(block, kBytes);
    ASSERT_NE(backer, nullptr);
    backer->BackUpTo(kFirst);
    EXPECT_TRUE(WaitFor([&] { return ResidentBytes(block, kFirst) == kFirst; }));
    backer->BackUpTo(kFirst / 2);  // asks for less: nothing changes
    // Time for a backing that overran its limit to show (a whole block takes milliseconds).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ResidentBytes(bytes + kFirst + kPageSlack, kBytes - kFirst - kPageSlack), 0u);
    backer->BackUpTo(SIZE_MAX);
    EXPECT_TRUE(WaitFor([&] { return ResidentBytes(block, kBytes) == kBytes; }));
  }
  // Backed memory reads as zero, as fresh memory does.
  std::size_t nonZero = 0;
  for (std::size_t i = 0; i < kBytes; i += 4096)
    nonZero += bytes[i] != 0;
  EXPECT_EQ(nonZero, 0u);
  PlatformFreeLarge(block, kBytes);
}

// The whole input is read into a buffer reserved for one unit per byte; CJK text in UTF-8
// gives a unit per three bytes, and only about that much memory is backed, ahead of the writes.
TEST(CPageBackerTest, ReadingBacksWhatTheRestOfTheInputWillGive) {
  if (!SystemBacksPages()) GTEST_SKIP() << "this system cannot back pages without writing them";
  constexpr std::size_t kCharacters = std::size_t{4} << 20;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(3 * kCharacters);
  for (std::size_t i = 0; i < kCharacters; ++i)
    bytes.insert(bytes.end(), {0xE4, 0xB8, 0xAD});  // U+4E2D
  CDataStorage storage(EncodingMode::Utf8, EncodingMode::None);
  storage.Open(CEndpoint::Stream(std::make_shared<test::CChunkedStream>(bytes, 1 << 20)),
               CEndpoint());
  CUnitBuffer units;
  storage.ReadAllUnits(units);
  ASSERT_EQ(units.Size(), kCharacters);
  ASSERT_GE(units.Capacity(), 3 * kCharacters);
  const std::size_t written = 2 * kCharacters;
  // Ahead: at least some of the slack beyond the units written comes in...
  EXPECT_TRUE(WaitFor(
      [&] { return ResidentBytes(units.Data(), 2 * units.Capacity()) >= written + kPageSlack; }));
  // ...but not the two thirds of the reserve that the text never needs.
  EXPECT_LE(ResidentBytes(units.Data(), 2 * units.Capacity()), written + (4 << 20) + kPageSlack);
}
#endif

}  // namespace
}  // namespace tagvert
