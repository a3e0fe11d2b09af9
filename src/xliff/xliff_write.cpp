// Tagvert: the XLIFF writer: the IF cut into blocks, each block that holds text a unit whose
// tags are inline codes, everything else the skeleton.
// SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "ifcodec/if_parser.h"
#include "ifcodec/if_tokens.h"
#include "storage/char_class.h"
#include "xliff/xliff_bridge.h"
#include "xliff/xliff_text.h"

namespace tagvert::xliff {

using namespace std::string_view_literals;

namespace {

/// How a code stands in its unit.
enum class Role : std::uint8_t { Standalone, Open, Close, IsolatedOpen, IsolatedClose };

/// A piece of a block: a run of text or a code (the IF units of a tag with its flags, its
/// skipped text and its reserve group; or anything else that is not text).
struct CPiece {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool text = false;
  // Codes only.
  bool tag = false;                              ///< holds a tag group
  bool close = false;                            ///< an end tag (its group follows the end mark)
  char16_t pair = 0;                             ///< the tag group's pair id
  std::size_t displayBegin = 0, displayEnd = 0;  ///< the tag's source text
  Role role = Role::Standalone;
  int partner = -1;  ///< the other code of a pair within the unit
  bool crossing = false;
  std::uint32_t id = 0;
};

// A unit XML cannot carry, shown to the translator (1.2 code content, 2.0 attributes).
constexpr auto AppendShown = [](auto& out, char16_t unit) {
  out += "U+"sv;
  out += Hex4(unit);
};
// The same in 2.0 data, which has an element for it.
constexpr auto AppendCp = [](auto& out, char16_t unit) {
  out += "<cp hex=\""sv;
  out += Hex4(unit);
  out += "\"/>"sv;
};

// The decimal digits of `id`, written at the end of `room`.
std::string_view IdDigits(std::uint64_t id, char (&room)[20]) {
  std::size_t at = sizeof room;
  do {
    room[--at] = static_cast<char>('0' + id % 10);
    id /= 10;
  } while (id != 0);
  return std::string_view(room + at, sizeof room - at);
}

// The units' XML as it is written: many megabytes appended a few bytes at a time, so that an
// append is a test and a copy. Taken as the large buffers are and never cleared (only what is
// written is read); room asked for ahead and never written costs no memory.
class CXmlOut {
 public:
  std::size_t size() const { return m_size; }
  char* data() const { return m_bytes.Data(); }
  operator std::string_view() const { return std::string_view(data(), m_size); }
  void reserve(std::size_t bytes) {
    if (bytes > m_bytes.Size()) m_bytes.Resize(bytes, m_size);
  }
  /// The bytes from the old size on are to be written by the caller.
  void resize(std::size_t size) {
    if (size > m_bytes.Size()) Grow(size - m_size);
    m_size = size;
  }
  void append(const char* bytes, std::size_t n) {
    if (m_bytes.Size() - m_size < n) Grow(n);
    std::memcpy(data() + m_size, bytes, n);
    m_size += n;
  }
  /// Appends `n` of its own bytes from `at` on.
  void AppendOwn(std::size_t at, std::size_t n) {
    if (m_bytes.Size() - m_size < n) Grow(n);
    std::memcpy(data() + m_size, data() + at, n);
    m_size += n;
  }
  /// Room for `bytes` bytes after the end, to be written and then committed (Commit).
  char* Room(std::size_t bytes) {
    if (m_bytes.Size() - m_size < bytes) Grow(bytes);
    return data() + m_size;
  }
  /// Takes `bytes` bytes written in the room into the XML.
  void Commit(std::size_t bytes) { m_size += bytes; }
  /// A literal: a copy of a size known where it is written.
  template <std::size_t N>
  CXmlOut& operator+=(const char (&bytes)[N]) {
    std::memcpy(Room(N - 1), bytes, N - 1);
    m_size += N - 1;
    return *this;
  }
  CXmlOut& operator+=(std::string_view bytes) {
    append(bytes.data(), bytes.size());
    return *this;
  }
  CXmlOut& operator+=(char byte) {
    if (m_bytes.Size() == m_size) Grow(1);
    data()[m_size++] = byte;
    return *this;
  }

 private:
  void Grow(std::size_t more) {
    m_bytes.Resize(std::max({2 * m_bytes.Size(), m_size + more, std::size_t{4096}}), m_size);
  }
  CRawBytes m_bytes;
  std::size_t m_size = 0;
};

// The markup of a code around what it shows, written straight into the room at the end of
// the units' XML and taken into it at once (Commit): literals of sizes known where they are
// written, and numbers; never more than kRoom bytes.
class CMarkup {
 public:
  explicit CMarkup(CXmlOut& out) : m_out(out), m_at(out.Room(kRoom)), m_end(m_at) {}
  template <std::size_t N>
  CMarkup& operator<<(const char (&bytes)[N]) {
    std::memcpy(m_end, bytes, N - 1);
    m_end += N - 1;
    return *this;
  }
  CMarkup& Id(std::uint64_t id) {
    std::size_t digits = 1;
    for (std::uint64_t v = id; v >= 10; v /= 10)
      ++digits;
    m_end += digits;
    char* o = m_end;
    do {
      *--o = static_cast<char>('0' + id % 10);
      id /= 10;
    } while (id != 0);
    return *this;
  }
  // The data id of the code at `index` of a unit's pieces: "d1" for the first.
  CMarkup& DataId(std::size_t index) {
    *this << "d";
    return Id(std::uint64_t{index} + 1);
  }
  void Commit() { m_out.Commit(static_cast<std::size_t>(m_end - m_at)); }

