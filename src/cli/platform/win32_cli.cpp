// Tagvert: operating-system services of the command line on Windows.
// SPDX-License-Identifier: Apache-2.0
// The file stream's header includes windows.h the one way the platform's sources use it; first,
// as the headers below need its types.
#include "platform/win32_file_stream.h"

#include <io.h>
#include <psapi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "cli/platform/cli_output.h"
#include "cli/platform/cli_services.h"
#include "storage/char_class.h"

namespace tagvert {
namespace {

std::wstring Wide(const std::string& utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

// The phrase of system error `error`; empty for one the command does not name.
std::string SystemPhrase(DWORD error) {
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
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_CRC:
      return "input/output error";
    case ERROR_DIRECTORY:
      return "it is a folder";
    case ERROR_FILE_TOO_LARGE:
      return "the output file is too large for this system's limit";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return "the reader of the output has gone";
    case kSystemQuotaExceeded:
      return "the disk quota is exhausted";
    default:
      return {};
  }
}

// Throws the failure of a file service: the code and phrase of system error `error`, or `phrase`.
[[noreturn]] void ThrowFileError(DWORD error, std::string phrase = {}) {
  if (phrase.empty()) phrase = SystemPhrase(error);
  if (phrase.empty()) phrase = "system error " + std::to_string(error);
  throw CFileError(MakeHResult(0x80070000U | (error & 0xFFFFU)), std::move(phrase));
}

// Throws the failure of a file service when `path` cannot be read as a file.
void CheckReadable(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) ThrowFileError(::GetLastError());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) ThrowFileError(ERROR_DIRECTORY);
  const HANDLE handle = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) ThrowFileError(::GetLastError());
  ::CloseHandle(handle);
}

std::atomic<void (*)()> g_interruptHandler{nullptr};
std::atomic<int> g_requests{0};
std::atomic<int> g_stopSignal{0};

// The temporary outputs, visible to the console handler.
detail::CTempOutputTable<wchar_t, MAX_PATH + 1> g_temps;

void RemovePublishedTemps() {
  g_temps.RemoveAll([](const wchar_t* path) { ::DeleteFileW(path); });
}

// The signal numbers of the C runtime for the console events, so that both platforms report a
// stop the same way.
constexpr int kSignalInterrupt = 2;
constexpr int kSignalHangUp = 1;
constexpr int kSignalBreak = 21;

// The status with which a console program ends when Ctrl-C ends it.
constexpr UINT kStatusControlCExit = 0xC000013A;

BOOL WINAPI OnConsoleControl(DWORD type) {
  int number = 0;
  switch (type) {
    case CTRL_C_EVENT:
      number = kSignalInterrupt;
      break;
    case CTRL_BREAK_EVENT:
      number = kSignalBreak;
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      number = kSignalHangUp;
      break;
    default:
      return FALSE;
  }
  if (g_requests.fetch_add(1) > 0) {
    // A second request ends the process at once, but never leaves the temporary file behind.
    RemovePublishedTemps();
    ::ExitProcess(kStatusControlCExit);
  }
  g_stopSignal.store(number);
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

// The name of the existing file that `path` leads to, following symbolic links and junctions,
// so that the file is replaced and a link stays; the name as it is when it does not exist (or is
// a link that leads nowhere). Asked of the file itself rather than read from a reparse point, so
// that it also holds where links are not reported as reparse points (Wine's links of the host).
std::string FollowLinks(const std::string& path) {
  // A device name ("\\.\pipe\x") is left alone: opening a pipe would take one of its instances.
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0) return path;
  const std::wstring wide = Wide(path);
  const HANDLE handle =
      ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return path;
  std::wstring name(MAX_PATH, L'\0');
  DWORD length = ::GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                             VOLUME_NAME_DOS);
  if (length >= name.size()) {
    name.resize(length);
    length = ::GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                         VOLUME_NAME_DOS);
  }
  ::CloseHandle(handle);
  if (length == 0 || length >= name.size()) return path;
  name.resize(length);
  // The name comes back in its long form: "\\?\C:\..." or "\\?\UNC\server\...".
  if (name.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    name.replace(0, 8, L"\\\\");
  } else if (name.rfind(L"\\\\?\\", 0) == 0) {
    name.erase(0, 4);
  }
  return Utf16ToUtf8(std::u16string(name.begin(), name.end()));
}

}  // namespace

