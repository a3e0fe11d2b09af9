// Tagvert: the command's output bookkeeping shared by the platforms: the table of temporary files
// that a stop handler removes, and the finishing of an output before it is committed.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/cli_output.h"
#include "platform/posix_file_stream.h"

namespace tagvert {
namespace {

using Table = detail::CTempOutputTable<char, 16>;

std::set<std::string> Published(Table& table) {
  std::set<std::string> names;
  table.RemoveAll([&](const char* path) { names.insert(path); });
  return names;
}

TEST(TempOutputTable, PublishesUntilFullAndFreesWithdrawnSlots) {
  Table table;
  CCliOutput outputs[kMaxTemporaryOutputs];
  for (int i = 0; i < kMaxTemporaryOutputs; ++i) {
    // Built by appending: GCC 12 warns wrongly (-Wrestrict) on a literal + a temporary string.
    std::string name = "t";
    name += std::to_string(i);
    outputs[i].tempSlot = table.Publish(name.data(), name.size());
    EXPECT_EQ(outputs[i].tempSlot, i);
  }
  // Full: a further file is not tracked (its owner still removes it itself).
  EXPECT_EQ(table.Publish("late", 4), -1);
  EXPECT_EQ(Published(table).size(), static_cast<std::size_t>(kMaxTemporaryOutputs));

  table.Withdraw(outputs[5]);
  EXPECT_EQ(outputs[5].tempSlot, -1);
  EXPECT_EQ(Published(table).count("t5"), 0U);
  // The freed slot serves the next file; withdrawing twice frees nothing else.
  EXPECT_EQ(table.Publish("again", 5), 5);
  table.Withdraw(outputs[5]);
  EXPECT_EQ(Published(table).count("again"), 1U);
  for (CCliOutput& output : outputs)
    table.Withdraw(output);
  EXPECT_EQ(Published(table), std::set<std::string>{"again"});
}

TEST(TempOutputTable, NamesAreCopiedWholeOrRefused) {
  Table table;
  const std::string fits(15, 'a');
  const std::string tooLong(16, 'b');
  EXPECT_EQ(table.Publish(tooLong.data(), tooLong.size()), -1);
  EXPECT_EQ(table.Publish(fits.data(), fits.size()), 0);
  // Only the given units count, not what follows them.
  EXPECT_EQ(table.Publish("abcdef", 3), 1);
  EXPECT_EQ(Published(table), (std::set<std::string>{fits, "abc"}));
}

// A stream whose Finish reports a chosen outcome.
class CFinishing : public CCliFile {
 public:
  explicit CFinishing(HResult outcome) : m_outcome(outcome) {}
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void*, std::uint32_t size) override { return size; }
  std::uint64_t Position() override { return 0; }
  bool Size(std::uint64_t&) override { return false; }
  HResult WriteError() const override { return kSOk; }
  bool ChangedWhileRead() override { return false; }
  HResult Finish(bool durable) override {
    durableCalls += durable ? 1 : 0;
    return m_outcome;
  }
  int durableCalls = 0;

 private:
  HResult m_outcome;
};

TEST(FinishOutput, NamesTheCauseAndLeavesNoTemporaryFile) {
  struct Case {
    HResult outcome;
    const char* why;  // empty: success
  };
  const Case cases[] = {
      {kSOk, ""},
      {detail::HResultFromErrno(ENOSPC, true), "the disk is full"},
      {detail::HResultFromErrno(EIO, true), "input/output error"},
      {detail::HResultFromErrno(EFBIG, true),
       "the output file is too large for this system's limit"},
      {kEFail, "the output accepted fewer bytes than were written"},
  };
  const auto folder = std::filesystem::temp_directory_path();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string temp = (folder / "tagvert-finish-").string() + std::to_string(::getpid());
    std::ofstream(temp) << "partial";
    auto file = std::make_shared<CFinishing>(c.outcome);
    CCliOutput output;
    output.file = file;
    output.temp = temp;
    std::string why;
    const bool ok = detail::FinishOutput(output, why);
    EXPECT_EQ(ok, *c.why == '\0');
    EXPECT_EQ(why, c.why);
    // Finished durably once; a failure removes the temporary file and forgets it.
    EXPECT_GE(file->durableCalls, 1);
    EXPECT_EQ(std::filesystem::exists(temp), ok);
    EXPECT_EQ(output.temp.empty(), !ok);
    std::filesystem::remove(temp);
  }
}

}  // namespace
}  // namespace tagvert
