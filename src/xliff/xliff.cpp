// Tagvert: the XLIFF bridge's public entry points: TTX -> IF (the converter) -> XLIFF, and
// XLIFF -> IF -> TTX (the converter's way back).
// SPDX-License-Identifier: Apache-2.0
#include "tagvert/xliff.h"

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "frame/ttx_converter.h"
#include "storage/data_storage.h"
#include "storage/language_table.h"
#include "storage/large_memory.h"
#include "storage/memory_stream.h"
#include "xliff/xliff_bridge.h"
#include "xliff/xliff_merge.h"

namespace tagvert {

namespace {

using xliff::CXliffError;

std::string Hex(HResult hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// A language tag as XML Schema's language type takes it; empty for anything else.
std::string LanguageAttribute(std::u16string_view tag) {
  std::string out;
  std::size_t part = 0;
  for (const char16_t u : tag) {
    const bool alpha = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
    const bool digit = u >= u'0' && u <= u'9';
    if (u == u'-' || u == u'_') {
      if (part == 0) return {};
      out += '-';
      part = 0;
      continue;
    }
    if ((!alpha && !(digit && !out.empty())) || ++part > 8) return {};
    out += static_cast<char>(u);
  }
  return part == 0 ? std::string() : out;
}

ByteStreamPtr Open(const CEndpoint& endpoint, bool forReading) {
  switch (endpoint.GetKind()) {
    case CEndpoint::Kind::Stream:
      if (!endpoint.GetStream()) throw CHResultError(endpoint.GetOpenFailure());
      return endpoint.GetStream();
    case CEndpoint::Kind::FileName: {
      ByteStreamPtr file = forReading ? PlatformOpenFileForReading(endpoint.GetFileName())
                                      : PlatformCreateFileForWriting(endpoint.GetFileName());
      if (!file) throw CHResultError(kEInvalidArg);
      return file;
    }
    default:
      throw CHResultError(kEInvalidArg);
  }
}

void WriteAll(IByteStream& stream, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(size, 1u << 30));
    const std::uint32_t written = stream.Write(bytes, piece);
    if (written == 0) throw CHResultError(kEFail);
    bytes += written;
    size -= written;
  }
}

// A piece of the IF on its way to the writer: room for megabytes of units, taken as a large
// block and never cleared (every unit is written before it is read), and kRoomBefore units
// before them where the writer puts what it keeps of the pieces before.
class CUnits {
 public:
  static constexpr std::size_t kRoomBefore = std::size_t{1} << 16;

  CUnits() = default;
  CUnits(CUnits&& other) noexcept { Swap(other); }
  CUnits& operator=(CUnits&& other) noexcept {
    Swap(other);
    return *this;
  }
  ~CUnits() {
    if (m_data != nullptr) CLargeAllocator<char16_t>().deallocate(m_data, kRoomBefore + m_capacity);
  }
  // Room for `size` units, the piece's new size; what was there is lost.
  char16_t* Room(std::size_t size) {
    if (size > m_capacity) {
      if (m_data != nullptr)
        CLargeAllocator<char16_t>().deallocate(m_data, kRoomBefore + m_capacity);
      m_data = nullptr;
      m_capacity = 0;
      m_data = CLargeAllocator<char16_t>().allocate(kRoomBefore + size);
      m_capacity = size;
    }
    m_size = size;
    return Units();
  }
  bool Empty() const { return m_size == 0; }
  // Hands the piece to `writer`, which may use the room before it.
  void FeedTo(xliff::CXliffWriter& writer) { writer.FeedInPlace(Units(), m_size, kRoomBefore); }

 private:
  char16_t* Units() const { return m_data == nullptr ? nullptr : m_data + kRoomBefore; }
  void Swap(CUnits& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
  }
  char16_t* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

// The XLIFF writer on a thread of its own, fed the IF's pieces as the conversion writes them:
// the writer works on the second core while the conversion goes on. At most kQueued pieces
// wait; their buffers are used again. The conversion's thread, whenever it would wait for the
// writer (for room in the queue, or at the end for the writer to finish), compresses the
// skeleton's blocks that the writer left it instead.
class CWriterThread {
 public:
  explicit CWriterThread(xliff::CXliffWriter& writer) : m_writer(writer) {
    m_writer.SetPackHelper(kPackQueued, [this] {
      {
        // Taken, so that a wait that tested before the block came cannot miss the news.
        const std::lock_guard lock(m_mutex);
      }
      m_room.notify_one();
    });
    m_thread = std::thread([this] { Work(); });
  }
  ~CWriterThread() {
    // Left without Finish (the conversion failed): what waits is dropped.
    {
      const std::lock_guard lock(m_mutex);
      m_abandoned = true;
    }
    Join();
  }
  CWriterThread(const CWriterThread&) = delete;
  CWriterThread& operator=(const CWriterThread&) = delete;

