// Tagvert: the XLIFF bridge's two halves over IF units: the writer (IF to XLIFF) and the merge
// (XLIFF to IF), and the skeleton form they share.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/ttx_converter.h"
#include "tagvert/xliff.h"
#include "xliff/xliff_skeleton.h"

namespace tagvert::xliff {

/// What a host adds to the bridge's conversions.
struct CBridgeHooks {
  /// The conversion's document hook (CTTXToIfConverter::SetDocumentReadHook), for a host that
  /// chooses the target language once the document is read: the Direction it returns also
  /// names the XLIFF's target language. ConvertToXliff only.
  CTTXToIfConverter::DocumentReadHook documentRead;
  /// Called with the converter just before a conversion runs on it, and with nullptr once it
  /// has ended and before it is destroyed, so that another thread can Stop it meanwhile; a
  /// stopped conversion fails with kEAbort.
  std::function<void(CTTXConverterBase*)> running;
  /// The host drops what was written to the target when ConvertFromXliff fails (a temporary
  /// file): the TTX is then written while the XLIFF is still being read, on two threads.
  bool dropsFailedOutput = false;
};

/// ConvertToXliff and ConvertFromXliff with the host's hooks.
HResult ConvertToXliff(const CEndpoint& ttx, const CEndpoint& target,
                       const CXliffWriteOptions& options, CXliffReport& report,
                       const CBridgeHooks& hooks);
HResult ConvertFromXliff(const CEndpoint& xliff, const CEndpoint& ttx,
                         const CXliffReadOptions& options, CXliffReport& report,
                         const CBridgeHooks& hooks);

/// The skeleton's first line: this magic, the hash of its compressed plan and the hash of the
/// units' sources (16 hexadecimal digits each) and the number of units, separated by spaces. The
/// plan follows in base64 (xliff_skeleton.h).
inline constexpr std::string_view kSkeletonMagic = "tagvert-if-skeleton-2";
/// The magic of the skeletons of earlier versions, which held the IF as text.
inline constexpr std::string_view kSkeletonMagicPrefix = "tagvert-if-skeleton-";

/// What the XLIFF says besides the units.
struct CXliffHeader {
  std::string sourceLanguage;  ///< a valid language tag, "und" when the document names none
  std::string targetLanguage;  ///< empty when there is none
  std::string original;
};

class CWriter;

/// A unit's target text made from its source's: called with each text run between codes.
using TargetText = std::function<std::u16string(const std::u16string&)>;

/// The XLIFF writer, fed the IF piece by piece as a conversion writes it (cut anywhere): it
/// keeps the IF only from the start of the block being read, the skeleton's plan as it is
/// compressed and the units' XML.
class CXliffWriter {
 public:
  explicit CXliffWriter(const CXliffWriteOptions& options);
  ~CXliffWriter();
  CXliffWriter(const CXliffWriter&) = delete;
  CXliffWriter& operator=(const CXliffWriter&) = delete;
  /// Gives every unit a target: its source with each text run through `text` and every code
  /// as it is (instead of the copy that CXliffWriteOptions::copySource asks for). Before Feed.
  void SetTargetText(TargetText text);
  /// Takes room for what the XLIFF of a document of `bytes` bytes holds (the units' XML, about
  /// half of it for a document in UTF-8, and the skeleton's blocks), so that it grows without
  /// copies; room never written costs no memory. Before Feed.
  void Reserve(std::uint64_t bytes);
  /// Lets another thread compress the skeleton's blocks while the writer goes on (see
  /// CPackPool): up to `queued` blocks wait for it, and `notify` is called as one starts
  /// waiting. Before Feed.
  void SetPackHelper(std::size_t queued, std::function<void()> notify);
  /// The other thread's turn: compresses a waiting block with `table` (its own); false when
  /// none waits.
  bool HelpPack(std::vector<std::uint32_t>& table);
  /// Whether a block waits for the other thread.
  bool PackWaiting() const;
  /// The next units of the IF.
  void Feed(std::u16string_view units);
  /// The same, read where they lie: the writer may change the `size` units at `units` and the
  /// `room` units before them (it puts there what it keeps of the IF before), which saves it a
  /// copy of them.
  void FeedInPlace(char16_t* units, std::size_t size, std::size_t room);
  /// Ends the IF; then the front matter's languages are known (see FrontMatterLanguages).
  void End(std::u16string& sourceLanguage, std::u16string& targetLanguage);
  /// Hands the XLIFF (UTF-8) to `write` in pieces, in order; returns the number of units. Once
  /// only, after End.
  std::size_t Write(const CXliffHeader& header, const std::function<void(std::string_view)>& write);

