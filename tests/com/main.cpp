// Tagvert: the Windows host tests' entry point: one multithreaded COM apartment for the run.
// SPDX-License-Identifier: Apache-2.0
#include <initguid.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "com_test_util.h"

int main(int argc, char** argv) {
  // A crash must fail the run, not start a debugger that exits with 0.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  ::SetUnhandledExceptionFilter([](EXCEPTION_POINTERS* e) -> LONG {
    std::fprintf(stderr, "com_tests: unhandled exception 0x%08lx\n",
                 static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode));
    std::fflush(stderr);
    ::ExitProcess(3);
  });
  ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  ::CoUninitialize();
  return result;
}