 private:
  static constexpr std::size_t kRoom = 160;
  CXmlOut& m_out;
  char* m_at;
  char* m_end;
};

// Whether `s` starts (ends) with the literal `part`: one comparison of its bytes.
template <std::size_t N>
bool StartsWith(std::u16string_view s, const char16_t (&part)[N]) {
  return s.size() >= N - 1 && std::memcmp(s.data(), part, (N - 1) * sizeof(char16_t)) == 0;
}
template <std::size_t N>
bool EndsWith(std::u16string_view s, const char16_t (&part)[N]) {
  return s.size() >= N - 1 &&
         std::memcmp(s.data() + s.size() - (N - 1), part, (N - 1) * sizeof(char16_t)) == 0;
}

// The first `unit` in `s` from `from` on, eight units a step; npos when there is none.
std::size_t FindFrom(std::u16string_view s, char16_t unit, std::size_t from) {
  const char16_t* const end = s.data() + s.size();
  const char16_t* const at = FindUnit(s.data() + from, end, unit);
  return at == end ? std::u16string_view::npos : static_cast<std::size_t>(at - s.data());
}

// The markup between the tags of a `ut` placeholder with content, when `tag` is one: the code
// then shows that markup's text.
bool PlaceholderContent(std::u16string_view tag, std::u16string_view& content) {
  if (!StartsWith(tag, u"<ut") || tag.size() <= 3 || (tag[3] != u' ' && tag[3] != u'>') ||
      !EndsWith(tag, u"</ut>")) {
    return false;
  }
  const std::size_t open = FindFrom(tag, u'>', 3);
  if (open + 1 >= tag.size() - 5) return false;
  content = tag.substr(open + 1, tag.size() - 5 - open - 1);
  return true;
}

// The XML of the codes' displays written last. A document's tags repeat (the same few start
// and end tags around its words), so a display met again is copied as its XML was written
// instead of being written again. An entry is found by a hash of the display's units and the
// way it was written (1.2 content, 2.0 attribute, 2.0 data) and taken only when it holds those
// very units; entries own their copies, so nothing points into the IF.
class CShownMemo {
 public:
  /// Displays outside these lengths are written every time (too short to gain, too long to keep).
  static constexpr std::size_t kMinUnits = 4;
  static constexpr std::size_t kMaxUnits = 1024;
  struct CEntry {
    std::u16string units;
    std::string xml;
    std::uint8_t way = kNoWay;
  };
  static constexpr std::uint8_t kNoWay = 0xFF;

  /// The entry where `units` written in `way` are kept (which may hold others).
  CEntry& At(std::u16string_view units, std::uint8_t way) {
    return m_entries[static_cast<std::size_t>(Hash(units, way) >> (64 - kBits))];
  }

 private:
  static constexpr int kBits = 8;
  // Eight bytes a step, the last eight read again when the size is no multiple of eight (the
  // display has at least four units); the multiplications carry every bit to the high ones.
  static std::uint64_t Hash(std::u16string_view units, std::uint8_t way) {
    constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15ull;
    const auto* const p = reinterpret_cast<const char*>(units.data());
    const std::size_t bytes = units.size() * sizeof(char16_t);
    std::uint64_t h = (std::uint64_t{bytes} << 8 | way) * kMix;
    std::uint64_t word;
    std::size_t at = 0;
    for (; at + 8 <= bytes; at += 8) {
      std::memcpy(&word, p + at, 8);
      h = (h ^ word) * kMix;
    }
    if (at < bytes) {
      std::memcpy(&word, p + bytes - 8, 8);
      h = (h ^ word) * kMix;
    }
    return h;
  }
  std::array<CEntry, std::size_t{1} << kBits> m_entries;
};

}  // namespace

class CWriter {
 public:
  explicit CWriter(const CXliffWriteOptions& options)
      : m_options(options), m_v2(options.version == XliffVersion::V2_0) {}

  void SetTargetText(TargetText text) { m_targetText = std::move(text); }
  CPackPool& Pool() { return m_plan.Pool(); }

