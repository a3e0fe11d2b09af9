// Tagvert: a file as a byte stream, as the platform's file services give it (the library's files,
// and the command's inputs and outputs), and the system error numbers its failures carry.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "storage/byte_stream.h"
#include "storage/hresult.h"

namespace tagvert {

/// System error numbers carried in failure codes 0x8007xxxx: a failed file read or write throws
/// or records one of these, whatever the platform (on Windows they are its own error numbers).
inline constexpr std::uint32_t kSystemAccessDenied = 5;
inline constexpr std::uint32_t kSystemWriteFault = 29;
inline constexpr std::uint32_t kSystemReadFault = 30;
inline constexpr std::uint32_t kSystemHandleDiskFull = 39;
inline constexpr std::uint32_t kSystemBrokenPipe = 109;
inline constexpr std::uint32_t kSystemDiskFull = 112;
inline constexpr std::uint32_t kSystemFileTooLarge = 223;
inline constexpr std::uint32_t kSystemDirectory = 267;
inline constexpr std::uint32_t kSystemQuotaExceeded = 1295;

/// A file (or standard input or output) as a byte stream. A failed read throws the code of its
/// cause; a failed write reports the bytes it transferred and keeps the cause.
class CFileStream : public IByteStream {
 public:
  /// The code of the cause of the last failed write; kSOk when no write failed.
  virtual HResult WriteError() const = 0;
  /// For a regular file read to its end: whether its size now, or the bytes read, differ from
  /// its size when it was opened (the file was changed under the reader). False otherwise.
  virtual bool ChangedWhileRead() = 0;
  /// Ends the stream: with `durable`, a regular file's data is forced to the disk; then the file
  /// is closed (standard streams stay open). Returns the first failure of a write, the sync or
  /// the close, kSOk when there was none.
  virtual HResult Finish(bool durable) = 0;
};

}  // namespace tagvert
