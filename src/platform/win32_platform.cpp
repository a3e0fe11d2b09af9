// Tagvert: operating-system services on Windows (files, code pages, message texts).
// SPDX-License-Identifier: Apache-2.0
// The file stream's header includes windows.h the one way the platform's sources use it.
#include "platform/win32_file_stream.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_stream.h"
#include "rules/message_text.h"
#include "storage/code_page_platform.h"
#include "storage/data_storage.h"
#include "storage/large_memory.h"

namespace tagvert {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the platform's wide characters are UTF-16");

// The registry key whose values hold the rule loader's message texts.
constexpr char kMessageKey[] = "Software\\Orvel Labs\\Lexcore\\Internal Format\\Tagvert";

const wchar_t* WidePath(const std::u16string& name) {
  return reinterpret_cast<const wchar_t*>(name.c_str());
}

ByteStreamPtr OpenFile(const std::u16string& name, DWORD access, DWORD disposition) {
  if (name.empty()) return nullptr;
  const HANDLE handle = ::CreateFileW(WidePath(name), access, FILE_SHARE_READ, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_shared<detail::CWin32FileStream>(handle);
}

// Text in the system ANSI code page widened to UTF-16: exactly the converted characters.
std::u16string WidenAnsi(const char* text, int length) {
  if (length <= 0) return {};
  const int units = ::MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (units <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  const int done = ::MultiByteToWideChar(CP_ACP, 0, text, length,
                                         reinterpret_cast<wchar_t*>(wide.data()), units);
  if (done <= 0) return {};
  wide.resize(static_cast<std::size_t>(done));
  return wide;
}

}  // namespace

ByteStreamPtr PlatformOpenFileForReading(const std::u16string& name) {
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened, as wanted for a source.
  return OpenFile(name, GENERIC_READ, OPEN_EXISTING);
}

ByteStreamPtr PlatformCreateFileForWriting(const std::u16string& name) {
  return OpenFile(name, GENERIC_WRITE, CREATE_ALWAYS);
}

void* PlatformAllocateLarge(std::size_t bytes) {
  // Committed pages are zero-filled and only take memory when first touched.
  return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

// Windows takes no advice on the size of the pages of ordinary memory.
void PlatformAdviseLarge(void* /*block*/, std::size_t /*bytes*/) {}
void PlatformAdviseSmall(void* /*block*/, std::size_t /*bytes*/) {}

void PlatformFreeLarge(void* block, std::size_t /*bytes*/) {
  if (block != nullptr) ::VirtualFree(block, 0, MEM_RELEASE);
}

std::size_t PlatformLargeBlockSpan(std::size_t bytes) {
  constexpr std::size_t kPage = 4096;
  // Guard: size overflow
  if (bytes > SIZE_MAX - kPage) return 0;
  // The committed pages: a block of another size with the same pages may stand in for it.
  return (bytes + kPage - 1) & ~(kPage - 1);
}

// VirtualFree gives back only a whole allocation, at its base: blocks are kept whole.
bool PlatformLargeBlocksDivide() {
  return false;
}

void PlatformDiscardLarge(void* begin, std::size_t bytes) {
  constexpr std::uintptr_t kPage = 4096;
  const auto first = (reinterpret_cast<std::uintptr_t>(begin) + kPage - 1) & ~(kPage - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(kPage - 1);
  // The pages stay committed; their content may go, and with it their memory.
  if (last > first) {
    ::VirtualAlloc(reinterpret_cast<void*>(first), last - first, MEM_RESET, PAGE_READWRITE);
  }
}

// No backing ahead on Windows: each page comes at its first touch by the writer.
std::unique_ptr<CPageBacker> PlatformBackPagesAhead(void* /*block*/, std::size_t /*bytes*/) {
  return nullptr;
}

bool PlatformDecodeCodePage(unsigned codePage, const std::uint8_t* bytes, std::size_t size,
                            char16_t& unit) {
  if ((codePage != kCodePage936 && codePage != kCodePage54936) || size == 0 || size > 4) {
    return false;
  }
  // Room for more than one unit, so that two characters or a surrogate pair are seen as such
  // rather than as a buffer that is too small.
  wchar_t out[4] = {};
  const int units =
      ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes),
                            static_cast<int>(size), out, 4);
  if (units != 1) return false;
  unit = static_cast<char16_t>(out[0]);
  return true;
}

std::u16string PlatformGetMessageText(int number) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMessageKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return {};
  }
  char valueName[32];
  std::snprintf(valueName, sizeof valueName, "String%02d", number);
  std::u16string text;
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    // One byte more than asked for, so that a value stored without its terminator still ends.
    std::vector<char> bytes(static_cast<std::size_t>(size) + 1, '\0');
    DWORD read = size;
    if (::RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                           &read) == ERROR_SUCCESS) {
      std::size_t length = 0;
      while (length < read && bytes[length] != '\0')
        ++length;
      text = WidenAnsi(bytes.data(), static_cast<int>(length));
    }
  }
  ::RegCloseKey(key);
  return text;
}

}  // namespace tagvert