  void Reserve(std::uint64_t bytes) {
    try {
      m_body.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, 1ULL << 32)));
      m_plan.Reserve(bytes);
    } catch (const std::bad_alloc&) {
      // Only room ahead: the body grows as it would have.
    }
  }

  // The next units of the IF: tokens are taken as far as they are whole, and the IF that no
  // block still needs leaves the window.
  void Feed(std::u16string_view units) {
    // In slices, so that the window stays small enough to be read again from the cache.
    constexpr std::size_t kSlice = std::size_t{1} << 15;
    for (; units.size() > kSlice; units.remove_prefix(kSlice))
      FeedSlice(units.substr(0, kSlice));
    FeedSlice(units);
  }

  void FeedSlice(std::u16string_view units) {
    m_window.append(units);
    m_view = m_window;
    FindSettings(false);
    Scan(ScanEnd());
    Compact();
  }

  // The next units of the IF where they lie: the writer may change them and the `room` units
  // before them. What the block being read still needs goes into that room, before them, so
  // that the piece is read where it is and only the block it ends inside is kept.
  void FeedInPlace(char16_t* units, std::size_t size, std::size_t room) {
    if (m_window.size() > room || size == 0) {
      Feed(std::u16string_view(units, size));
      return;
    }
    char16_t* const start = units - m_window.size();
    std::copy(m_window.begin(), m_window.end(), start);
    m_view = std::u16string_view(start, m_window.size() + size);
    FindSettings(false);
    const std::size_t until = ScanEnd();
    // In slices, so that what a slice leaves to the skeleton is narrowed from the cache; a
    // slice never ends between the halves of a surrogate pair.
    constexpr std::size_t kSlice = std::size_t{1} << 15;
    while (m_fed < until) {
      std::size_t slice = std::min(until, m_fed + kSlice);
      if (slice < until && IsHighSurrogate(m_view[slice - 1 - m_base])) ++slice;
      Scan(slice);
      Keep();
    }
    const std::size_t keep = Keep();
    m_window.assign(m_view.substr(keep - m_base));
    m_base = keep;
    m_view = m_window;
  }

  void End(std::u16string& sourceLanguage, std::u16string& targetLanguage) {
    FindSettings(true);
    Scan(WindowEnd());
    const std::size_t end = WindowEnd();
    // A group the IF ended inside: its start (when its fixed data was cut off) and its end.
    if (m_dataDue > 0) TakeGroupStart(end, end);
    if (m_in != InIf::Text) Take(IfTokenKind::GroupEnd, 0, 0, end, end);
    m_in = InIf::Text;
    m_dataDue = 0;
    if (m_codeOpen) EndCode(end);
    FlushBlock();
    m_plan.Raw(Units(m_skeletonPos, end));
    m_skeletonPos = end;
    m_window = std::u16string();
    m_view = {};
    m_base = end;
    FrontMatterLanguages(m_settings, sourceLanguage, targetLanguage);
  }

  // The XLIFF: the header and the skeleton, then the units.
  std::size_t Write(const CXliffHeader& header,
                    const std::function<void(std::string_view)>& write) {
    CLargeString out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    std::string original;
    for (const char c : header.original) {
      switch (c) {
        case '&':
          original += "&amp;";
          break;
        case '<':
          original += "&lt;";
          break;
        case '"':
          original += "&quot;";
          break;
        default:
          original += static_cast<unsigned char>(c) < 0x20 ? '_' : c;
      }
    }
    if (m_v2) {
      out += "<xliff xmlns=\"urn:oasis:names:tc:xliff:document:2.0\" version=\"2.0\" srcLang=\"" +
             header.sourceLanguage + "\"";
      if (!header.targetLanguage.empty()) out += " trgLang=\"" + header.targetLanguage + "\"";
      out += ">\n<file id=\"f1\" original=\"" + original + "\">\n<skeleton><![CDATA[";
    } else {
      out +=
          "<xliff xmlns=\"urn:oasis:names:tc:xliff:document:1.2\" version=\"1.2\">\n<file "
          "original=\"" +
          original + "\" datatype=\"x-ttx\" source-language=\"" + header.sourceLanguage + "\"";
      if (!header.targetLanguage.empty())
        out += " target-language=\"" + header.targetLanguage + "\"";
      out +=
          " tool-id=\"tagvert\">\n<header>\n<skl><internal-file "
          "form=\"application/x-tagvert-if-skeleton\"><![CDATA[";
    }
    const std::array<std::string_view, 4> plan = m_plan.Finish();
    const std::uint64_t planHash = HashBytes(plan);
    char line[100];
    std::snprintf(line, sizeof line, "%s %016llX %016llX %010zu\n", kSkeletonMagic.data(),
                  static_cast<unsigned long long>(planHash),
                  static_cast<unsigned long long>(m_unitsHash), m_unitCount);
    out += line;
    write(out);
    // The skeleton goes out a piece at a time: its base64 is never held whole.
    WriteBase64(plan, write);

    if (m_v2) {
      // A file needs a unit or a group: a document with nothing to translate gets an empty
      // group.
      write(m_unitCount == 0 ? "]]></skeleton>\n<group id=\"g1\"/>\n"sv : "]]></skeleton>\n"sv);
      write(m_body);
      write("</file>\n</xliff>\n");
    } else {
      write(
          "]]></internal-file></skl>\n<tool tool-id=\"tagvert\" "
          "tool-name=\"tagvert\"/>\n</header>\n<body>\n"sv);
      write(m_body);
      write("</body>\n</file>\n</xliff>\n");
    }
    return m_unitCount;
  }

 private:
  std::size_t WindowEnd() const { return m_base + m_view.size(); }
  static bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
  // Where the token reader stops in the window: a high surrogate at the end waits for its low
  // half (a text run never ends between them).
  std::size_t ScanEnd() const {
    const std::size_t until = WindowEnd();
    return until > m_fed && IsHighSurrogate(m_view.back()) ? until - 1 : until;
  }
  // The IF units [begin, end), counted from the IF's start; they are in the window.
  std::u16string_view Units(std::size_t begin, std::size_t end) const {
    return m_view.substr(begin - m_base, end - begin);
  }

  // Cuts the IF fed so far, up to `until`, into block tags (skeleton) and the content between
  // them (pieces), as CIfTokenReader's tokens: the codes are found sixty-four units a look and
  // the runs between them taken whole. A group whose fixed data a piece cuts is taken once its
  // data is whole, from its code (which the window keeps).
  void Scan(std::size_t until) {
    const std::u16string_view units = Units(m_base, until);
    std::size_t at = m_fed;  // the first unit not yet taken
    if (m_dataDue > 0) {
      at = TakeGroupData(at, until);
      if (m_dataDue > 0) {
        m_fed = until;
        return;
      }
    }
    ForEachIfCode(units, at - m_base, [&](std::size_t i) {
      const std::size_t code = m_base + i;
      if (code > at) TakeRun(at, code);
      const char16_t c = units[i];
      if (m_in != InIf::Text) {
        // A U+E000 closes a group and belongs to it; any other code ends it and is read anew.
        const bool consumed = c == kIfBoundary && m_in == InIf::Group;
        m_in = InIf::Text;
        if (consumed) {
          Take(IfTokenKind::GroupEnd, c, 0, code, code + 1);
          at = code + 1;
          return i + 1;
        }
        Take(IfTokenKind::GroupEnd, 0, 0, code, code);
      }
      if (IsIfBoundaryCode(c) || IsIfFlagCode(c)) {
        Take(IsIfFlagCode(c) ? IfTokenKind::Flag : IfTokenKind::Boundary, c, 0, code, code + 1);
        at = code + 1;
        return i + 1;
      }
      m_in = IsIfGroupCode(c) ? InIf::Group : InIf::Skipped;
      m_groupAt = code;
      m_dataDue = CIfTokenReader::FixedData(c);
      at = TakeGroupData(code + 1, until);
      return at - m_base;
    });
    if (at < until && m_dataDue == 0) TakeRun(at, until);
    m_fed = until;
  }

  // Takes the fixed data due of the group at m_groupAt from `at` on, as far as `until`, and the
  // group's start once it is whole; returns the end of what it took.
  std::size_t TakeGroupData(std::size_t at, std::size_t until) {
    const std::size_t data = std::min<std::size_t>(m_dataDue, until - at);
    m_dataDue = static_cast<std::uint8_t>(m_dataDue - data);
    at += data;
    if (m_dataDue == 0) TakeGroupStart(m_groupAt, at);
    return at;
  }

  // The start of the group at m_groupAt, its data (the units after its code) ending at
  // `dataEnd`, as a token from `begin` to `dataEnd`.
  void TakeGroupStart(std::size_t begin, std::size_t dataEnd) {
    const char16_t pair = dataEnd > m_groupAt + 1 ? m_view[m_groupAt + 1 - m_base] : 0;
    Take(IfTokenKind::GroupStart, m_view[m_groupAt - m_base], pair, begin, dataEnd);
  }

  // A run of units between codes: text, or the data of a group or of skipped text.
  void TakeRun(std::size_t begin, std::size_t end) {
    Take(m_in == InIf::Text ? IfTokenKind::Text : IfTokenKind::GroupData, 0, 0, begin, end);
  }

  // The IF before what the block being read still needs goes to the skeleton's plan, and
  // leaves the window once it is at least as long as what stays (each unit moved at most once
  // on average).
  void Compact() {
    const std::size_t keep = Keep();
    const std::size_t drop = keep - m_base;
    if (drop < (std::size_t{1} << 16) || drop < m_window.size() - drop) return;
    m_window.erase(0, drop);
    m_base = keep;
    m_view = m_window;
  }

  // Hands the IF before what the block being read still needs to the skeleton's plan; returns
  // the first unit the window has to keep.
  std::size_t Keep() {
    std::size_t keep = m_fed;
    if (m_dataDue > 0) keep = std::min(keep, m_groupAt);
    if (m_codeOpen) keep = std::min(keep, m_code.begin);
    if (!m_pieces.empty()) keep = std::min(keep, m_pieces.front().begin);
    if (keep > m_skeletonPos) {
      m_plan.Raw(Units(m_skeletonPos, keep));
      m_skeletonPos = keep;
    }
    if (!m_settingsDone) keep = std::min(keep, m_settingsAt);
    // The unit before stays: whether a low surrogate is paired depends on it.
    if (keep > m_base) --keep;
    return std::max(keep, m_base);
  }

  // Finds the front matter's first UserSettings tag (up to its '>', or the IF's end).
  void FindSettings(bool atEnd) {
    if (m_settingsDone) return;
    static constexpr std::u16string_view kTag = u"<UserSettings";
    const std::u16string_view window = m_view;
    if (!m_settingsFound) {
      const std::size_t at = window.find(kTag, m_settingsAt - m_base);
      if (at == std::u16string_view::npos) {
        if (atEnd) {
          m_settingsDone = true;
        } else if (WindowEnd() >= kTag.size()) {
          m_settingsAt = std::max(m_settingsAt, WindowEnd() - kTag.size() + 1);
        }
        return;
      }
      m_settingsFound = true;
      m_settingsAt = m_base + at;
      m_settingsScanned = m_settingsAt;
    }
    std::size_t close = window.find(u'>', m_settingsScanned - m_base);
    if (close == std::u16string_view::npos) {
      m_settingsScanned = WindowEnd();
      if (!atEnd) return;
      close = window.size();
    }
    // FrontMatterLanguages reads the tag as it reads the whole IF.
    m_settings = Units(m_settingsAt, m_base + close);
    m_settingsDone = true;
  }

  // Takes a token from `begin` to `end`: its kind, its code, and for a group start the first
  // unit of its data (a tag group's pair id).
  [[gnu::always_inline]] void Take(IfTokenKind kind, char16_t code, char16_t pair,
                                   std::size_t begin, std::size_t end) {
    if (m_groupDone) {
      // A reserve group right after a tag group belongs to the tag.
      if (kind == IfTokenKind::GroupStart && code == kIfReserveGroup && !m_inTrailing) {
        m_inTrailing = true;
        return;
      }
      if (m_inTrailing && kind == IfTokenKind::GroupEnd) {
        m_inTrailing = false;
        EndCode(end);
        return;
      }
      if (!m_inTrailing) EndCode(begin);
    }
    if (kind == IfTokenKind::Text) {
      if (m_codeOpen) EndCode(begin);
      m_inBlockTag = false;
      AddText(begin, end);
      return;
    }
    if (kind == IfTokenKind::Flag && code == kIfBlock) {
      if (m_codeOpen) EndCode(begin);
      FlushBlock();
      m_inBlockTag = true;
      OpenCode(begin);
      return;
    }
    if (!m_codeOpen) OpenCode(begin);
    switch (kind) {
      case IfTokenKind::Flag:
        if (code == kIfEndTag) m_code.close = true;
        break;
      case IfTokenKind::GroupStart:
        if (code == kIfTagGroup && !m_code.tag) {
          m_code.tag = true;
          m_code.pair = pair;
          m_inTag = true;
          m_code.displayBegin = m_code.displayEnd = end;
        }
        break;
      case IfTokenKind::GroupData:
        if (m_inTag) m_code.displayEnd = end;
        break;
      case IfTokenKind::GroupEnd:
        if (m_inTag) {
          m_inTag = false;
          m_groupDone = true;
          m_codeEnd = end;
        }
        break;
      default:
        break;
    }
  }

  void OpenCode(std::size_t begin) {
    m_code = CPiece();
    m_code.begin = begin;
    m_codeOpen = true;
    m_groupDone = false;
    m_inTrailing = false;
  }

  void EndCode(std::size_t end) {
    m_codeOpen = false;
    m_groupDone = false;
    m_inTrailing = false;
    m_code.end = end;
    if (m_inBlockTag) {
      NoteBlockTag(m_code);
      m_inBlockTag = false;
      m_blockBegin = end;
      return;
    }
    m_pieces.push_back(m_code);
  }

  void AddText(std::size_t begin, std::size_t end) {
    // Units that XML cannot carry become codes of their own.
    const std::u16string_view s = Units(m_base, end);
    std::size_t start = begin;
    for (std::size_t i = begin; i < end; ++i) {
      i = m_base + CarriedEnd(s, i - m_base);
      if (i == end) break;
      if (XmlCarries(s, i - m_base)) continue;
      if (i > start) PushText(start, i);
      CPiece code;
      code.begin = i;
      code.end = i + 1;
      code.displayBegin = i;
      code.displayEnd = i + 1;
      m_pieces.push_back(code);
      start = i + 1;
    }
    if (end > start) PushText(start, end);
  }

  void PushText(std::size_t begin, std::size_t end) {
    if (!m_pieces.empty() && m_pieces.back().text && m_pieces.back().end == begin) {
      m_pieces.back().end = end;
    } else {
      CPiece text;
      text.begin = begin;
      text.end = end;
      text.text = true;
      m_pieces.push_back(text);
    }
    for (std::size_t i = begin; i < end && !m_hasWords; ++i) {
      if (!CharIsSpace(m_view[i - m_base])) m_hasWords = true;
    }
  }

  // Follows the Tu and Tuv tags around the units for the note on the source-language text.
  void NoteBlockTag(const CPiece& code) {
    const std::u16string_view shown = Display(code);
    m_afterTuv = StartsWith(shown, u"<Tuv");
    if (StartsWith(shown, u"<Tu ") || StartsWith(shown, u"<Tu>")) {
      m_sourceTuv.clear();
    } else if (m_afterTuv && EndsWith(shown, u"</Tuv>")) {
      const std::size_t open = FindFrom(shown, u'>', 0);
      if (open != std::u16string_view::npos && open + 1 <= shown.size() - 6)
        m_sourceTuv = shown.substr(open + 1, shown.size() - 6 - open - 1);
    }
  }

  std::u16string_view Display(const CPiece& code) const {
    // A code without a tag group shows nothing: its display was never set, and the window may
    // have let go of where it points.
    if (code.displayEnd == code.displayBegin) return {};
    return Units(code.displayBegin, code.displayEnd);
  }

  // Ends the content between two block tags: a unit when it holds more than white space.
  void FlushBlock() {
    if (m_hasWords && !m_pieces.empty()) WriteUnit();
    m_pieces.clear();
    m_hasWords = false;
  }

  void WriteUnit() {
    const std::size_t begin = m_pieces.front().begin;
    const std::size_t end = m_pieces.back().end;
    const std::size_t number = ++m_unitCount;
    Pair();
    m_plan.Raw(Units(m_skeletonPos, begin));
    m_skeletonPos = end;
    // The unit's codes in the plan; its source as the XLIFF gives it in the units' hash.
    m_plan.BeginUnit();
    CHash64 hash;
    for (const CPiece& piece : m_pieces) {
      const std::u16string_view units = Units(piece.begin, piece.end);
      if (piece.text) {
        hash.Add(units);
        continue;
      }
      char room[20];
      hash.AddCode(static_cast<int>(piece.role), IdDigits(piece.id, room));
      m_plan.Code(units);
    }
    m_plan.EndUnit();
    m_unitsHash = FoldUnitHash(m_unitsHash, number, hash.Value());

    // The content is written once, straight into the body; a target copies it from there.
    const std::u16string_view note = SourceNote();
    CXmlOut& body = m_body;
    std::size_t content = 0;
    if (m_v2) {
      ((CMarkup(body) << "<unit id=\"").Id(number) << "\" xml:space=\"preserve\">").Commit();
      if (!note.empty()) {
        body += "<notes><note category=\"source-language-text\">";
        AppendXml(body, note, false, AppendShown);
        body += "</note></notes>";
      }
      OriginalData(body);
      body += "<segment><source>";
      content = body.size();
      Content2(body);
    } else {
      ((CMarkup(body) << "<trans-unit id=\"").Id(number) << "\" xml:space=\"preserve\"><source>")
          .Commit();
      content = body.size();
      Content12(body);
    }
    const std::size_t contentSize = body.size() - content;
    body += "</source>";
    if (m_targetText) {
      body += "<target>";
      if (m_v2) {
        Content2(body, &m_targetText);
      } else {
        Content12(body, &m_targetText);
      }
      body += "</target>";
    } else if (m_options.copySource) {
      body += "<target>";
      body.AppendOwn(content, contentSize);
      body += "</target>";
    }
    if (m_v2) {
      body += "</segment></unit>\n";
    } else {
      if (!note.empty()) {
        body += "<note annotates=\"source\" from=\"source-language-text\">";
        AppendXml(body, note, false, AppendShown);
        body += "</note>";
      }
      body += "</trans-unit>\n";
    }
  }

  // The source-language Tuv's text, when the unit is a target-language Tuv that differs.
  // Valid until the next unit: the text is made in room kept from unit to unit.
  std::u16string_view SourceNote() {
    if (m_sourceTuv.empty() || !m_afterTuv) return {};
    std::u16string& source = m_note;
    PlainText(m_sourceTuv, source);
    std::u16string_view trimmed(source);
    while (!trimmed.empty() && CharIsSpace(trimmed.front()))
      trimmed.remove_prefix(1);
    while (!trimmed.empty() && CharIsSpace(trimmed.back()))
      trimmed.remove_suffix(1);
    if (trimmed.empty() || TextIs(trimmed)) return {};
    return source;
  }

  // Whether the unit's text runs, one after the other and trimmed of white space at both ends,
  // are `text` (which starts and ends with other than white space).
  bool TextIs(std::u16string_view text) const {
    bool started = false;
    std::size_t matched = 0;
    for (const CPiece& piece : m_pieces) {
      if (!piece.text) continue;
      std::u16string_view units = Units(piece.begin, piece.end);
      if (!started) {
        while (!units.empty() && CharIsSpace(units.front()))
          units.remove_prefix(1);
        if (units.empty()) continue;
        started = true;
      }
      const std::size_t n = std::min(units.size(), text.size() - matched);
      if (std::memcmp(units.data(), text.data() + matched, n * sizeof(char16_t)) != 0) return false;
      matched += n;
      for (const char16_t u : units.substr(n)) {
        if (!CharIsSpace(u)) return false;
      }
    }
    return matched == text.size();
  }

  // Pairs the unit's tags, finds the pairs that cross others and numbers the codes.
  void Pair() {
    // The starts still open, per pair id: the latest in m_openStart, each start linking to the
    // one before it with the same id (a stack per id, without a container per unit).
    if (m_openStart.empty()) m_openStart.assign(std::size_t{1} << 16, -1);
    // Written for a start before it is read (as the start's below): only its size matters.
    if (m_openBelow.size() < m_pieces.size()) m_openBelow.resize(m_pieces.size());
    for (int i = 0; i < static_cast<int>(m_pieces.size()); ++i) {
      CPiece& p = m_pieces[static_cast<std::size_t>(i)];
      if (p.text || !p.tag || p.pair == 0) continue;
      int& top = m_openStart[p.pair];
      if (!p.close) {
        m_openBelow[static_cast<std::size_t>(i)] = top;
        top = i;
        p.role = Role::IsolatedOpen;
        continue;
      }
      if (top < 0) {
        p.role = Role::IsolatedClose;
        continue;
      }
      p.partner = top;
      top = m_openBelow[static_cast<std::size_t>(top)];
      p.role = Role::Close;
      CPiece& start = m_pieces[static_cast<std::size_t>(p.partner)];
      start.role = Role::Open;
      start.partner = i;
    }
    // The ids of starts left open go back to none, for the next unit.
    for (const CPiece& p : m_pieces) {
      if (!p.text && p.tag && p.pair != 0) m_openStart[p.pair] = -1;
    }
    // Pairs that do not nest within the others cross them: a stack of open pairs.
    std::vector<int>& stack = m_stack;
    stack.clear();
    for (int i = 0; i < static_cast<int>(m_pieces.size()); ++i) {
      CPiece& p = m_pieces[static_cast<std::size_t>(i)];
      if (p.role == Role::Open) {
        stack.push_back(i);
      } else if (p.role == Role::Close && !m_pieces[static_cast<std::size_t>(p.partner)].crossing) {
        if (stack.back() != p.partner) {
          for (;;) {
            const int top = stack.back();
            stack.pop_back();
            CPiece& q = m_pieces[static_cast<std::size_t>(top)];
            q.crossing = true;
            if (top == p.partner) break;
          }
        } else {
          stack.pop_back();
        }
      }
    }
    std::uint32_t next = 0;
    for (CPiece& p : m_pieces) {
      if (p.text) continue;
      if (p.role == Role::Close) {
        const CPiece& start = m_pieces[static_cast<std::size_t>(p.partner)];
        p.id = start.id;
        p.crossing = start.crossing;
      } else {
        p.id = ++next;
      }
    }
  }

  // Appends what a code shows the translator, as AppendXml writes it: the tag's markup; for a
  // `ut` placeholder the markup of the source document it stands for (its content, references
  // resolved), as "<b>". Content whose text XML writes as it stands is copied.
  template <typename String, typename Other>
  void AppendShownXml(String& out, const CPiece& p, bool attribute, Other&& other) const {
    const std::u16string_view tag = Display(p);
    if constexpr (std::is_same_v<String, CXmlOut>) {
      if (tag.size() >= CShownMemo::kMinUnits && tag.size() <= CShownMemo::kMaxUnits) {
        const std::uint8_t way = static_cast<std::uint8_t>(
            (attribute ? 1 : 0) |
            (std::is_same_v<std::decay_t<Other>, decltype(AppendCp)> ? 2 : 0));
        CShownMemo::CEntry& entry = m_shown.At(tag, way);
        if (entry.way == way && entry.units.size() == tag.size() &&
            std::memcmp(entry.units.data(), tag.data(), tag.size() * sizeof(char16_t)) == 0) {
          out.append(entry.xml.data(), entry.xml.size());
          return;
        }
        const std::size_t start = out.size();
        WriteShownXml(out, tag, attribute, other);
        entry.way = CShownMemo::kNoWay;
        entry.units.assign(tag);
        entry.xml.assign(out.data() + start, out.size() - start);
        entry.way = way;
        return;
      }
    }
    WriteShownXml(out, tag, attribute, other);
  }

  template <typename String, typename Other>
  static void WriteShownXml(String& out, std::u16string_view tag, bool attribute, Other&& other) {
    std::u16string_view content;
    if (!PlaceholderContent(tag, content)) {
      AppendXml(out, tag, attribute, other);
    } else if (!AppendPlainMarkup(out, content)) {
      AppendXml(out, PlainText(content), attribute, other);
    }
  }

  template <typename String>
  void AppendDisplay(String& out, const CPiece& p, bool attribute) const {
    AppendShownXml(out, p, attribute, AppendShown);
  }

  // The text piece at `i` (through `text` when given, with the text pieces that follow it, as
  // one run); returns the index of the last piece taken.
  std::size_t AppendText(CXmlOut& out, std::size_t i, const TargetText* text) const {
    if (text == nullptr) {
      AppendXml(out, Units(m_pieces[i].begin, m_pieces[i].end), false, AppendShown);
      return i;
    }
    std::u16string run(Units(m_pieces[i].begin, m_pieces[i].end));
    while (i + 1 < m_pieces.size() && m_pieces[i + 1].text) {
      ++i;
      run += Units(m_pieces[i].begin, m_pieces[i].end);
    }
    AppendXml(out, (*text)(run), false, AppendShown);
    return i;
  }

  void Content12(CXmlOut& out, const TargetText* text = nullptr) const {
    for (std::size_t i = 0; i < m_pieces.size(); ++i) {
      const CPiece& p = m_pieces[i];
      if (p.text) {
        i = AppendText(out, i, text);
        continue;
      }
      // Appended piece by piece: no string is made for a code.
      switch (p.role) {
        case Role::Open:
          Code12(out, p, "<bpt id=\"", "\">", "</bpt>");
          break;
        case Role::Close:
          Code12(out, p, "<ept id=\"", "\">", "</ept>");
          break;
        case Role::IsolatedOpen:
          Code12(out, p, "<it id=\"", "\" pos=\"open\">", "</it>");
          break;
        case Role::IsolatedClose:
          Code12(out, p, "<it id=\"", "\" pos=\"close\">", "</it>");
          break;
        case Role::Standalone:
          Code12(out, p, "<ph id=\"", "\">", "</ph>");
          break;
      }
    }
  }

  // A code in 1.2: `head`, its id, `after`, what it shows and `tail`.
  template <std::size_t H, std::size_t A, std::size_t T>
  void Code12(CXmlOut& out, const CPiece& p, const char (&head)[H], const char (&after)[A],
              const char (&tail)[T]) const {
    ((CMarkup(out) << head).Id(p.id) << after).Commit();
    AppendDisplay(out, p, false);
    (CMarkup(out) << tail).Commit();
  }

  // A code in 2.0 that is an empty element: `head`, its id, `afterId`, its data id and what it
  // shows.
  template <std::size_t H, std::size_t A>
  void Code2(CXmlOut& out, const CPiece& p, std::size_t index, const char (&head)[H],
             const char (&afterId)[A]) const {
    (((CMarkup(out) << head).Id(p.id) << afterId).DataId(index) << "\" disp=\"").Commit();
    AppendDisplay(out, p, true);
    (CMarkup(out) << "\"/>").Commit();
  }

  void Content2(CXmlOut& out, const TargetText* text = nullptr) const {
    for (std::size_t i = 0; i < m_pieces.size(); ++i) {
      const CPiece& p = m_pieces[i];
      if (p.text) {
        i = AppendText(out, i, text);
        continue;
      }
      // Appended piece by piece, as in 1.2; a pair that nests is one element, written at its
      // start with both displays.
      if (p.role == Role::Close && !p.crossing) {
        (CMarkup(out) << "</pc>").Commit();
        continue;
      }
      if (p.role == Role::Open && !p.crossing) {
        const auto partner = static_cast<std::size_t>(p.partner);
        CMarkup markup(out);
        (markup << "<pc id=\"").Id(p.id) << "\" dataRefStart=\"";
        markup.DataId(i) << "\" dataRefEnd=\"";
        markup.DataId(partner) << "\" dispStart=\"";
        markup.Commit();
        AppendDisplay(out, p, true);
        (CMarkup(out) << "\" dispEnd=\"").Commit();
        AppendDisplay(out, m_pieces[partner], true);
        (CMarkup(out) << "\">").Commit();
        continue;
      }
      switch (p.role) {
        case Role::Open:
          Code2(out, p, i, "<sc id=\"", "\" dataRef=\"");
          break;
        case Role::Close:
          Code2(out, p, i, "<ec startRef=\"", "\" dataRef=\"");
          break;
        case Role::IsolatedOpen:
          Code2(out, p, i, "<sc id=\"", "\" isolated=\"yes\" dataRef=\"");
          break;
        case Role::IsolatedClose:
          Code2(out, p, i, "<ec id=\"", "\" isolated=\"yes\" dataRef=\"");
          break;
        case Role::Standalone:
          Code2(out, p, i, "<ph id=\"", "\" dataRef=\"");
          break;
      }
    }
  }

  void OriginalData(CXmlOut& out) const {
    bool any = false;
    for (std::size_t i = 0; i < m_pieces.size(); ++i) {
      const CPiece& p = m_pieces[i];
      if (p.text) continue;
      if (!any) out += "<originalData>";
      any = true;
      ((CMarkup(out) << "<data id=\"").DataId(i) << "\">").Commit();
      AppendShownXml(out, p, false, AppendCp);
      out += "</data>";
    }
    if (any) out += "</originalData>";
  }

  const CXliffWriteOptions m_options;
  TargetText m_targetText;
  mutable CShownMemo m_shown;  ///< the displays' XML, written once
  bool m_v2;

  // The IF from unit m_base on, as far as it was fed (m_view), in m_window or in the piece
  // being read; Scan has taken it up to m_fed, where it stands in text, in a group or in
  // skipped text, with m_dataDue units of fixed data due to the group whose code is at
  // m_groupAt.
  enum class InIf : std::uint8_t { Text, Group, Skipped };
  std::u16string m_window;
  std::u16string_view m_view;
  std::size_t m_base = 0;
  std::size_t m_fed = 0;
  InIf m_in = InIf::Text;
  std::uint8_t m_dataDue = 0;
  std::size_t m_groupAt = 0;

  // The front matter's UserSettings tag: searched from m_settingsAt until found, then
  // m_settingsAt is where it starts and its '>' is searched from m_settingsScanned.
  bool m_settingsFound = false;
  bool m_settingsDone = false;
  std::size_t m_settingsAt = 0;
  std::size_t m_settingsScanned = 0;
  std::u16string m_settings;

  // The code being read.
  CPiece m_code;
  bool m_codeOpen = false;
  bool m_inTag = false;       ///< inside the code's tag group
  bool m_groupDone = false;   ///< the code's tag group has ended: a reserve group may follow
  bool m_inTrailing = false;  ///< inside that reserve group
  std::size_t m_codeEnd = 0;
  bool m_inBlockTag = false;  ///< the code is a block tag (skeleton)
  std::size_t m_blockBegin = 0;

  // The content since the last block tag.
  std::vector<CPiece> m_pieces;
  // Pair's room, kept from unit to unit.
  std::vector<int> m_openStart;  ///< per pair id: the latest start still open, or -1
  std::vector<int> m_openBelow;  ///< per piece: the start open before it with its id, or -1
  std::vector<int> m_stack;
  bool m_hasWords = false;
  bool m_afterTuv = false;  ///< the last block tag is a Tuv's
  std::u16string m_sourceTuv;
  std::u16string m_note;  ///< SourceNote's room

  std::size_t m_skeletonPos = 0;
  std::size_t m_unitCount = 0;
  CPlanWriter m_plan;
  std::uint64_t m_unitsHash = 0;
  CXmlOut m_body;  ///< the units' XML
};

