// Tagvert: the connection point for IOrvTransEvents over the frame's listener list.
// SPDX-License-Identifier: Apache-2.0
#include "com/connection_point.h"

#include <olectl.h>

#include <atomic>
#include <new>
#include <vector>

#include "com/module.h"
#include "com/variant_map.h"
#include "tagvert_com.h"

namespace tagvert::com {
namespace {

constexpr DISPID kDispIdPropertyChange = 1;
constexpr DISPID kDispIdStateChange = 2;
constexpr DISPID kDispIdTextChange = 3;
constexpr DISPID kDispIdProgressChange = 4;
// The user's default locale.
constexpr LCID kEventLocale = 1024;

// Frees the argument list of one event.
class CEventArgs {
 public:
  explicit CEventArgs(UINT count) : m_args(count) {
    for (auto& a : m_args)
      ::VariantInit(&a);
  }
  ~CEventArgs() {
    for (auto& a : m_args)
      ClearEventVariant(&a);
  }
  CEventArgs(const CEventArgs&) = delete;
  CEventArgs& operator=(const CEventArgs&) = delete;
  VARIANT* Data() { return m_args.data(); }
  VARIANT& operator[](std::size_t i) { return m_args[i]; }

 private:
  std::vector<VARIANT> m_args;
};

// A snapshot enumerator over items that it holds references to. `Traits` gives the item
// type, how to take and drop a reference, and the interface identifier.
template <typename Interface, typename Traits>
class CSnapshotEnum final : public Interface {
 public:
  using Item = typename Traits::Item;

  explicit CSnapshotEnum(std::vector<Item> items, std::size_t position = 0)
      : m_items(std::move(items)), m_position(position) {
    for (auto& item : m_items)
      Traits::Hold(item);
  }
  ~CSnapshotEnum() {
    for (auto& item : m_items)
      Traits::Drop(item);
  }
  CSnapshotEnum(const CSnapshotEnum&) = delete;
  CSnapshotEnum& operator=(const CSnapshotEnum&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, Traits::Iid())) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG refs = --m_refs;
    if (refs == 0) delete this;
    return refs;
  }

  STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
    if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG n = 0;
    while (n < count && m_position < m_items.size()) {
      out[n] = m_items[m_position++];
      Traits::Hold(out[n]);
      ++n;
    }
    if (fetched != nullptr) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const std::size_t left = m_items.size() - m_position;
    if (count > left) {
      m_position = m_items.size();
      return S_FALSE;
    }
    m_position += count;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    m_position = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(Interface** out) override {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) CSnapshotEnum(m_items, m_position);
    if (*out == nullptr) return E_OUTOFMEMORY;
    (*out)->AddRef();
    return S_OK;
  }

 private:
  CModuleLockHolder m_moduleLock;
  std::atomic<ULONG> m_refs{0};
  std::vector<Item> m_items;
  std::size_t m_position;
};

struct CConnectionTraits {
  using Item = CONNECTDATA;
  static void Hold(CONNECTDATA& c) { c.pUnk->AddRef(); }
  static void Drop(CONNECTDATA& c) { c.pUnk->Release(); }
  static REFIID Iid() { return IID_IEnumConnections; }
};

struct CPointTraits {
  using Item = IConnectionPoint*;
  static void Hold(IConnectionPoint* p) { p->AddRef(); }
  static void Drop(IConnectionPoint* p) { p->Release(); }
  static REFIID Iid() { return IID_IEnumConnectionPoints; }
};

}  // namespace

CSinkListener::CSinkListener(IUnknown* sink) : m_sink(sink) {
  m_sink->AddRef();
}

CSinkListener::~CSinkListener() {
  m_sink->Release();
}