  // A buffer for the next piece (its old units still in it).
  CUnits Buffer() {
    const std::lock_guard lock(m_mutex);
    if (m_free.empty()) return {};
    CUnits buffer = std::move(m_free.back());
    m_free.pop_back();
    return buffer;
  }
  // Queues a piece, once fewer than kQueued wait.
  void Push(CUnits piece) {
    std::unique_lock lock(m_mutex);
    for (;;) {
      m_room.wait(
          lock, [this] { return m_queue.size() < kQueued || m_failure || m_writer.PackWaiting(); });
      if (m_queue.size() < kQueued || m_failure) break;
      Help(lock);
    }
    if (m_failure) return;
    m_queue.push_back(std::move(piece));
    m_ready.notify_one();
  }
  // Waits for the writer to take every piece; throws what it threw.
  void Finish() {
    {
      const std::lock_guard lock(m_mutex);
      m_closed = true;
    }
    m_ready.notify_one();
    {
      std::unique_lock lock(m_mutex);
      for (;;) {
        m_room.wait(lock, [this] { return m_ended || m_writer.PackWaiting(); });
        if (m_ended) break;
        Help(lock);
      }
    }
    Join();
    if (m_failure) std::rethrow_exception(m_failure);
  }

 private:
  static constexpr std::size_t kQueued = 2;
  /// Skeleton blocks that may wait for this thread: one, so that the writer's thread never
  /// waits for it and little room is held.
  static constexpr std::size_t kPackQueued = 1;

  // Compresses a block the writer left, with `lock` let go meanwhile.
  void Help(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    m_writer.HelpPack(m_table);
    lock.lock();
  }

  void Join() {
    if (!m_thread.joinable()) return;
    {
      const std::lock_guard lock(m_mutex);
      m_closed = true;
    }
    m_ready.notify_one();
    m_thread.join();
  }

  void Work() {
    // However it ends, the thread waiting in Finish hears of it.
    struct CEnded {
      CWriterThread& thread;
      ~CEnded() {
        {
          const std::lock_guard lock(thread.m_mutex);
          thread.m_ended = true;
        }
        thread.m_room.notify_one();
      }
    } ended{*this};
    for (;;) {
      CUnits piece;
      {
        std::unique_lock lock(m_mutex);
        m_ready.wait(lock, [this] { return !m_queue.empty() || m_closed; });
        if (m_queue.empty() || m_abandoned) return;
        piece = std::move(m_queue.front());
        m_queue.pop_front();
      }
      m_room.notify_one();
      try {
        piece.FeedTo(m_writer);
      } catch (...) {
        const std::lock_guard lock(m_mutex);
        m_failure = std::current_exception();
        m_room.notify_one();
        return;
      }
      const std::lock_guard lock(m_mutex);
      if (m_free.size() <= kQueued) m_free.push_back(std::move(piece));
    }
  }

  xliff::CXliffWriter& m_writer;
  std::mutex m_mutex;
  std::condition_variable m_ready;  ///< a piece is queued, or the IF has ended
  std::condition_variable m_room;   ///< a piece was taken, or the writer failed
  std::deque<CUnits> m_queue;
  std::vector<CUnits> m_free;
  bool m_closed = false;
  bool m_abandoned = false;
  bool m_ended = false;                ///< the writer's thread has returned
  std::vector<std::uint32_t> m_table;  ///< the compressor's table, for Help
  std::exception_ptr m_failure;
  std::thread m_thread;
};

// The IF as the converter writes it (UTF-16 little-endian), handed to the XLIFF writer as
// units, piece by piece: straight, or through the writer's thread when there is one.
class CWriterStream : public IByteStream {
 public:
  CWriterStream(xliff::CXliffWriter& writer, CWriterThread* thread)
      : m_writer(writer), m_thread(thread) {}
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void* data, std::uint32_t size) override {
    // Pieces of at most kPieceBytes: little of the IF waits for the writer, which starts early.
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::uint32_t at = 0; at < size;) {
      const std::uint32_t piece = std::min(size - at, kPieceBytes);
      Piece(bytes + at, piece);
      at += piece;
    }
    m_position += size;
    return size;
  }
  std::uint64_t Position() override { return m_position; }
  bool Size(std::uint64_t& size) override {
    size = m_position;
    return true;
  }

