// Tagvert: the XLIFF merge's two halves. The XML reader (xliff_read.cpp) walks the XLIFF with
// expat and hands over the skeleton's text and each unit's source and target as text runs and
// code references; the unit merger (xliff_units.cpp) decodes the skeleton, maps each unit's codes
// back to their IF by id, notes tag damage and gives the merged IF.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "xliff/xliff_bridge.h"

namespace tagvert::xliff {

enum class Role : std::uint8_t { Standalone, Open, Close, IsolatedOpen, IsolatedClose, Unknown };

/// An inline code of a source or target as the XLIFF names it.
struct CCodeRef {
  Role role = Role::Unknown;
  std::string id;
  std::string element;  ///< its element, for messages
};

/// A source or target: text runs and codes in order.
struct CSide {
  std::u16string text;            ///< every text run, one after the other
  std::vector<std::size_t> cuts;  ///< where each code stands in `text`
  std::vector<CCodeRef> codes;
  bool Empty() const { return text.empty() && codes.empty(); }
  /// Empty again, keeping its room.
  void Clear() {
    text.clear();
    cuts.clear();
    codes.clear();
  }
  void Append(const CSide& other);
  /// The same text and the same codes (by role and id) at the same places.
  bool operator==(const CSide& o) const;
};

/// Bytes appended in blocks that never move once taken, so that what is written can be read on
/// another thread while more is appended. Offsets count over the blocks one after the other.
class CBlockStore {
 public:
  /// Takes the first block with room for `bytes` (room never written costs no memory).
  void Reserve(std::size_t bytes) {
    if (m_blocks.empty()) Take(bytes);
  }
  /// The block that takes the next `bytes` bytes without moving: the last one, or a new one.
  CLargeString& Room(std::size_t bytes) {
    if (m_blocks.empty() || m_blocks.back().capacity() - m_blocks.back().size() < bytes) {
      Take(std::max({bytes, m_blocks.empty() ? 0 : 2 * m_blocks.back().capacity(), kFirst}));
    }
    return m_blocks.back();
  }
  /// The offset of the last block's first byte.
  std::size_t Base() const { return m_base; }
  /// Every block's bytes, one after the other.
  CLargeString Joined();

 private:
  static constexpr std::size_t kFirst = std::size_t{1} << 20;
  void Take(std::size_t bytes) {
    if (!m_blocks.empty()) m_base += m_blocks.back().size();
    m_blocks.emplace_back().reserve(bytes);
  }
  std::deque<CLargeString> m_blocks;
  std::size_t m_base = 0;
};

/// What a merge hands over, as it reads, to the way back running on another thread: the IF
/// outside the units once the skeleton is read, then each unit's IF once it and every unit
/// before it are whole. The merge's memory stays until the way back releases it.
class CMergeFeed {
 public:
  /// A unit's narrowed IF.
  using CUnitIf = std::pair<const char*, std::size_t>;
  /// Every unit's narrowed IF, in a large block.
  using CUnitIfs = std::vector<CUnitIf, CLargeAllocator<CUnitIf>>;