void CSinkListener::Invoke(DISPID id, VARIANT* args, UINT count) {
  IDispatch* dispatch = nullptr;
  const HRESULT hr = m_sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  if (hr == E_NOINTERFACE) return;
  if (FAILED(hr)) ThrowHResult(hr);
  if (dispatch == nullptr) return;
  DISPPARAMS params{args, nullptr, count, 0};
  // The sink's answer does not matter: events cannot make a conversion fail.
  dispatch->Invoke(id, IID_NULL, kEventLocale, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  dispatch->Release();
}

void CSinkListener::OnPropertyChange(const CVariant& prop, const CVariant& newVal) {
  CEventArgs args(2);
  VariantFromEventValue(newVal, &args[0]);
  VariantFromEventValue(prop, &args[1]);
  Invoke(kDispIdPropertyChange, args.Data(), 2);
}

void CSinkListener::OnStateChange(std::int32_t state) {
  CEventArgs args(1);
  V_VT(&args[0]) = VT_I4;
  V_I4(&args[0]) = state;
  Invoke(kDispIdStateChange, args.Data(), 1);
}

void CSinkListener::OnTextChange(const std::u16string& caption) {
  CEventArgs args(1);
  V_BSTR(&args[0]) = BstrFromString(caption);
  V_VT(&args[0]) = VT_BSTR;
  Invoke(kDispIdTextChange, args.Data(), 1);
}

void CSinkListener::OnProgressChange(std::int32_t progress, std::int32_t maxProgress) {
  CEventArgs args(2);
  V_VT(&args[0]) = VT_I4;
  V_I4(&args[0]) = maxProgress;
  V_VT(&args[1]) = VT_I4;
  V_I4(&args[1]) = progress;
  Invoke(kDispIdProgressChange, args.Data(), 2);
}

STDMETHODIMP CConnectionPoint::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CConnectionPoint::AddRef() {
  return m_owner->AddRef();
}

STDMETHODIMP_(ULONG) CConnectionPoint::Release() {
  return m_owner->Release();
}

STDMETHODIMP CConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = DIID_IOrvTransEvents;
  return S_OK;
}

STDMETHODIMP CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  m_container->AddRef();
  *container = m_container;
  return S_OK;
}

STDMETHODIMP CConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  *cookie = 0;
  IUnknown* events = nullptr;
  if (FAILED(sink->QueryInterface(DIID_IOrvTransEvents, reinterpret_cast<void**>(&events))) ||
      events == nullptr) {
    return CONNECT_E_CANNOTCONNECT;
  }
  try {
    auto listener = std::make_shared<CSinkListener>(events);
    events->Release();
    std::uint32_t slot = 0;
    const HResult hr = m_events.Advise(std::move(listener), slot);
    *cookie = slot;
    return hr;
  } catch (...) {
    events->Release();
    return CONNECT_E_ADVISELIMIT;
  }
}

STDMETHODIMP CConnectionPoint::Unadvise(DWORD cookie) {
  return m_events.Unadvise(cookie);
}

STDMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (connections == nullptr) return E_POINTER;
  *connections = nullptr;
  return HResultOf([&]() -> HRESULT {
    std::vector<CONNECTDATA> items;
    for (const auto& c : m_events.EnumConnections()) {
      // Every listener of this object was advised here.
      const auto* listener = static_cast<const CSinkListener*>(c.listener.get());
      items.push_back(CONNECTDATA{listener->Sink(), c.cookie});
    }
    auto* e = new CSnapshotEnum<IEnumConnections, CConnectionTraits>(std::move(items));
    e->AddRef();
    *connections = e;
    return S_OK;
  });
}

HRESULT CreateConnectionPointEnumerator(IConnectionPoint* const* points, ULONG count,
                                        IEnumConnectionPoints** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  return HResultOf([&]() -> HRESULT {
    auto* e = new CSnapshotEnum<IEnumConnectionPoints, CPointTraits>(
        std::vector<IConnectionPoint*>(points, points + count));
    e->AddRef();
    *out = e;
    return S_OK;
  });
}

}  // namespace tagvert::com
