// Tagvert: the tagvert command.
// SPDX-License-Identifier: Apache-2.0
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return static_cast<int>(tagvert::cli::RunCli(args, std::cout, std::cerr));
}
