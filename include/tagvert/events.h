// Tagvert: the conversion states and the listener of conversion events (ITransEventsListener).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tagvert/export.h"
#include "tagvert/hresult.h"
#include "tagvert/variant.h"

namespace tagvert {

// Conversion states carried by State and StateChange.

/// No conversion runs (also the state after a successful one).
inline constexpr std::int32_t kStateIdle = 0;
/// A conversion runs.
inline constexpr std::int32_t kStateConverting = 1;
/// The last conversion was stopped (its call returned kSOk).
inline constexpr std::int32_t kStateStopped = 2;
/// The last conversion failed (its call returned the failure code).
inline constexpr std::int32_t kStateFailed = 0x8000;

// Connection results of the listener list.

/// Unadvise: the cookie names no listener.
inline constexpr HResult kConnectENoConnection = MakeHResult(0x80040200);
/// Advise: no more listeners can be added.
inline constexpr HResult kConnectEAdviseLimit = MakeHResult(0x80040201);
/// Advise: the listener is null.
inline constexpr HResult kConnectECannotConnect = MakeHResult(0x80040202);

/// A listener of the four conversion events. Events arrive synchronously on the converting
/// thread; a listener may call back into the converter (State, Stop, Advise, Unadvise).
/// A listener that cannot be reached at all throws CHResultError: the delivery ends and the
/// firing operation raises that code (inside a conversion, the conversion fails with it; see
/// the final states in CTransEventsBase). Any other exception thrown by a listener is swallowed.
class TAGVERT_API ITransEventsListener {
 public:
  /// Listeners are destroyed through this interface (the converter holds them shared).
  virtual ~ITransEventsListener() = default;
  /// A property put succeeded; the values are those the caller passed.
  virtual void OnPropertyChange(const CVariant& /*prop*/, const CVariant& /*newVal*/) {}
  /// The converter's state changed (0 idle, 1 converting, 2 stopped, 0x8000 failed, or a
  /// storage failure code such as 0x8003 just before 0x8000).
  virtual void OnStateChange(std::int32_t /*state*/) {}
  /// The caption for the running conversion (possibly empty).
  virtual void OnTextChange(const std::u16string& /*caption*/) {}
  /// Progress in percent of the input read, at each multiple of ten.
  virtual void OnProgressChange(std::int32_t /*progress*/, std::int32_t /*maxProgress*/) {}
};

/// A shared listener.
using TransEventsListenerPtr = std::shared_ptr<ITransEventsListener>;

/// One advised listener with its cookie.
struct CConnection {
  std::uint32_t cookie = 0;
  TransEventsListenerPtr listener;
};

}  // namespace tagvert