 private:
  static constexpr std::uint32_t kPieceBytes = std::uint32_t{1} << 20;

  void Piece(const std::uint8_t* bytes, std::uint32_t size) {
    CUnits units = m_thread ? m_thread->Buffer() : std::move(m_units);
    // A unit split by the write before comes first.
    const std::uint32_t first = m_half && size > 0 ? 1 : 0;
    const std::size_t whole = (size - first) / 2;
    char16_t* out = units.Room(first + whole);
    if (first != 0) {
      *out++ = static_cast<char16_t>(m_low | (bytes[0] << 8));
      m_half = false;
    }
    const std::uint8_t* in = bytes + first;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out, in, whole * 2);
    } else {
      for (std::size_t k = 0; k < whole; ++k)
        out[k] = static_cast<char16_t>(in[2 * k] | (in[2 * k + 1] << 8));
    }
    if (first + 2 * whole < size) {
      m_low = bytes[size - 1];
      m_half = true;
    }
    if (!units.Empty()) {
      if (m_thread) {
        m_thread->Push(std::move(units));
      } else {
        units.FeedTo(m_writer);
        m_units = std::move(units);
      }
    }
  }

  xliff::CXliffWriter& m_writer;
  CWriterThread* m_thread;
  CUnits m_units;
  bool m_half = false;
  std::uint8_t m_low = 0;
  std::uint64_t m_position = 0;
};

// Runs `convert` on `converter`, registered with the host for as long as it runs; throws its
// failure, and kEAbort when it was stopped.
template <typename Convert>
void Run(CTTXConverterBase& converter, const xliff::CBridgeHooks& hooks, Convert&& convert) {
  struct CRegistration {
    const xliff::CBridgeHooks& hooks;
    ~CRegistration() {
      if (hooks.running) hooks.running(nullptr);
    }
  } registration{hooks};
  if (hooks.running) hooks.running(&converter);
  const HResult hr = convert();
  if (Failed(hr)) throw CHResultError(hr);
  if (converter.State() == kStateStopped) throw CHResultError(kEAbort);
}

// Runs `body`, turning what it throws into a result code and the report's sentence.
template <typename Body>
HResult Guarded(CXliffReport& report, const std::string& failure, Body&& body) {
  try {
    body();
    return kSOk;
  } catch (const CXliffError& e) {
    report.error = e.message;
    return e.code;
  } catch (const CHResultError& e) {
    report.error = failure + " (" + Hex(e.Code()) + ").";
    return e.Code();
  } catch (const std::bad_alloc&) {
    report.error = failure + ": out of memory.";
    return kEOutOfMemory;
  } catch (...) {
    report.error = failure + ".";
    return kEFail;
  }
}

// The converter of a merge on another thread: a stop reaches the merge too.
class CFedConverter : public CTagvertConverter {
 public:
  explicit CFedConverter(xliff::CMergeFeed& feed) : m_feed(feed) {}
  HResult OnStop() override {
    m_feed.Stop();
    return CTagvertConverter::OnStop();
  }

 private:
  xliff::CMergeFeed& m_feed;
};

