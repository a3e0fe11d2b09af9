// Tagvert: the tagvert command.
// SPDX-License-Identifier: Apache-2.0
#include <iostream>
#include <string>
#include <vector>

#include "cli/platform/cli_services.h"
#include "cli/register_command.h"
#include "cli/run_cli.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: the headers below need its types.
#include <shellapi.h>

#include "storage/char_class.h"

// The arguments as UTF-8, whatever the console's code page: from the wide command line.
static std::vector<std::string> Arguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  for (int i = 1; wide != nullptr && i < count; ++i) {
    const std::wstring arg(wide[i]);
    args.push_back(tagvert::Utf16ToUtf8(std::u16string(arg.begin(), arg.end())));
  }
  ::LocalFree(wide);
  return args;
}
#else
static std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}
#endif

int main(int argc, char** argv) {
  const std::vector<std::string> args = Arguments(argc, argv);
  // register / unregister (Windows): the DLL's own exports, kept apart from the converter commands.
  if (const auto registration = tagvert::cli::RunRegistrationCommand(args, std::cout, std::cerr)) {
    return static_cast<int>(*registration);
  }
  const int status = static_cast<int>(tagvert::cli::RunCli(args, std::cout, std::cerr));
  // A stop signal that came after the last conversion had finished (while its output was being
  // saved, say) still ends the process as the signal does, so that a shell loop over many files
  // stops there instead of going on to the next file.
  if (const int signal = tagvert::PlatformStopSignal()) {
    std::cout.flush();
    std::cerr.flush();
    tagvert::PlatformEndBySignal(signal);
  }
  return status;
}