namespace {

// The value of `name="..."` within `tag`, empty when it has none.
std::u16string Attribute(std::u16string_view tag, std::u16string_view name) {
  std::size_t at = 0;
  while ((at = tag.find(name, at)) != std::u16string_view::npos) {
    const std::size_t eq = at + name.size();
    if (at > 0 && CharIsSpace(tag[at - 1]) && eq + 1 < tag.size() && tag[eq] == u'=' &&
        (tag[eq + 1] == u'"' || tag[eq + 1] == u'\'')) {
      const std::size_t close = tag.find(tag[eq + 1], eq + 2);
      if (close == std::u16string_view::npos) return {};
      return std::u16string(tag.substr(eq + 2, close - eq - 2));
    }
    at = eq;
  }
  return {};
}

}  // namespace

void FrontMatterLanguages(std::u16string_view units, std::u16string& source,
                          std::u16string& target) {
  const std::size_t at = units.find(u"<UserSettings");
  if (at == std::u16string_view::npos) return;
  std::size_t end = units.find(u'>', at);
  if (end == std::u16string_view::npos) end = units.size();
  const std::u16string_view tag = units.substr(at, end - at);
  source = Attribute(tag, u"SourceLanguage");
  target = Attribute(tag, u"TargetLanguage");
}

namespace {

// The first "</ut>" in `s` from `from` on; npos when there is none.
std::size_t FindUtEnd(std::u16string_view s, std::size_t from) {
  for (std::size_t at = from; (at = FindFrom(s, u'<', at)) != std::u16string_view::npos; ++at) {
    if (StartsWith(s.substr(at), u"</ut>")) return at;
  }
  return std::u16string_view::npos;
}

}  // namespace

