// Tagvert: tests of the progress line: the bar, the clamp of the percentage and the phases.
// SPDX-License-Identifier: Apache-2.0
#include "cli/progress_bar.h"

#include <gtest/gtest.h>

#include <string>

namespace tagvert::cli {
namespace {

TEST(ProgressLineTest, ShowsBarPercentageAndPhaseOfTheConversion) {
  const std::string empty(30, '.');
  const std::string full(30, '#');
  const struct {
    Phase phase;
    std::int32_t percent;
    std::uint64_t written;
    std::string line;
  } rows[] = {
      {Phase::Reading, 0, 0, "  [" + empty + "] 0% reading"},
      {Phase::Reading, 50, 0,
       "  [" + std::string(15, '#') + std::string(15, '.') + "] 50% reading"},
      // A file that grows while it is read reports more than 100; a bad count less than 0.
      {Phase::Reading, 1130, 0, "  [" + full + "] 100% reading"},
      {Phase::Reading, -7, 0, "  [" + empty + "] 0% reading"},
      {Phase::Converting, 40, 0,
       "  [" + std::string(12, '#') + std::string(18, '.') + "] 40% converting"},
      {Phase::Structuring, 100, 0, "  [" + full + "] 100% read; structuring"},
      {Phase::Writing, 100, 3u << 20, "  [" + full + "] 100% read; writing 3.0 MB"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(ProgressLine(row.phase, row.percent, row.written), row.line);
  }
}

}  // namespace
}  // namespace tagvert::cli