  // The merge's side.
  /// The skeleton is read: the compressed blocks of the IF outside the units, its bytes
  /// before each unit, and the table of the units' IF (filled as Ready says).
  void Skeleton(std::string_view raw, const std::vector<std::uint64_t>& rawBytes,
                const CUnitIfs& units) {
    const std::lock_guard lock(m_mutex);
    m_raw = raw;
    m_rawBytes = &rawBytes;
    m_units = &units;
    m_hasSkeleton = true;
    m_changed.notify_all();
  }
  /// Units [0, `units`) are whole.
  void Ready(std::size_t units) {
    const std::lock_guard lock(m_mutex);
    m_ready = units;
    if (m_ready >= m_wanted) m_changed.notify_all();
  }
  /// The merge ended (or failed); then waits until the way back releases it.
  void End() {
    std::unique_lock lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_released; });
  }
  /// Whether the way back was stopped: the merge stops too.
  bool Stopped() const { return m_stopped.load(std::memory_order_relaxed); }

  // The way back's side.
  /// Waits for the skeleton; false when the merge ended without one or the way back stopped.
  bool WaitSkeleton() {
    std::unique_lock lock(m_mutex);
    Wait(lock, [this] { return m_hasSkeleton; });
    return m_hasSkeleton;
  }
  /// Waits until unit `unit` (0-based) is whole; false when it never will be. A wait lasts
  /// until a batch of units is whole (or the last one), so that the way back, faster than the
  /// merge, is not woken for every unit.
  bool WaitUnit(std::size_t unit) {
    std::unique_lock lock(m_mutex);
    if (m_ready > unit) return true;
    m_wanted = std::min(unit + kBatch, m_units->size());
    Wait(lock, [&] { return m_ready >= m_wanted; });
    m_wanted = SIZE_MAX;
    return m_ready > unit;
  }
  std::string_view Raw() const { return m_raw; }
  const std::vector<std::uint64_t>& RawBytes() const { return *m_rawBytes; }
  const CUnitIfs& Units() const { return *m_units; }
  /// The way back stopped: no wait ends on it and the merge stops. Only sets a flag (it is
  /// called where the conversion is stopped); the waits look at it now and then.
  void Stop() { m_stopped.store(true); }
  /// The way back is done with the merge's memory.
  void Release() {
    const std::lock_guard lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
  }

 private:
  static constexpr std::size_t kBatch = 256;

  // Waits until `ready`, the merge's end or a stop.
  template <typename Ready>
  void Wait(std::unique_lock<std::mutex>& lock, Ready&& ready) {
    while (!ready() && !m_ended && !Stopped())
      m_changed.wait_for(lock, std::chrono::milliseconds(20));
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_hasSkeleton = false;
  std::string_view m_raw;
  const std::vector<std::uint64_t>* m_rawBytes = nullptr;
  const CUnitIfs* m_units = nullptr;
  std::size_t m_ready = 0;
  std::size_t m_wanted = SIZE_MAX;  ///< the units the way back waits for
  bool m_ended = false;
  bool m_released = false;
  std::atomic<bool> m_stopped{false};
};

/// The skeleton, the units and the checks: everything of the merge but the XML.
class CUnitMerger {
 public:
  /// `position` tells where the XML reader stands, for the sentences of refusals.
  CUnitMerger(const CXliffReadOptions& options, std::function<std::string()> position)
      : m_options(options), m_position(std::move(position)) {}