std::u16string PlainText(std::u16string_view markup) {
  std::u16string text;
  PlainText(markup, text);
  return text;
}

void PlainText(std::u16string_view markup, std::u16string& text) {
  text.clear();
  text.reserve(markup.size());
  for (std::size_t i = 0; i < markup.size();) {
    const char16_t u = markup[i];
    if (u != u'<' && u != u'&') {
      // A run of text up to the next tag or reference, in one append.
      const std::size_t run = static_cast<std::size_t>(
          FindUnitOf(markup.data() + i + 1, markup.data() + markup.size(), u'<', u'&') -
          markup.data());
      text.append(markup.substr(i, run - i));
      i = run;
      continue;
    }
    if (u == u'<') {
      // A placeholder's content is the markup it stands for, not text.
      if (StartsWith(markup.substr(i), u"<ut") && i + 3 < markup.size() &&
          (markup[i + 3] == u' ' || markup[i + 3] == u'>')) {
        const std::size_t empty = FindFrom(markup, u'>', i);
        if (empty != std::u16string_view::npos && empty > 0 && markup[empty - 1] == u'/') {
          i = empty + 1;
        } else {
          // Searched only for a placeholder with content: empty ones are not each a search
          // to the end. No end tag starts before the four units ahead of the first '>' (nor
          // anywhere when there is none); the placeholder's own '<' starts none.
          const std::size_t close =
              empty == std::u16string_view::npos
                  ? empty
                  : FindUtEnd(markup, std::max(i + 1, empty < 4 ? 0 : empty - 4));
          i = close == std::u16string_view::npos ? markup.size() : close + 5;
        }
        continue;
      }
      const std::size_t close = FindFrom(markup, u'>', i);
      i = close == std::u16string_view::npos ? markup.size() : close + 1;
      continue;
    }
    if (u == u'&') {
      // Only a ';' within ten units ends a reference.
      const std::size_t semi = markup.substr(0, std::min(markup.size(), i + 11)).find(u';', i);
      if (semi != std::u16string_view::npos) {
        const std::u16string_view name = markup.substr(i + 1, semi - i - 1);
        char32_t c = 0;
        if (name.size() == 2 && name[1] == u't' && (name[0] == u'l' || name[0] == u'g'))
          c = name[0] == u'l' ? u'<' : u'>';
        else if (name.size() == 3 && name[0] == u'a' && name[1] == u'm' && name[2] == u'p')
          c = u'&';
        else if (name.size() == 4 && StartsWith(name, u"quot"))
          c = u'"';
        else if (name.size() == 4 && StartsWith(name, u"apos"))
          c = u'\'';
        else if (name.size() > 1 && name[0] == u'#') {
          const bool hex = name[1] == u'x' || name[1] == u'X';
          for (std::size_t k = hex ? 2 : 1; k < name.size(); ++k) {
            const char16_t d = name[k];
            const int v = d >= u'0' && d <= u'9'          ? d - u'0'
                          : hex && d >= u'a' && d <= u'f' ? d - u'a' + 10
                          : hex && d >= u'A' && d <= u'F' ? d - u'A' + 10
                                                          : -1;
            if (v < 0 || c > 0x10FFFF) {
              c = 0;
              break;
            }
            c = c * (hex ? 16 : 10) + static_cast<char32_t>(v);
          }
        }
        if (c != 0 && c <= 0x10FFFF) {
          if (c >= 0x10000) {
            text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
          } else {
            text += static_cast<char16_t>(c);
          }
          i = semi + 1;
          continue;
        }
      }
    }
    text += u;
    ++i;
  }
}

