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
/// listener; never while an event is delivered. A delivery walks the slots allocated when it
/// began, so a listener advised during a delivery is reached when its slot lies within them.
class CTransEventsBase {
 public:
  CTransEventsBase();
  virtual ~CTransEventsBase() = default;
  CTransEventsBase(const CTransEventsBase&) = delete;
  CTransEventsBase& operator=(const CTransEventsBase&) = delete;

  /// Adds a listener in the first empty slot; `cookie` receives its 1-based slot number.
  /// A null listener is refused with CONNECT_E_CANNOTCONNECT; CONNECT_E_ADVISELIMIT when the
  /// slots cannot grow. Never throws.
  HResult Advise(TransEventsListenerPtr listener, std::uint32_t& cookie);
  /// Empties the slot of `cookie`; CONNECT_E_NOCONNECTION when it holds no listener.
  HResult Unadvise(std::uint32_t cookie);
  /// The listeners currently advised with their cookies, in slot order.
  std::vector<CConnection> EnumConnections() const;
  /// The last state fired (read without the lock).
  std::int32_t State() const { return m_state.load(); }

 protected:
  /// Stores `state` as the current state and delivers it. A listener that cannot be reached
  /// ends the delivery with its code, unless `skipUnreachable`: then it is skipped and the
  /// others still hear the state (used for the final states of a failed or stopped conversion,
  /// whose result is already decided).
  void FireStateChange(std::int32_t state, bool skipUnreachable = false);
  void FireTextChange(const std::u16string& text);
  void FireProgressChange(std::int32_t progress, std::int32_t maxProgress);
  void FirePropertyChange(const CVariant& prop, const CVariant& newVal);

 private:
  template <typename DeliverFn>
  void Deliver(std::size_t count, bool skipUnreachable, DeliverFn&& deliver);
  std::size_t SlotCount() const;

  mutable std::mutex m_lock;
  // Every allocated slot; an empty slot holds null.
  std::vector<TransEventsListenerPtr> m_sinks;
  std::atomic<std::int32_t> m_state{kStateIdle};
};

}  // namespace tagvert