  /// Whether Finish gives the IF of the sources too.
  void KeepSources() { m_keepSources = true; }
  /// Every unit keeps its source, whatever its target says (its target is not read).
  void IgnoreTargets() { m_ignoreTargets = true; }
  /// Hands the IF to `feed` as it is merged; then Finish gives no IF.
  void Feed(CMergeFeed& feed) { m_feed = &feed; }
  /// Takes room for what an XLIFF of `bytes` bytes can hold (the skeleton, at most three
  /// quarters of it in base64; the units' IF, narrowed, hardly more than their XML), so that
  /// neither grows by copies; room never written costs no memory.
  void Reserve(std::uint64_t bytes) {
    const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, 1ULL << 32));
    m_plan.reserve(room / 4 * 3 + 64);
    m_targets.Reserve(room);
  }

  /// The skeleton's element opened; a second one is refused.
  void BeginSkeleton();
  /// A piece of the skeleton's text (UTF-8); escapes may be cut between pieces.
  void SkeletonText(std::string_view text);
  /// The skeleton's element closed: it must have been whole.
  void EndSkeleton();

  /// A unit opened with the XLIFF id `id` (null when it has none): it must name a unit of the
  /// skeleton not seen before.
  void BeginUnit(const char* id);
  /// The unit closed: its target (or, untranslated, its source) becomes the unit's IF.
  void EndUnit(const CSide& source, const CSide& target, bool anyTarget);

  /// After the whole XLIFF (`end` is where it ended): checks that every unit came and that the
  /// sources rebuild the document's IF, and gives the merged IF (and, when `source` is given,
  /// the IF of the sources).
  void Finish(CMergeResult& result, std::u16string* source, const std::string& end);

  [[noreturn]] void Fail(const std::string& what, const std::string& position) const;
  [[noreturn]] void Fail(const std::string& what) const { Fail(what, m_position()); }

 private:
  // A unit of the skeleton and what the XLIFF gave for it.
  struct CUnit {
    std::size_t firstCode = 0;  ///< its codes in m_codeAt
    std::size_t codes = 0;
    bool seen = false;
    bool ended = false;
    bool translated = false;
    std::pair<std::size_t, std::size_t> target;  ///< the IF that takes its place, in m_targets
    std::pair<std::size_t, std::size_t> source;  ///< the IF of its source (KeepSources)
  };
  // A code of a unit's source by role and id, and its place in the source.
  struct CCodeKey {
    Role role;
    std::string_view id;
    std::size_t index;
    bool operator<(const CCodeKey& o) const { return role != o.role ? role < o.role : id < o.id; }
    bool operator==(const CCodeKey& o) const { return role == o.role && id == o.id; }
  };
  using CCodeIndex = std::vector<CCodeKey>;

  std::string Where() const { return "unit " + std::to_string(m_unitNumber); }

  void ReadHeader();
  void ReadPlan();
  [[noreturn]] void Damaged() const { Fail("the skeleton is damaged", m_skeletonPosition); }

  /// The IF of the unit's code `i`, narrowed.
  std::string_view Code(const CUnit& unit, std::size_t i) const {
    const std::size_t at = m_codeAt[unit.firstCode + i];
    return std::string_view(m_codes).substr(at, m_codeAt[unit.firstCode + i + 1] - at);
  }
  std::string Named(const CCodeRef& code, std::string_view ifCode) const;
  void Build(const CSide& side, const CSide& source, const CUnit& unit, const CCodeIndex* byKey,
             CLargeString& out);
  void CheckOrder(const std::vector<std::size_t>& placed, const CSide& source, const CUnit& unit);

  const CXliffReadOptions& m_options;
  std::function<std::string()> m_position;
  bool m_keepSources = false;
  bool m_ignoreTargets = false;
  CMergeFeed* m_feed = nullptr;

  // The skeleton.
  bool m_skeletonStarted = false, m_skeletonDone = false;
  std::string m_skeletonPosition = "line 1, column 1";
  bool m_headerDone = false;
  std::string m_header;
  std::uint64_t m_planHash = 0;
  std::uint64_t m_unitsHash = 0;
  std::size_t m_unitCount = 0;
  CBase64Reader m_base64;
  bool m_base64Bad = false;
  CLargeString m_plan;                    ///< the compressed blocks
  std::vector<std::uint64_t> m_rawBytes;  ///< see CMergeResult
  std::uint64_t m_rawUnits = 0;
  // The tables of the units and their codes (a few bytes per code or unit of the XLIFF) take
  // large blocks: fresh memory in small pages would cost a fault per page.
  CLargeString m_codes;  ///< the IF of every unit's codes, narrowed, one after the other
  /// Where each code starts in m_codes, and where the last ends: a code ends where the next
  /// starts.
  std::vector<std::size_t, CLargeAllocator<std::size_t>> m_codeAt;
  std::vector<CUnit, CLargeAllocator<CUnit>> m_units;

  // The units.
  CUnit* m_unit = nullptr;
  std::size_t m_unitNumber = 0;
  std::size_t m_translated = 0;
  std::uint64_t m_sourcesHash = 0;
  CBlockStore m_targets;          ///< each unit's merged IF narrowed (and, kept, its source's)
  CMergeFeed::CUnitIfs m_unitIf;  ///< each unit's merged IF, for the feed
  std::size_t m_whole = 0;        ///< the units before the first not yet ended
  CCodeIndex m_byKey;             ///< the unit's source codes by key (its room kept)
  std::vector<std::string> m_damage;
  std::vector<std::string> m_notes;
};

}  // namespace tagvert::xliff
