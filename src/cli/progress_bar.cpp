// Tagvert: the command's progress line.
// SPDX-License-Identifier: Apache-2.0
#include "cli/progress_bar.h"

#include <algorithm>
#include <cstdio>

namespace tagvert::cli {

namespace {

constexpr int kBarWidth = 30;

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

std::string ProgressLine(Phase phase, std::int32_t percent, std::uint64_t bytesWritten) {
  const int shown = std::clamp(percent, 0, 100);
  const int filled = shown * kBarWidth / 100;
  std::string line = "  [" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " +
                     std::to_string(shown) + "%";
  switch (phase) {
    case Phase::Reading:
      return line + " reading";
    case Phase::Converting:
      return line + " converting";
    case Phase::Structuring:
      return line + " read; structuring";
    case Phase::Writing:
      return line + " read; writing " + Megabytes(bytesWritten);
  }
  return line;
}

}  // namespace tagvert::cli
