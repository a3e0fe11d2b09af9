// Tagvert: the table of temporary files that the command's stop handler removes, shared by the
// platforms. (The finishing of an output, its causes and the temporary file it removes: the
// command's fault tests, tests/cli/fault_test.sh.) A named pipe as the input, opened once.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/platform/cli_output.h"
#include "cli/platform/cli_services.h"

#ifdef __linux__
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

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

#ifdef __linux__
// Opened and closed once for a test before the real open, a named pipe would have no reader for a
// moment: a writer writing then dies of SIGPIPE, and the command converts an empty input.
TEST(PlatformInput, OpensANamedPipeOnce) {
  char folder[] = "/tmp/tagvert-fifo-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string fifo = std::string(folder) + "/in";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Reader and writer at once (Linux), so that no open waits; it holds the text in the pipe.
  const int keeper = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(keeper, 0);
  ASSERT_EQ(::write(keeper, "<a/>", 4), 4);
  const int watch = ::inotify_init1(IN_NONBLOCK);
  // Closes watched too: two opens in a row would be reported as one.
  ASSERT_GE(::inotify_add_watch(watch, fifo.c_str(), IN_OPEN | IN_CLOSE_NOWRITE), 0);
  {
    const auto in = PlatformOpenInput(fifo);
    char text[8];
    EXPECT_EQ(in->Read(text, sizeof text), 4U);
  }
  alignas(inotify_event) char events[1024];
  const ssize_t size = ::read(watch, events, sizeof events);
  int opens = 0;
  for (ssize_t at = 0; at < size;) {
    const auto* event = reinterpret_cast<const inotify_event*>(events + at);
    opens += (event->mask & IN_OPEN) != 0 ? 1 : 0;
    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
  }
  EXPECT_EQ(opens, 1);
  ::close(watch);
  ::close(keeper);
  ::unlink(fifo.c_str());
  ::rmdir(folder);
}
#endif

}  // namespace
}  // namespace tagvert
