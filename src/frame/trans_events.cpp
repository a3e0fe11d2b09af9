// Tagvert: conversion events and the listener list.
// SPDX-License-Identifier: Apache-2.0
#include "frame/trans_events.h"

namespace tagvert {

namespace {
constexpr std::size_t kInitialSlots = 4;
}  // namespace

CTransEventsBase::CTransEventsBase() {
  m_sinks.reserve(kInitialSlots);
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
  if (m_sinks.size() >= UINT32_MAX / 2) return kConnectEAdviseLimit;
  if (m_sinks.size() == m_sinks.capacity()) {
    m_sinks.reserve(m_sinks.empty() ? kInitialSlots : m_sinks.size() * 2);
  }
  m_sinks.push_back(std::move(listener));
  cookie = static_cast<std::uint32_t>(m_sinks.size());
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

std::vector<TransEventsListenerPtr> CTransEventsBase::EnumConnections() const {
  std::lock_guard lock(m_lock);
  std::vector<TransEventsListenerPtr> out;
  for (const auto& sink : m_sinks) {
    if (sink) out.push_back(sink);
  }
  return out;
}

template <typename DeliverFn>
void CTransEventsBase::Deliver(std::size_t count, DeliverFn&& deliver) {
  for (std::size_t i = 0; i < count; ++i) {
    TransEventsListenerPtr sink;
    {
      std::lock_guard lock(m_lock);
      if (i < m_sinks.size()) sink = m_sinks[i];
    }
    if (!sink) continue;
    // A listener's failure is its own: delivery goes on to the next one.
    try {
      deliver(*sink);
    } catch (...) {
    }
  }
}

void CTransEventsBase::FireStateChange(std::int32_t state) {
  std::size_t count;
  {
    std::lock_guard lock(m_lock);
    count = m_sinks.size();
    m_state.store(state);
  }
  Deliver(count, [state](ITransEventsListener& l) { l.OnStateChange(state); });
}

void CTransEventsBase::FireTextChange(const std::u16string& text) {
  std::size_t count;
  {
    std::lock_guard lock(m_lock);
    count = m_sinks.size();
  }
  Deliver(count, [&text](ITransEventsListener& l) { l.OnTextChange(text); });
}

void CTransEventsBase::FireProgressChange(std::int32_t progress, std::int32_t maxProgress) {
  std::size_t count;
  {
    std::lock_guard lock(m_lock);
    count = m_sinks.size();
  }
  Deliver(count, [=](ITransEventsListener& l) { l.OnProgressChange(progress, maxProgress); });
}

void CTransEventsBase::FirePropertyChange(const CVariant& prop, const CVariant& newVal) {
  std::size_t count;
  {
    std::lock_guard lock(m_lock);
    count = m_sinks.size();
  }
  Deliver(count, [&](ITransEventsListener& l) { l.OnPropertyChange(prop, newVal); });
}

}  // namespace tagvert
