// Tagvert: a POSIX file descriptor as a byte stream, shared by the library's files and the
// command's inputs and outputs.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/file_stream.h"
#include "storage/hresult.h"

namespace tagvert::detail {

/// The result code of an errno value, in the platform's layout for system errors (0x8007xxxx
/// with the matching system error number), so that every platform names a cause the same way;
/// E_FAIL for a cause without one.
inline HResult HResultFromErrno(int error, bool writing) {
  std::uint32_t code = 0;
  switch (error) {
    case EIO:
      code = writing ? kSystemWriteFault : kSystemReadFault;
      break;
    case EISDIR:
      code = kSystemDirectory;
      break;
    case EACCES:
    case EPERM:
      code = kSystemAccessDenied;
      break;
    case ENOSPC:
      code = kSystemDiskFull;
      break;
#ifdef EDQUOT
    case EDQUOT:
      code = kSystemQuotaExceeded;
      break;
#endif
    case EFBIG:
      code = kSystemFileTooLarge;
      break;
    case EPIPE:
      code = kSystemBrokenPipe;
      break;
    default:
      return kEFail;
  }
  return MakeHResult(0x80070000U | code);
}

/// A file descriptor as a byte stream. Reads and writes retry on EINTR. A failed read throws the
/// code of its cause, as the stream interface promises; a failed write reports the bytes it
/// transferred, as the storage judges only that count, and keeps the cause for the command.
/// For a regular file the stream also notices whether the file changed while it was read.
class CPosixFileStream : public CFileStream {
 public:
  /// A stream over standard input or output (not `owned`) leaves the descriptor open. With
  /// `stopped`, a read or write that a signal interrupts gives up when `stopped` says so, rather
  /// than waiting on for a pipe or a terminal.
  explicit CPosixFileStream(int fd, bool owned = true, bool (*stopped)() = nullptr)
      : m_fd(fd), m_owned(owned), m_stopped(stopped) {
    struct stat st {};
    if (::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode)) {
      m_regular = true;
      m_sizeAtOpen = static_cast<std::uint64_t>(st.st_size);
      // Standard input may be handed over part-way into a file.
      const off_t start = ::lseek(m_fd, 0, SEEK_CUR);
      if (start > 0) m_startAtOpen = static_cast<std::uint64_t>(start);
    }
  }
  ~CPosixFileStream() override {
    if (m_owned && m_fd >= 0) ::close(m_fd);
  }
  CPosixFileStream(const CPosixFileStream&) = delete;
  CPosixFileStream& operator=(const CPosixFileStream&) = delete;

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    for (;;) {
      const ssize_t n = ::read(m_fd, buffer, size);
      if (n >= 0) {
        m_bytesRead += static_cast<std::uint64_t>(n);
        return static_cast<std::uint32_t>(n);
      }
      if (errno != EINTR) ThrowHResult(HResultFromErrno(errno, false));
      if (m_stopped != nullptr && m_stopped()) ThrowHResult(kEAbort);
    }
  }

  std::uint32_t Write(const void* data, std::uint32_t size) override {
    const auto* p = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(m_fd, p + done, size - done);
      if (n < 0 && errno == EINTR && (m_stopped == nullptr || !m_stopped())) continue;
      if (n <= 0) {
        m_writeError = n < 0 ? HResultFromErrno(errno, true) : kEFail;
        break;
      }
      done += static_cast<std::uint32_t>(n);
    }
    m_bytesWritten += done;
    if (m_writeback && m_bytesWritten - m_writtenBack >= kWritebackStep) WriteBack();
    return done;
  }

  /// For a file that Finish will force to the disk: hands what was written to the disk while
  /// writing goes on, a few megabytes at a time, so that the final sync waits only for the last
  /// of it rather than for the whole file. The writes must start at the file's beginning.
  void WriteBackEarly() { m_writeback = m_regular; }

  std::uint64_t Position() override {
    const off_t pos = ::lseek(m_fd, 0, SEEK_CUR);
    return pos < 0 ? 0 : static_cast<std::uint64_t>(pos);
  }

  bool Size(std::uint64_t& size) override {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  HResult WriteError() const override { return m_writeError; }

  bool ChangedWhileRead() override {
    if (!m_regular) return false;
    std::uint64_t now = 0;
    return !Size(now) || now != m_sizeAtOpen || m_startAtOpen + m_bytesRead != m_sizeAtOpen;
  }

  HResult Finish(bool durable) override {
    HResult result = m_writeError;
    if (durable && m_regular && ::fsync(m_fd) != 0 && result == kSOk) {
      result = HResultFromErrno(errno, true);
    }
    if (m_owned && m_fd >= 0) {
      // close() is not retried on EINTR: the descriptor is released whatever it reports.
      if (::close(m_fd) != 0 && result == kSOk && errno != EINTR) {
        result = HResultFromErrno(errno, true);
      }
      m_fd = -1;
    }
    return result;
  }

 private:
  int m_fd;
  bool m_owned;
  bool (*m_stopped)();
  bool m_regular = false;
  std::uint64_t m_sizeAtOpen = 0;
  std::uint64_t m_startAtOpen = 0;
  std::uint64_t m_bytesRead = 0;
  HResult m_writeError = kSOk;
  bool m_writeback = false;
  std::uint64_t m_bytesWritten = 0;
  std::uint64_t m_writtenBack = 0;

  static constexpr std::uint64_t kWritebackStep = std::uint64_t{8} << 20;

  // Starts the disk writing the range written since the last call, without waiting for it. Only
  // a hint: a failure shows in the final sync, which writes whatever is left.
  void WriteBack() {
#ifdef SYNC_FILE_RANGE_WRITE
    ::sync_file_range(m_fd, static_cast<off_t>(m_writtenBack),
                      static_cast<off_t>(m_bytesWritten - m_writtenBack), SYNC_FILE_RANGE_WRITE);
#endif
    m_writtenBack = m_bytesWritten;
  }
};

}  // namespace tagvert::detail
