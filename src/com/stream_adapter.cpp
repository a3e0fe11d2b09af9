// Tagvert: the caller's IStream as the storage's byte stream.
// SPDX-License-Identifier: Apache-2.0
#include "com/stream_adapter.h"

#include <memory>

#include "storage/hresult.h"

namespace tagvert::com {

CEndpoint CComByteStream::EndpointFor(IUnknown* object) {
  if (object == nullptr) return CEndpoint::Stream(nullptr, E_INVALIDARG);
  IStream* stream = nullptr;
  const HRESULT hr = object->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream));
  if (FAILED(hr) || stream == nullptr) {
    return CEndpoint::Stream(nullptr, hr == E_NOINTERFACE || SUCCEEDED(hr) ? E_INVALIDARG : hr);
  }
  return CEndpoint::Stream(std::make_shared<CComByteStream>(stream));
}

CComByteStream::~CComByteStream() {
  m_stream->Release();
}

std::uint32_t CComByteStream::Read(void* buffer, std::uint32_t size) {
  ULONG read = 0;
  const HRESULT hr = m_stream->Read(buffer, size, &read);
  if (FAILED(hr)) ThrowHResult(hr);
  return read;
}

std::uint32_t CComByteStream::Write(const void* data, std::uint32_t size) {
  ULONG written = 0;
  const HRESULT hr = m_stream->Write(data, size, &written);
  if (FAILED(hr)) ThrowHResult(hr);
  return written;
}

std::uint64_t CComByteStream::Position() {
  LARGE_INTEGER zero{};
  ULARGE_INTEGER position{};
  if (FAILED(m_stream->Seek(zero, STREAM_SEEK_CUR, &position))) return 0;
  return position.QuadPart;
}

bool CComByteStream::Size(std::uint64_t& size) {
  STATSTG stat{};
  if (FAILED(m_stream->Stat(&stat, STATFLAG_NONAME))) {
    size = 0;
    return true;
  }
  size = stat.cbSize.QuadPart;
  return true;
}

}  // namespace tagvert::com
