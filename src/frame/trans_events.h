// Tagvert: the listener list and the firing of conversion events (CTransEventsBase); the
// states and the listener are declared with the public API (tagvert/events.h).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "storage/hresult.h"
#include "tagvert/events.h"

namespace tagvert {

/// The listener list with its object lock, and the four firing operations. Slots start at 4
/// and double when full; a cookie is the 1-based slot index and stays valid because slots are
/// never compacted. The lock is held only to read the count, update the state and take one
/// listener; never while an event is delivered.
class CTransEventsBase {
 public:
  CTransEventsBase();
  virtual ~CTransEventsBase() = default;
  CTransEventsBase(const CTransEventsBase&) = delete;
  CTransEventsBase& operator=(const CTransEventsBase&) = delete;

  /// Adds a listener in the first empty slot; `cookie` receives its 1-based slot number.
  /// A null listener is refused with CONNECT_E_CANNOTCONNECT.
  HResult Advise(TransEventsListenerPtr listener, std::uint32_t& cookie);
  /// Empties the slot of `cookie`; CONNECT_E_NOCONNECTION when it holds no listener.
  HResult Unadvise(std::uint32_t cookie);
  /// The listeners currently advised, in slot order.
  std::vector<TransEventsListenerPtr> EnumConnections() const;
  /// The last state fired (read without the lock).
  std::int32_t State() const { return m_state.load(); }

 protected:
  void FireStateChange(std::int32_t state);
  void FireTextChange(const std::u16string& text);
  void FireProgressChange(std::int32_t progress, std::int32_t maxProgress);
  void FirePropertyChange(const CVariant& prop, const CVariant& newVal);

 private:
  template <typename DeliverFn>
  void Deliver(std::size_t count, DeliverFn&& deliver);

  mutable std::mutex m_lock;
  std::vector<TransEventsListenerPtr> m_sinks;
  std::atomic<std::int32_t> m_state{kStateIdle};
};

}  // namespace tagvert
