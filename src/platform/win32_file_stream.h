// Tagvert: a Windows file handle as a byte stream, shared by the library's files and the
// command's inputs and outputs.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>

#include "platform/file_stream.h"
#include "storage/hresult.h"

namespace tagvert::detail {

/// The result code of a system error number (0x8007xxxx); E_FAIL when there is none.
inline HResult HResultFromSystemError(DWORD error) {
  if (error == ERROR_SUCCESS) return kEFail;
  return MakeHResult(0x80070000U | (error & 0xFFFFU));
}

/// A file handle as a byte stream. A failed read throws the code of its cause, as the stream
/// interface promises (a pipe whose writer has closed is the end of the data); a failed write
/// reports the bytes it transferred, as the storage judges only that count, and keeps the
/// cause. For a disk file the stream also notices whether the file changed while it was read.
class CWin32FileStream : public CFileStream {
 public:
  /// A stream over standard input or output (not `owned`) leaves the handle open.
  explicit CWin32FileStream(HANDLE handle, bool owned = true) : m_handle(handle), m_owned(owned) {
    LARGE_INTEGER size{};
    if (::GetFileType(m_handle) == FILE_TYPE_DISK && ::GetFileSizeEx(m_handle, &size)) {
      m_disk = true;
      m_sizeAtOpen = static_cast<std::uint64_t>(size.QuadPart);
      // Standard input may be handed over part-way into a file.
      m_startAtOpen = Position();
    }
  }
  ~CWin32FileStream() override {
    if (m_owned && m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
  }
  CWin32FileStream(const CWin32FileStream&) = delete;
  CWin32FileStream& operator=(const CWin32FileStream&) = delete;

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    DWORD read = 0;
    if (!::ReadFile(m_handle, buffer, size, &read, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
      ThrowHResult(HResultFromSystemError(error));
    }
    m_bytesRead += read;
    return read;
  }

  std::uint32_t Write(const void* data, std::uint32_t size) override {
    DWORD written = 0;
    if (!::WriteFile(m_handle, data, size, &written, nullptr)) {
      m_writeError = HResultFromSystemError(::GetLastError());
    } else if (written < size) {
      m_writeError = MakeHResult(0x80070000U | kSystemDiskFull);
    }
    return written;
  }

  std::uint64_t Position() override {
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(m_handle, zero, &position, FILE_CURRENT)) return 0;
    return static_cast<std::uint64_t>(position.QuadPart);
  }

  bool Size(std::uint64_t& size) override {
    LARGE_INTEGER fileSize{};
    if (::GetFileType(m_handle) != FILE_TYPE_DISK || !::GetFileSizeEx(m_handle, &fileSize)) {
      return false;
    }
    size = static_cast<std::uint64_t>(fileSize.QuadPart);
    return true;
  }

  HResult WriteError() const override { return m_writeError; }

  bool ChangedWhileRead() override {
    if (!m_disk) return false;
    std::uint64_t now = 0;
    return !Size(now) || now != m_sizeAtOpen || m_startAtOpen + m_bytesRead != m_sizeAtOpen;
  }

  HResult Finish(bool durable) override {
    HResult result = m_writeError;
    if (durable && m_disk && !::FlushFileBuffers(m_handle) && result == kSOk) {
      result = HResultFromSystemError(::GetLastError());
    }
    if (m_owned && m_handle != INVALID_HANDLE_VALUE) {
      if (!::CloseHandle(m_handle) && result == kSOk) {
        result = HResultFromSystemError(::GetLastError());
      }
      m_handle = INVALID_HANDLE_VALUE;
    }
    return result;
  }

 private:
  HANDLE m_handle;
  bool m_owned;
  bool m_disk = false;
  std::uint64_t m_sizeAtOpen = 0;
  std::uint64_t m_startAtOpen = 0;
  std::uint64_t m_bytesRead = 0;
  HResult m_writeError = kSOk;
};

}  // namespace tagvert::detail
