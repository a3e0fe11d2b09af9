// Tagvert: the abstract byte stream through which every source and target passes, and the
// tagged source or target value (CEndpoint).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "tagvert/export.h"
#include "tagvert/hresult.h"

namespace tagvert {

/// A byte stream in the role of a platform stream object: memory streams in tests and for the
/// built-in rules, files in platform/, the host's stream objects in com/.
/// Streams are shared (std::shared_ptr) because the storage and the caller both hold them.
class TAGVERT_API IByteStream {
 public:
  /// Streams are destroyed through this interface (their holders share them).
  virtual ~IByteStream() = default;
  /// Reads up to `size` bytes into `buffer`; returns the number read, 0 at the end of the data.
  /// Throws CHResultError when the read fails.
  virtual std::uint32_t Read(void* buffer, std::uint32_t size) = 0;
  /// Writes up to `size` bytes; returns the number actually accepted (may be fewer).
  virtual std::uint32_t Write(const void* data, std::uint32_t size) = 0;
  /// The current position in bytes (a seek by 0 from the current position).
  virtual std::uint64_t Position() = 0;
  /// The total size in bytes; false when the size cannot be queried.
  virtual bool Size(std::uint64_t& size) = 0;
};

/// A shared byte stream.
using ByteStreamPtr = std::shared_ptr<IByteStream>;

/// A tagged source or target value: a file name, a stream, nothing, or a value of another kind
/// (which the storage refuses with E_INVALIDARG at open).
class TAGVERT_API CEndpoint {
 public:
  /// What the value holds.
  enum class Kind { Empty, FileName, Stream, Other };

  /// An empty value (refused at open).
  CEndpoint() = default;
  /// A file given by name (UTF-16).
  static CEndpoint File(std::u16string name) {
    CEndpoint e;
    e.m_kind = Kind::FileName;
    e.m_fileName = std::move(name);
    return e;
  }
  /// A stream; a null pointer stands for an object that offers no stream, which the storage
  /// refuses at open with `openFailure` (E_INVALIDARG unless the object said why).
  static CEndpoint Stream(ByteStreamPtr stream, HResult openFailure = kEInvalidArg) {
    CEndpoint e;
    e.m_kind = Kind::Stream;
    e.m_stream = std::move(stream);
    e.m_openFailure = openFailure;
    return e;
  }
  /// A value of a kind that is neither a file name nor a stream (a number, say).
  static CEndpoint Other() {
    CEndpoint e;
    e.m_kind = Kind::Other;
    return e;
  }

  /// What the value holds.
  Kind GetKind() const { return m_kind; }
  /// The file name (empty unless Kind::FileName).
  const std::u16string& GetFileName() const { return m_fileName; }
  /// The stream (null unless Kind::Stream with a stream).
  const ByteStreamPtr& GetStream() const { return m_stream; }
  /// The code with which opening a stream endpoint without a stream fails.
  HResult GetOpenFailure() const { return m_openFailure; }

 private:
  Kind m_kind = Kind::Empty;
  std::u16string m_fileName;
  ByteStreamPtr m_stream;
  HResult m_openFailure = kEInvalidArg;
};

}  // namespace tagvert
