// Tagvert: test helper: processor time of an operation, to compare with a linear baseline.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <ctime>

namespace tagvert::test {

/// Processor seconds that `work` takes. Processor time rather than wall-clock time, so that
/// other processes on a loaded machine hardly disturb it; tests compare it with the time of a
/// linear baseline over the same input measured in the same test (building the input), never
/// with a fixed limit.
template <class Work>
double CpuSeconds(Work work) {
  const std::clock_t start = std::clock();
  work();
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

}  // namespace tagvert::test