// The merge on a thread of its own while the way back converts the IF it hands over on this
// one: the skeleton comes first in the XLIFF and the units in order, so the TTX is written as
// the XLIFF is read. What the merge refuses is what the call says, as when the merge runs
// first; the target then holds a part of the TTX, which the host drops. False, with nothing
// done, when no thread can be started.
bool MergeWhileConverting(const CEndpoint& source, const CEndpoint& ttx,
                          const CXliffReadOptions& options, CXliffReport& report,
                          const xliff::CBridgeHooks& hooks) {
  ByteStreamPtr xml = Open(source, true);
  xliff::CMergeFeed feed;
  xliff::CMergeResult merged;
  std::exception_ptr mergeFailure, conversionFailure;
  std::thread merge;
  try {
    merge = std::thread([&] {
      try {
        merged = xliff::MergeXliff(*xml, options, nullptr, &feed);
      } catch (...) {
        mergeFailure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    return false;
  }
  try {
    CFedConverter converter(feed);
    auto mergedIf = std::make_shared<xliff::CMergedIfStream>(feed);
    Run(converter, hooks,
        [&] { return converter.ConvertFromIF(CEndpoint::Stream(mergedIf), ttx); });
  } catch (...) {
    conversionFailure = std::current_exception();
    // A stopped conversion stops the merge; any other failure lets it go on to its end, whose
    // refusal comes first.
  }
  feed.Release();
  merge.join();
  if (mergeFailure) std::rethrow_exception(mergeFailure);
  // What the merge said stands whatever became of the conversion.
  report.warnings = std::move(merged.warnings);
  report.units = merged.units_;
  report.translated = merged.translated;
  if (conversionFailure) std::rethrow_exception(conversionFailure);
  return true;
}

}  // namespace

HResult ConvertToXliff(const CEndpoint& ttx, const CEndpoint& target,
                       const CXliffWriteOptions& options, CXliffReport& report) {
  return xliff::ConvertToXliff(ttx, target, options, report, {});
}

HResult xliff::ConvertToXliff(const CEndpoint& ttx, const CEndpoint& target,
                              const CXliffWriteOptions& options, CXliffReport& report,
                              const CBridgeHooks& hooks) {
  report = CXliffReport();
  return Guarded(report, "the TTX could not be converted to XLIFF", [&] {
    ByteStreamPtr source = Open(ttx, true);
    // The XLIFF is written as the conversion writes the IF: the IF is never held whole. The
    // writer, its thread and the stream that feeds them outlive the converter.
    xliff::CXliffWriter writer(options);
    if (std::uint64_t size = 0; source->Size(size) && size > source->Position()) {
      writer.Reserve(size - source->Position());
    }
    std::optional<CWriterThread> thread;
    if (std::thread::hardware_concurrency() > 1) thread.emplace(writer);
    auto sink = std::make_shared<CWriterStream>(writer, thread ? &*thread : nullptr);
    // The document is read as the library's converter reads it (language tags as documents
    // write them, UTF-16 without a byte-order mark).
    CTagvertConverter converter;
    converter.SetLanguageMatch(LanguageMatch::Language);
    converter.SetReadUtf16WithoutMark(true);
    if (options.direction != 0) {
      converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(options.direction));
    }
    std::int32_t direction = options.direction;
    if (hooks.documentRead) {
      converter.SetDocumentReadHook([&](const CDocumentFacts& facts) {
        const std::optional<std::int32_t> chosen = hooks.documentRead(facts);
        if (chosen) direction = *chosen;
        return chosen;
      });
    }
    Run(converter, hooks,
        [&] { return converter.ConvertToIF(CEndpoint::Stream(source), CEndpoint::Stream(sink)); });
    if (thread) thread->Finish();
    if (const auto& cut = converter.GetInputCut()) {
      report.cutLine = cut->line;
      report.cutColumn = cut->column;
      report.cutInsideMarkup = cut->insideMarkup;
      report.cutRootOpen = cut->rootOpen;
    }
    std::u16string sourceLanguage, targetLanguage;
    writer.End(sourceLanguage, targetLanguage);
    const auto code = static_cast<std::uint16_t>(static_cast<std::uint32_t>(direction) >> 16);
    if (code != 0) {
      const std::u16string tag = LanguageTagUpper(code);
      if (!tag.empty()) targetLanguage = tag;
    }
    xliff::CXliffHeader header;
    header.sourceLanguage = LanguageAttribute(sourceLanguage);
    if (header.sourceLanguage.empty()) header.sourceLanguage = "und";
    header.targetLanguage = LanguageAttribute(targetLanguage);
    if (header.targetLanguage.empty() && options.copySource) header.targetLanguage = "und";
    header.original = options.original;
    ByteStreamPtr out = Open(target, false);
    report.units = writer.Write(
        header, [&out](std::string_view piece) { WriteAll(*out, piece.data(), piece.size()); });
  });
}

HResult ConvertFromXliff(const CEndpoint& source, const CEndpoint& ttx,
                         const CXliffReadOptions& options, CXliffReport& report) {
  return xliff::ConvertFromXliff(source, ttx, options, report, {});
}

HResult xliff::ConvertFromXliff(const CEndpoint& source, const CEndpoint& ttx,
                                const CXliffReadOptions& options, CXliffReport& report,
                                const CBridgeHooks& hooks) {
  report = CXliffReport();
  return Guarded(report, options.name + " could not be merged", [&] {
    if (hooks.dropsFailedOutput && std::thread::hardware_concurrency() > 1 &&
        MergeWhileConverting(source, ttx, options, report, hooks)) {
      return;
    }
    xliff::CMergeResult merged = xliff::MergeXliff(*Open(source, true), options);
    report.warnings = std::move(merged.warnings);
    report.units = merged.units_;
    report.translated = merged.translated;
    CTagvertConverter converter;
    auto mergedIf = std::make_shared<xliff::CMergedIfStream>(std::move(merged));
    Run(converter, hooks,
        [&] { return converter.ConvertFromIF(CEndpoint::Stream(mergedIf), ttx); });
  });
}

}  // namespace tagvert
