// Tagvert: a pool for the elements of one conversion (CElementPool).
// SPDX-License-Identifier: Apache-2.0
#include "markup/element_pool.h"

#include <algorithm>
#include <new>

#include "markup/element.h"
#include "storage/sanitizers.h"

namespace tagvert {

namespace {

thread_local CElementPool* t_currentPool = nullptr;

// Blocks grow to this many objects, so that a large document needs a few dozen blocks at most.
constexpr std::size_t kMaxBlockObjects = std::size_t{64} * 1024;

// The pool's objects: CElementX rounded up to the alignment of a new'd object.
constexpr std::size_t kObjectSize = (sizeof(CElementX) + __STDCPP_DEFAULT_NEW_ALIGNMENT__ - 1) /
                                    __STDCPP_DEFAULT_NEW_ALIGNMENT__ *
                                    __STDCPP_DEFAULT_NEW_ALIGNMENT__;

// Under AddressSanitizer every element comes from the heap, so that a use after destruction is
// still caught.
constexpr bool kPooling = !kAddressSanitizer;

}  // namespace

CElementPool::CElementPool() : m_previous(t_currentPool) {
  t_currentPool = this;
}

CElementPool::~CElementPool() {
  t_currentPool = m_previous;
}

bool CElementPool::IsEnabled() {
  return kPooling;
}

void* CElementPool::Allocate(std::size_t size) {
  CElementPool* pool = t_currentPool;
  if (kPooling && pool != nullptr && size <= kObjectSize) return pool->Take();
  return ::operator new(size);
}

void CElementPool::Release(void* p, std::size_t /*size*/) {
  if (p == nullptr) return;
  CElementPool* pool = t_currentPool;
  for (; pool != nullptr; pool = pool->m_previous) {
    if (pool->Owns(p)) {
      *static_cast<void**>(p) = pool->m_free;
      pool->m_free = p;
      return;
    }
  }
  ::operator delete(p);
}

void* CElementPool::Take() {
  ++m_served;
  if (m_free != nullptr) {
    void* p = m_free;
    m_free = *static_cast<void**>(p);
    return p;
  }
  if (m_next == m_end) {
    const std::size_t bytes = m_nextBlockObjects * kObjectSize;
    CBlock block{0, 0, std::make_unique_for_overwrite<std::byte[]>(bytes)};
    block.begin = reinterpret_cast<std::uintptr_t>(block.bytes.get());
    block.end = block.begin + bytes;
    m_next = block.bytes.get();
    m_end = m_next + bytes;
    const auto at = std::upper_bound(m_blocks.begin(), m_blocks.end(), block.begin,
                                     [](std::uintptr_t a, const CBlock& b) { return a < b.begin; });
    m_blocks.insert(at, std::move(block));
    m_nextBlockObjects = std::min(2 * m_nextBlockObjects, kMaxBlockObjects);
  }
  void* p = m_next;
  m_next += kObjectSize;
  return p;
}

bool CElementPool::Owns(const void* p) const {
  const auto address = reinterpret_cast<std::uintptr_t>(p);
  auto at = std::upper_bound(m_blocks.begin(), m_blocks.end(), address,
                             [](std::uintptr_t a, const CBlock& b) { return a < b.begin; });
  if (at == m_blocks.begin()) return false;
  --at;
  return address < at->end;
}

}  // namespace tagvert
