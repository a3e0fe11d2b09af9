// Tagvert: the converter when memory runs out: the k-th allocation of a conversion or a format
// test fails, for every k over small documents. Every entry point answers E_OUTOFMEMORY (or
// succeeds with the same output, where a failed allocation only costs speed), never E_FAIL,
// never an exception; nothing leaks (the sanitizer build checks).
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "frame/frame_test_util.h"

namespace {

// The allocation of this thread that fails: counts down to 1 while armed, 0 when disarmed.
thread_local long t_failAt = 0;

void* Allocate(std::size_t size) {
  if (t_failAt > 0 && --t_failAt == 0) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

}  // namespace

// The test binary's free store: the plain forms, the ones the library uses, go through the
// counter; their deletes free what malloc gave.
void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace tagvert {
namespace {

namespace fs = std::filesystem;

enum class Call { ToIf, FromIf, Format };

struct CResult {
  HResult hr = kSOk;
  std::vector<std::uint8_t> output;
  bool allTried = false;  ///< the call made fewer allocations than the one meant to fail
};

// One call on a fresh converter, with the allocation `failAt` of the call failing (0: none).
CResult RunCall(Call call, const std::vector<std::uint8_t>& input, long failAt) {
  CTagvertConverter converter;
  converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(0x000C0000));
  const auto source = CEndpoint::Stream(std::make_shared<CMemoryStream>(input));
  const auto sink = std::make_shared<test::CSinkStream>();
  CResult r;
  t_failAt = failAt;
  switch (call) {
    case Call::ToIf:
      r.hr = converter.ConvertToIF(source, CEndpoint::Stream(sink));
      break;
    case Call::FromIf:
      r.hr = converter.ConvertFromIF(source, CEndpoint::Stream(sink));
      break;
    case Call::Format:
      r.hr = converter.IsFormatAvailable(source);
      break;
  }
  r.allTried = t_failAt != 0;
  t_failAt = 0;
  r.output = sink->Bytes();
  return r;
}

TEST(AllocationFailureTest, EveryAllocationFailingInTurn) {
  for (const auto& path : test::TtxFiles(fs::path(TAGVERT_TEST_DATA_DIR) / "roundtrip")) {
    const auto ttx = test::ReadFileBytes(path.string());
    const auto ifBytes = RunCall(Call::ToIf, ttx, 0).output;
    const struct {
      Call call;
      const std::vector<std::uint8_t>& input;
      const char* name;
    } table[] = {{Call::ToIf, ttx, "to IF"},
                 {Call::FromIf, ifBytes, "from IF"},
                 {Call::Format, ttx, "format test"}};
    for (const auto& c : table) {
      const CResult clean = RunCall(c.call, c.input, 0);
      ASSERT_EQ(clean.hr, kSOk) << path << " " << c.name;
      long k = 1;
      for (;; ++k) {
        SCOPED_TRACE(path.filename().string() + " " + c.name + ", allocation " + std::to_string(k));
        const CResult r = RunCall(c.call, c.input, k);
        if (r.hr == kSOk) {
          EXPECT_EQ(r.output, clean.output);
          if (r.allTried) break;
        } else {
          EXPECT_EQ(r.hr, kEOutOfMemory);
        }
        ASSERT_LT(k, 100000) << "allocations never stop failing";
      }
      EXPECT_GT(k, 5) << path << " " << c.name;
    }
  }
}

}  // namespace
}  // namespace tagvert