bool PlatformStdoutIsColourTerminal() {
  const char* noColour = std::getenv("NO_COLOR");
  if (_isatty(_fileno(stdout)) == 0 || (noColour != nullptr && *noColour != '\0')) return false;
  // Colours are escape sequences, which the console reads only in virtual-terminal mode.
  const HANDLE handle = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return ::GetConsoleMode(handle, &mode) != 0 &&
         ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string PlatformErrorCodePhrase(const std::error_code& error) {
  if (error.category() == std::system_category()) {
    std::string phrase = SystemPhrase(static_cast<DWORD>(error.value()));
    if (!phrase.empty()) return phrase;
  }
  // The system's words, in the voice of the command's own: no capital, no full stop.
  std::string phrase = error.message();
  while (!phrase.empty() &&
         (phrase.back() == '.' || phrase.back() == '\n' || phrase.back() == '\r'))
    phrase.pop_back();
  if (!phrase.empty() && phrase[0] >= 'A' && phrase[0] <= 'Z')
    phrase[0] = static_cast<char>(phrase[0] - 'A' + 'a');
  return phrase;
}

bool PlatformStderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

std::string PlatformSystemErrorPhrase(HResult code) {
  const auto bits = static_cast<std::uint32_t>(code);
  if ((bits & 0xFFFF0000U) != 0x80070000U) return {};
  // Causes the command does not name are left to the caller's own wording.
  return SystemPhrase(bits & 0xFFFFU);
}

std::shared_ptr<CFileStream> PlatformOpenInput(const std::string& path) {
  if (path == "-") {
    return std::make_shared<detail::CWin32FileStream>(::GetStdHandle(STD_INPUT_HANDLE), false);
  }
  CheckReadable(path);
  const HANDLE handle = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) ThrowFileError(::GetLastError());
  return std::make_shared<detail::CWin32FileStream>(handle);
}

CCliOutput PlatformOpenOutput(const std::string& path) {
  CCliOutput output;
  output.target = path;
  if (path == "-") {
    output.file =
        std::make_shared<detail::CWin32FileStream>(::GetStdHandle(STD_OUTPUT_HANDLE), false);
    return output;
  }
  output.target = FollowLinks(path);
  const std::wstring wide = Wide(output.target);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ThrowFileError(ERROR_DIRECTORY);
  }
  // A device (NUL, CON, a named pipe) is written directly: it cannot be replaced by a file.
  const HANDLE probe =
      ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    if (::GetFileType(probe) != FILE_TYPE_DISK) {
      output.file = std::make_shared<detail::CWin32FileStream>(probe);
      return output;
    }
    ::CloseHandle(probe);
  }

  const auto slash = output.target.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : output.target.substr(0, slash + 1);
  wchar_t temp[MAX_PATH + 1];
  if (::GetTempFileNameW(Wide(folder).c_str(), L"tgv", 0, temp) == 0) {
    const DWORD code = ::GetLastError();
    // The output itself need not exist: a missing entry is its folder.
    const bool noFolder = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    ThrowFileError(code, noFolder ? "its folder does not exist" : "");
  }
  output.tempSlot = g_temps.Publish(temp, std::wcslen(temp));
  output.temp = Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(temp)));
  const HANDLE handle = ::CreateFileW(temp, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    PlatformAbandonOutput(output);
    ThrowFileError(code);
  }
  output.file = std::make_shared<detail::CWin32FileStream>(handle);
  return output;
}

void PlatformCommitOutput(CCliOutput& output) {
  detail::FinishOutput(output);
  if (output.temp.empty()) return;
  // The file's data was flushed before. Windows has no sync of a folder: replacing keeps the
  // old file's attributes and security (the file system journals the change of names), and a
  // new target is moved with MOVEFILE_WRITE_THROUGH, which returns once the move is on the disk.
  const std::wstring target = Wide(output.target);
  const std::wstring temp = Wide(output.temp);
  BOOL moved = ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                              REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
  if (!moved) {
    moved = ::MoveFileExW(temp.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  const DWORD error = moved ? ERROR_SUCCESS : ::GetLastError();
  if (!moved) ::DeleteFileW(temp.c_str());
  g_temps.Withdraw(output);
  output.temp.clear();
  if (!moved) ThrowFileError(error);
}

void PlatformAbandonOutput(CCliOutput& output) {
  if (output.file) output.file->Finish(false);
  if (output.temp.empty()) return;
  ::DeleteFileW(Wide(output.temp).c_str());
  g_temps.Withdraw(output);
  output.temp.clear();
}

void PlatformRemoveTemporaryOutputs() {
  RemovePublishedTemps();
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

int PlatformStopSignal() {
  return g_stopSignal.load();
}

void PlatformEndBySignal(int /*number*/) {
  ::ExitProcess(kStatusControlCExit);
}

unsigned long long PlatformPeakMemory() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize;
}

}  // namespace tagvert
