// Tagvert: operating-system services of the command line on Windows.
// SPDX-License-Identifier: Apache-2.0
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the headers below need its types.
#include <io.h>
#include <psapi.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/cli_services.h"
#include "storage/char_class.h"

namespace tagvert {
namespace {

std::wstring Wide(const std::string& utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string ErrorPhrase(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return "the file does not exist";
    case ERROR_PATH_NOT_FOUND:
      return "a folder of the path does not exist";
    case ERROR_ACCESS_DENIED:
      return "permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "the file is in use";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "the disk is full";
    case ERROR_WRITE_PROTECT:
      return "the medium is write-protected";
    default:
      return "system error " + std::to_string(error);
  }
}

std::atomic<void (*)()> g_interruptHandler{nullptr};
std::atomic<int> g_interrupts{0};

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (g_interrupts.fetch_add(1) > 0) std::_Exit(130);
  if (auto handler = g_interruptHandler.load()) handler();
  return TRUE;
}

bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE handle =
      ::CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const BOOL ok = ::GetFileInformationByHandle(handle, &info);
  ::CloseHandle(handle);
  return ok != FALSE;
}

}  // namespace

bool PlatformStderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

std::string PlatformCheckReadable(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ErrorPhrase(::GetLastError());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
  const HANDLE handle = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ErrorPhrase(::GetLastError());
  ::CloseHandle(handle);
  return {};
}

std::string PlatformCreateTempBeside(const std::string& target, std::string& error) {
  const auto slash = target.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  wchar_t path[MAX_PATH + 1];
  if (::GetTempFileNameW(Wide(folder).c_str(), L"tgv", 0, path) == 0) {
    const DWORD code = ::GetLastError();
    // The output itself need not exist: a missing entry is its folder.
    error = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                ? "its folder does not exist"
                : ErrorPhrase(code);
    return {};
  }
  std::u16string units(reinterpret_cast<const char16_t*>(path));
  return Utf16ToUtf8(units);
}

bool PlatformReplaceFile(const std::string& from, const std::string& to, std::string& error) {
  if (::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  error = ErrorPhrase(::GetLastError());
  return false;
}

void PlatformRemoveFile(const std::string& path) {
  ::DeleteFileW(Wide(path).c_str());
}

bool PlatformSameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia{};
  BY_HANDLE_FILE_INFORMATION ib{};
  if (!FileIdentity(a, ia) || !FileIdentity(b, ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

void PlatformOnInterrupt(void (*handler)()) {
  g_interruptHandler.store(handler);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

unsigned long long PlatformPeakMemory() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize;
}

}  // namespace tagvert
