// Tagvert: the table of temporary files that the command's stop handler removes, shared by the
// platforms. (The finishing of an output, its causes and the temporary file it removes: the
// command's fault tests, tests/cli/fault_test.sh.)
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/platform/cli_output.h"

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

}  // namespace
}  // namespace tagvert
