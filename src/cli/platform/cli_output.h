// Tagvert: what the command's outputs share on every platform: the table of temporary files that
// a stop handler removes, and the finishing of an output before it is committed.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "cli/platform/cli_services.h"

namespace tagvert::detail {

/// The temporary outputs, visible to a signal or console handler: fixed buffers of `Length`
/// units, each published by its flag (0 free, 1 being written, 2 published). A batch has one
/// temporary output per running job. Only lock-free atomics: safe in a signal handler.
template <typename Char, std::size_t Length>
class CTempOutputTable {
 public:
  /// Publishes `path` (`size` units, no terminating zero); returns its slot, -1 when the name is
  /// too long or no slot is free (the file is then not removed by a handler).
  int Publish(const Char* path, std::size_t size) {
    if (size >= Length) return -1;
    for (std::size_t i = 0; i < kSlots; ++i) {
      int expected = 0;
      if (!m_slots[i].state.compare_exchange_strong(expected, 1)) continue;
      std::memcpy(m_slots[i].path, path, size * sizeof(Char));
      m_slots[i].path[size] = Char();
      m_slots[i].state.store(2);
      return static_cast<int>(i);
    }
    return -1;
  }

  /// Frees the slot of `output`'s temporary file (renamed or removed by now).
  void Withdraw(CCliOutput& output) {
    if (output.tempSlot >= 0) m_slots[static_cast<std::size_t>(output.tempSlot)].state.store(0);
    output.tempSlot = -1;
  }

  /// Calls `remove` with the name of every published temporary file.
  template <typename Remove>
  void RemoveAll(Remove remove) {
    for (CSlot& slot : m_slots) {
      if (slot.state.load() == 2) remove(slot.path);
    }
  }

 private:
  static constexpr std::size_t kSlots = kMaxTemporaryOutputs;
  struct CSlot {
    Char path[Length];
    std::atomic<int> state{0};
  };
  CSlot m_slots[kSlots];
};

/// Finishes `output`'s stream, durably for a file. On a failure (a write, the sync or the close)
/// abandons the output (the target stays untouched) and throws CFileError with its cause.
inline void FinishOutput(CCliOutput& output) {
  const HResult finished = output.file ? output.file->Finish(true) : kSOk;
  if (!Failed(finished)) return;
  std::string why = PlatformSystemErrorPhrase(finished);
  if (why.empty()) why = "the output accepted fewer bytes than were written";
  PlatformAbandonOutput(output);
  throw CFileError(finished, std::move(why));
}

}  // namespace tagvert::detail
