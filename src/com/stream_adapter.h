// Tagvert: the caller's IStream as the storage's byte stream (CComByteStream).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <objidl.h>
#include <windows.h>

#include "storage/byte_stream.h"

namespace tagvert::com {

/// A byte stream over an IStream of the host, holding a counted reference to it.
/// Read and Write failures throw CHResultError with the stream's HRESULT; a size query that
/// fails gives 0; the position is a seek by 0 from the current position.
class CComByteStream final : public IByteStream {
 public:
  /// Asks `object` for IStream. The endpoint holds the stream, or, when there is none, the code
  /// with which the storage refuses it at open: E_INVALIDARG for an object without the
  /// interface (or no object), any other failure of the query as it came.
  static CEndpoint EndpointFor(IUnknown* object);

  /// Takes over one reference to `stream`.
  explicit CComByteStream(IStream* stream) : m_stream(stream) {}
  ~CComByteStream() override;
  CComByteStream(const CComByteStream&) = delete;
  CComByteStream& operator=(const CComByteStream&) = delete;

  std::uint32_t Read(void* buffer, std::uint32_t size) override;
  std::uint32_t Write(const void* data, std::uint32_t size) override;
  std::uint64_t Position() override;
  bool Size(std::uint64_t& size) override;

 private:
  IStream* m_stream;
};

}  // namespace tagvert::com
