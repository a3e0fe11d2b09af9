// Tagvert: faults at the byte-stream seam: a source that fails or reads short at its k-th call
// and a target that writes short or fails at its k-th call, for every k over small documents.
// The result code and the state events must follow the failure rules; nothing may leak (the
// sanitizer build checks); a short read must change nothing.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/frame_test_util.h"

namespace tagvert {
namespace {

namespace fs = std::filesystem;

enum class Fault { None, Fail, Short };

// Code a failing stream call raises: a read or write fault of the system.
constexpr HResult kIoFault = MakeHResult(0x8007001E);

// A stream that fails or goes short at its call `at`: as a source it hands out at most 7 bytes
// per Read (many calls even for a small document), a short read 1; as a target a short write
// stores half of its bytes.
class CFaultyStream : public IByteStream {
 public:
  CFaultyStream(std::vector<std::uint8_t> source, Fault fault, int at)
      : bytes(std::move(source)), m_fault(fault), m_at(at) {}
  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    std::uint32_t n =
        std::min<std::uint32_t>({size, 7, static_cast<std::uint32_t>(bytes.size() - m_position)});
    if (GoesShort()) n = std::min<std::uint32_t>(n, 1);
    std::memcpy(buffer, bytes.data() + m_position, n);
    m_position += n;
    return n;
  }
  std::uint32_t Write(const void* data, std::uint32_t size) override {
    if (GoesShort()) size /= 2;
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
    m_position += size;
    return size;
  }
  std::uint64_t Position() override { return m_position; }
  bool Size(std::uint64_t& size) override {
    size = bytes.size();
    return true;
  }
  int calls = 0;
  std::vector<std::uint8_t> bytes;

 private:
  // Counts a call: raises the fault at call `at`, or says that this call goes short.
  bool GoesShort() {
    if (++calls != m_at) return false;
    if (m_fault == Fault::Fail) ThrowHResult(kIoFault);
    return m_fault == Fault::Short;
  }
  std::size_t m_position = 0;
  Fault m_fault;
  int m_at;
};

struct CRun {
  HResult result = 0;
  std::vector<std::string> states;  // the state events alone, in order
  std::vector<std::uint8_t> output;
  int sourceCalls = 0;
  int targetCalls = 0;
};

CRun Convert(bool toIf, const std::vector<std::uint8_t>& input, Fault sourceFault,
             Fault targetFault, int at) {
  CTagvertConverter converter;
  converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(0x000C0000));
  auto recorder = std::make_shared<test::CEventRecorder>();
  std::uint32_t cookie = 0;
  converter.Advise(recorder, cookie);
  auto source = std::make_shared<CFaultyStream>(input, sourceFault, at);
  auto target = std::make_shared<CFaultyStream>(std::vector<std::uint8_t>(), targetFault, at);
  CRun run;
  run.result = toIf ? converter.ConvertToIF(CEndpoint::Stream(source), CEndpoint::Stream(target))
                    : converter.ConvertFromIF(CEndpoint::Stream(source), CEndpoint::Stream(target));
  for (const std::string& e : recorder->events)
    if (e.rfind("State ", 0) == 0) run.states.push_back(e);
  run.output = target->bytes;
  run.sourceCalls = source->calls;
  run.targetCalls = target->calls;
  return run;
}

// Small documents of every encoding the reader takes, with their IF, in both directions.
struct CCase {
  std::string name;
  bool toIf;
  std::vector<std::uint8_t> input;
};

std::vector<CCase> Cases() {
  std::vector<CCase> cases;
  for (const auto& path : test::TtxFiles(fs::path(TAGVERT_TEST_DATA_DIR) / "roundtrip")) {
    const auto ttx = test::ReadFileBytes(path.string());
    CTagvertConverter converter;
    converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(0x000C0000));
    cases.push_back({path.filename().string() + " to IF", true, ttx});
    cases.push_back(
        {path.filename().string() + " from IF", false, test::ToIf(ttx, &converter).output});
  }
  return cases;
}

// Every read failing or reading short in turn, then every write writing short or failing.
TEST(FaultInjectionTest, EveryReadAndWriteFailingInTurn) {
  const std::vector<std::string> converted = {"State 1", "State 0"};
  const std::vector<std::string> failed = {"State 1", "State 32768"};
  const std::vector<std::string> failedAtFlush = {"State 1", "State 0", "State 32768"};
  const std::vector<std::string> shortWrite = {"State 1", "State 32771", "State 32768"};
  const std::vector<std::string> shortAtFlush = {"State 1", "State 0", "State 32771",
                                                 "State 32768"};
  for (const CCase& c : Cases()) {
    const CRun clean = Convert(c.toIf, c.input, Fault::None, Fault::None, 0);
    ASSERT_EQ(clean.result, kSOk) << c.name;
    ASSERT_GT(clean.sourceCalls, 3) << c.name;
    ASSERT_GE(clean.targetCalls, 1) << c.name;
    for (int k = 1; k <= clean.sourceCalls; ++k) {
      SCOPED_TRACE(c.name + ", read " + std::to_string(k));
      const CRun failRun = Convert(c.toIf, c.input, Fault::Fail, Fault::None, k);
      EXPECT_EQ(failRun.result, kIoFault);
      EXPECT_EQ(failRun.states, failed);
      // A conversion to IF writes nothing before it has read everything.
      EXPECT_TRUE(!c.toIf || failRun.output.empty());
      // A short read changes nothing.
      const CRun shortRun = Convert(c.toIf, c.input, Fault::Short, Fault::None, k);
      EXPECT_EQ(shortRun.result, kSOk);
      EXPECT_EQ(shortRun.states, converted);
      EXPECT_EQ(shortRun.output, clean.output);
    }
    for (int k = 1; k <= clean.targetCalls; ++k) {
      SCOPED_TRACE(c.name + ", write " + std::to_string(k));
      const bool last = k == clean.targetCalls;  // the flush after StateChange(0)
      const CRun shortRun = Convert(c.toIf, c.input, Fault::None, Fault::Short, k);
      EXPECT_EQ(shortRun.result, kEFail);
      EXPECT_EQ(shortRun.states, last ? shortAtFlush : shortWrite);
      EXPECT_EQ(shortRun.targetCalls, k);  // nothing is written after a short write
      const CRun failRun = Convert(c.toIf, c.input, Fault::None, Fault::Fail, k);
      EXPECT_EQ(failRun.result, kIoFault);
      EXPECT_EQ(failRun.states, last ? failedAtFlush : failed);
    }
  }
}

}  // namespace
}  // namespace tagvert