 private:
  std::unique_ptr<CWriter> m_writer;
};

/// The languages the IF's front matter names (SourceLanguage and TargetLanguage of its first
/// UserSettings), empty when it names none.
void FrontMatterLanguages(std::u16string_view units, std::u16string& source,
                          std::u16string& target);

/// A refusal or failure inside the bridge: the code and the sentence.
struct CXliffError {
  HResult code;
  std::string message;
};

/// The merge's result: the skeleton's plan (the IF outside the units, in compressed blocks) and
/// each unit's IF to put in its place, and what was said.
struct CMergeResult {
  CLargeString plan;  ///< the compressed blocks of the IF outside the units
  /// The bytes of that IF (narrowed) before each unit, and after the last.
  std::vector<std::uint64_t> rawBytes;
  std::uint64_t rawUnits = 0;  ///< its IF units
  CLargeString units;          ///< every unit's IF, narrowed, one after the other
  std::vector<std::pair<std::size_t, std::size_t>> spans;  ///< each unit's bytes in `units`
  std::vector<std::string> warnings;
  std::size_t units_ = 0;
  std::size_t translated = 0;
  /// Whether each unit's target replaced its source.
  std::vector<bool> unitTranslated;
  /// The whole IF.
  std::u16string Joined() const;
};

class CMergeFeed;

/// Reads an XLIFF written by WriteXliff (any encoding expat reads) and builds the IF of its
/// targets; `source`, when given, receives the IF of the sources (the document's IF). Throws
/// CXliffError for a refused XLIFF or, when strict, tag damage; the stream's failures pass.
/// With `feed` the IF is handed over as it is merged, not given in the result (which has the
/// warnings and counts only); the call returns once the feed is released, and throws kEAbort
/// once it is stopped. With `ignoreTargets` every unit keeps its source (the document's IF).
CMergeResult MergeXliff(IByteStream& xml, const CXliffReadOptions& options,
                        std::u16string* source = nullptr, CMergeFeed* feed = nullptr,
                        bool ignoreTargets = false);

/// Writes an XLIFF written by CXliffWriter again (in the same version, with the same skeleton,
/// units, languages and original name), every unit's target made from its source by
/// CXliffWriter::SetTargetText: merging the result gives the document with its offered text runs
/// replaced. Targets the XLIFF had are dropped. Hands the XLIFF to `write` in pieces and returns
/// the number of units; `warnings` receives what the merge said. Throws CXliffError as
/// MergeXliff does.
std::size_t RetargetXliff(IByteStream& xml, const CXliffReadOptions& options,
                          const TargetText& text, std::vector<std::string>& warnings,
                          const std::function<void(std::string_view)>& write);

/// The merged IF as UTF-16 little-endian bytes, made as it is read: the plan's blocks are
/// decompressed one at a time and widened into the reader's buffer, each unit's IF copied in.
class CMergedIfStream : public IByteStream {
 public:
  explicit CMergedIfStream(CMergeResult merged);
  /// The IF of a merge running on another thread, given as the merge hands it over; it ends
  /// early when the merge fails or `feed` is stopped. Unsized.
  explicit CMergedIfStream(CMergeFeed& feed) : m_feed(&feed), m_reader({}) {}
  std::uint32_t Read(void* buffer, std::uint32_t size) override;
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
  std::uint64_t Position() override { return m_position; }
  bool Size(std::uint64_t& size) override;
  /// Reads the rest of the IF, handing it to `take` as UTF-16 units in pieces.
  void ReadUnits(const std::function<void(std::u16string_view)>& take);

 private:
  std::uint32_t WidenInto(const std::uint8_t*& at, const std::uint8_t* end, std::uint8_t* out,
                          std::uint32_t done, std::uint32_t size);
  bool Start();
  bool NextUnit();
  CMergeResult m_merged;
  CMergeFeed* m_feed = nullptr;
  bool m_started = false;
  const std::vector<std::uint64_t>* m_rawBytes = nullptr;
  std::size_t m_units = 0;  ///< the number of units
  CPlanReader m_reader;
  const std::uint8_t* m_at = nullptr;  ///< the rest of the current block
  const std::uint8_t* m_end = nullptr;
  std::uint64_t m_rawLeft = 0;  ///< bytes of the current stretch outside the units still to give
  std::size_t m_unit = 0;       ///< the next unit
  std::size_t m_pending = 0;    ///< bytes of a unit's IF still to give (narrowed)
  const std::uint8_t* m_pendingAt = nullptr;  ///< where they start
  int m_carry = -1;  ///< the high byte of a unit cut by the reader's buffer
  std::uint64_t m_position = 0;
};

}  // namespace tagvert::xliff
