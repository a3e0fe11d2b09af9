// Tagvert: conversion events and the listener list.
// SPDX-License-Identifier: Apache-2.0
#include "frame/trans_events.h"

#include <new>

namespace tagvert {

namespace {
constexpr std::size_t kInitialSlots = 4;
// Cookies are 32-bit slot numbers.
constexpr std::size_t kMaxSlots = UINT32_MAX / 2;
}  // namespace

CTransEventsBase::CTransEventsBase() {
  m_sinks.resize(kInitialSlots);
}

HResult CTransEventsBase::Advise(TransEventsListenerPtr listener, std::uint32_t& cookie) {
  cookie = 0;
  if (!listener) return kConnectECannotConnect;
  std::lock_guard lock(m_lock);
  for (std::size_t i = 0; i < m_sinks.size(); ++i) {
    if (!m_sinks[i]) {
      m_sinks[i] = std::move(listener);
      cookie = static_cast<std::uint32_t>(i + 1);
      return kSOk;
    }
  }
  // Every slot is taken: double them.
  const std::size_t used = m_sinks.size();
  if (used > kMaxSlots) return kConnectEAdviseLimit;
  try {
    m_sinks.resize(used == 0 ? kInitialSlots : used * 2);
  } catch (const std::bad_alloc&) {
    return kConnectEAdviseLimit;
  }
  m_sinks[used] = std::move(listener);
  cookie = static_cast<std::uint32_t>(used + 1);
  return kSOk;
}

HResult CTransEventsBase::Unadvise(std::uint32_t cookie) {
  std::lock_guard lock(m_lock);
  if (cookie == 0 || cookie > m_sinks.size() || !m_sinks[cookie - 1]) {
    return kConnectENoConnection;
  }
  m_sinks[cookie - 1].reset();
  return kSOk;
}

std::vector<CConnection> CTransEventsBase::EnumConnections() const {
  std::lock_guard lock(m_lock);
  std::vector<CConnection> out;
  for (std::size_t i = 0; i < m_sinks.size(); ++i) {
    if (m_sinks[i]) out.push_back({static_cast<std::uint32_t>(i + 1), m_sinks[i]});
  }
  return out;
}

std::size_t CTransEventsBase::SlotCount() const {
  std::lock_guard lock(m_lock);
  return m_sinks.size();
}

template <typename DeliverFn>
void CTransEventsBase::Deliver(std::size_t count, bool skipUnreachable, DeliverFn&& deliver) {
  for (std::size_t i = 0; i < count; ++i) {
    TransEventsListenerPtr sink;
    {
      std::lock_guard lock(m_lock);
      if (i < m_sinks.size()) sink = m_sinks[i];
    }
    if (!sink) continue;
    try {
      deliver(*sink);
    } catch (const CHResultError&) {
      if (!skipUnreachable) throw;
    } catch (...) {
      // A listener's own failure is its own: delivery goes on to the next one.
    }
  }
}

void CTransEventsBase::FireStateChange(std::int32_t state, bool skipUnreachable) {
  std::size_t count;
  {
    std::lock_guard lock(m_lock);
    count = m_sinks.size();
    m_state.store(state);
  }
  Deliver(count, skipUnreachable, [state](ITransEventsListener& l) { l.OnStateChange(state); });
}

void CTransEventsBase::FireTextChange(const std::u16string& text) {
  Deliver(SlotCount(), false, [&text](ITransEventsListener& l) { l.OnTextChange(text); });
}

void CTransEventsBase::FireProgressChange(std::int32_t progress, std::int32_t maxProgress) {
  Deliver(SlotCount(), false,
          [=](ITransEventsListener& l) { l.OnProgressChange(progress, maxProgress); });
}

void CTransEventsBase::FirePropertyChange(const CVariant& prop, const CVariant& newVal) {
  Deliver(SlotCount(), false, [&](ITransEventsListener& l) { l.OnPropertyChange(prop, newVal); });
}

}  // namespace tagvert
