// Tagvert tests: the ordered, owning list of a document's elements and tag pairing
// (CElementsStackX), the element-list form that the reference passes work on.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "markup/element.h"
#include "storage/hresult.h"

namespace tagvert {

/// The document's elements in reading order. It is the vector (public inheritance), so other
/// passes may index, insert and erase; it owns every element it holds at its end and deletes
/// them (null entries are skipped). A pass that erases an element deletes it itself.
class CElementsStackX : public std::vector<IElementX*> {
 public:
  CElementsStackX() = default;
  CElementsStackX(const CElementsStackX&) = delete;
  CElementsStackX& operator=(const CElementsStackX&) = delete;
  virtual ~CElementsStackX();

  /// Appends `element` and takes ownership; always true.
  bool Push(IElementX* element);
  /// The next 16-bit pair id: 101 first, never in 0xE000..0xEFFF nor 0xFFFB..0xFFFF, and after
  /// 0xFFFA back to 100.
  std::uint16_t NextPairId();
  /// The pairing pass: gives every start tag and its end tag one shared id (see the notes in
  /// the implementation for how it stays near-linear while giving the exact ids).
  void PairTags();

  /// The stop flag of the conversion that owns the list (not owned; null when nothing can stop
  /// it). The passes between reading and writing check it once per element.
  void SetStopFlag(const std::atomic<bool>* flag) { m_stopFlag = flag; }
  /// Throws CHResultError(E_ABORT) when a stop was requested, as a character read does. One
  /// relaxed load: cheap next to the work a pass does per element.
  void CheckStop() const {
    if (m_stopFlag != nullptr && m_stopFlag->load(std::memory_order_relaxed)) ThrowHResult(kEAbort);
  }

  /// The last id handed out (100 before the first). For tests and diagnostics.
  std::uint32_t GetPairIdCounter() const { return m_pairIdCounter; }
  /// Sets the last id handed out, so that the next NextPairId continues from `value` (tests use
  /// it to reach the wrap points 0xDFFF and 0xFFFA without pairing tens of thousands of tags).
  void SetPairIdCounter(std::uint32_t value) { m_pairIdCounter = value; }

 private:
  std::uint32_t m_pairIdCounter = 100;
  const std::atomic<bool>* m_stopFlag = nullptr;
};

}  // namespace tagvert