CXliffWriter::CXliffWriter(const CXliffWriteOptions& options)
    : m_writer(std::make_unique<CWriter>(options)) {}

CXliffWriter::~CXliffWriter() = default;

void CXliffWriter::SetTargetText(TargetText text) {
  m_writer->SetTargetText(std::move(text));
}

void CXliffWriter::Reserve(std::uint64_t bytes) {
  m_writer->Reserve(bytes);
}

void CXliffWriter::SetPackHelper(std::size_t queued, std::function<void()> notify) {
  m_writer->Pool().SetHelper(queued, std::move(notify));
}

bool CXliffWriter::HelpPack(std::vector<std::uint32_t>& table) {
  return m_writer->Pool().RunOne(table);
}

bool CXliffWriter::PackWaiting() const {
  return m_writer->Pool().HasWaiting();
}

void CXliffWriter::Feed(std::u16string_view units) {
  m_writer->Feed(units);
}

void CXliffWriter::FeedInPlace(char16_t* units, std::size_t size, std::size_t room) {
  m_writer->FeedInPlace(units, size, room);
}

void CXliffWriter::End(std::u16string& sourceLanguage, std::u16string& targetLanguage) {
  m_writer->End(sourceLanguage, targetLanguage);
}

std::size_t CXliffWriter::Write(const CXliffHeader& header,
                                const std::function<void(std::string_view)>& write) {
  return m_writer->Write(header, write);
}

}  // namespace tagvert::xliff
