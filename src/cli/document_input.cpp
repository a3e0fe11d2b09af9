// Tagvert: the command's checks and choices before a conversion.
// SPDX-License-Identifier: Apache-2.0
#include "cli/document_input.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/command_table.h"
#include "cli/platform/cli_services.h"
#include "cli/streams.h"
#include "frame/ttx_converter.h"
#include "ifcodec/if_parser.h"
#include "storage/language_table.h"
#include "storage/memory_stream.h"

namespace tagvert::cli {

namespace {

// The header names the converter in a few units; a boundary further away is no header.
constexpr std::uint32_t kIfHeaderUnits = 64;

// Whether the command may read `input` before converting it: a regular file (a pipe, a device
// or standard input gives its bytes once).
bool ReadTwice(const std::string& input) {
  std::error_code ec;
  return input != "-" && std::filesystem::is_regular_file(
                             std::filesystem::path(std::u8string(input.begin(), input.end())), ec);
}

// The little-endian unit at `p`.
char16_t UnitAt(const unsigned char* p) {
  return static_cast<char16_t>(p[0] | (p[1] << 8));
}

// Reads ahead from `in` until `test` tells what the input is from the bytes held ahead (the first
// `limit` of them at most) and whether they are all it sees (the input ended, or `limit` bytes
// are held): it answers then at the latest. So an input is read no further than what decides,
// and a file and a stream with the same bytes get the same answer. Each read asks for all that
// is missing, which a file gives at once. A failed read throws.
template <class Test>
bool TellAhead(CStreamedInput& in, std::uint32_t limit, Test test) {
  for (;;) {
    const std::string_view head = in.Ahead().substr(0, limit);
    if (const std::optional<bool> told = test(head, in.Ended() || head.size() >= limit))
      return *told;
    in.ReadAhead(limit);
  }
}

// The bytes in which an XLIFF shows its root.
constexpr std::uint32_t kXliffTestBytes = 4096;

// Whether `in` shows an <xliff element in its first bytes that no <TRADOStag precedes. A
// failed read throws.
bool BeginsAsXliff(CStreamedInput& in) {
  return TellAhead(in, kXliffTestBytes, [](std::string_view head, bool whole) {
    // The first <xliff decides; without one, a <TRADOStag decides: an <xliff after it does not
    // count.
    const std::size_t xliff = head.find("<xliff");
    if (xliff != std::string_view::npos) {
      return std::optional<bool>(head.substr(0, xliff).find("<TRADOStag") ==
                                 std::string_view::npos);
    }
    if (head.find("<TRADOStag") != std::string_view::npos) return std::optional<bool>(false);
    return whole ? std::optional<bool>(false) : std::nullopt;
  });
}

// Whether the name of `input` says it is an XLIFF: its extension .xlf or .xliff.
bool NamedXliff(const std::string& input) {
  std::string lower = input;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return lower.ends_with(".xlf") || lower.ends_with(".xliff");
}

// The bytes that the UTF-16 test looks at.
constexpr std::uint32_t kUtf16TestBytes = 512;

// "little-endian" or "big-endian" when the first bytes of an input, `head`, look like UTF-16
// without a byte-order mark: a zero byte in three units of four or more, all in the same half.
// Null otherwise, and for what holds IF codes.
const char* Utf16OrderWithoutMark(std::string_view head) {
  const auto* p = reinterpret_cast<const unsigned char*>(head.data());
  const std::size_t got = std::min<std::size_t>(head.size(), kUtf16TestBytes);
  std::size_t zeros[2] = {0, 0};
  for (std::size_t i = 0; i < got; ++i)
    zeros[i % 2] += p[i] == 0 ? 1 : 0;
  const std::size_t units = got / 2;
  if (units < 2 || (p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF)) {
    return nullptr;
  }
  // IF is UTF-16 without a mark too, and its codes (U+E000..U+EFFF) show it, even in an IF
  // whose header is damaged.
  for (std::size_t i = 0; i + 1 < got; i += 2) {
    if ((UnitAt(p + i) & 0xF000) == 0xE000) return nullptr;
  }
  if (zeros[1] * 4 >= units * 3 && zeros[0] * 4 < units) return "little-endian";
  if (zeros[0] * 4 >= units * 3 && zeros[1] * 4 < units) return "big-endian";
  return nullptr;
}

// The same for the file `input`, read again from its start; null when it cannot be read.
const char* Utf16OrderWithoutMark(const std::string& input) {
  char head[kUtf16TestBytes];
  std::uint32_t got = 0;
  try {
    const std::shared_ptr<CFileStream> in = PlatformOpenInput(input);
    while (got < sizeof head) {
      const std::uint32_t n = in->Read(head + got, static_cast<std::uint32_t>(sizeof head) - got);
      if (n == 0) break;
      got += n;
    }
  } catch (const CHResultError&) {
    return nullptr;
  }
  return Utf16OrderWithoutMark(std::string_view(head, got));
}

// The same for an input read once, on its first bytes read ahead. A failed read throws.
const char* Utf16OrderWithoutMark(CStreamedInput& in) {
  TellAhead(in, kUtf16TestBytes, [](std::string_view, bool whole) {
    return whole ? std::optional<bool>(true) : std::nullopt;
  });
  return Utf16OrderWithoutMark(in.Ahead());
}

// An input read once as a test reads it from its start, without taking its bytes from the
// conversion: the bytes held ahead, and beyond them what is read ahead as the test asks for it.
// So the input is read no further than the test reads, and the conversion then reads the same
// bytes from the start. A read gives what is held when there is some, as a pipe does: the
// reader asks again for more. A failed read throws.
class CPeekStream : public IByteStream {
 public:
  explicit CPeekStream(CStreamedInput& in) : m_in(in) {}

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    if (size == 0) return 0;
    while (m_in.Ahead().size() <= m_at) {
      const std::uint64_t wanted = std::uint64_t{m_at} + size;
      if (!m_in.ReadAhead(static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, UINT32_MAX))))
        return 0;
    }
    const std::string_view held = m_in.Ahead().substr(m_at, size);
    std::memcpy(buffer, held.data(), held.size());
    m_at += held.size();
    return static_cast<std::uint32_t>(held.size());
  }
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
  std::uint64_t Position() override { return m_at; }
  bool Size(std::uint64_t&) override { return false; }

 private:
  CStreamedInput& m_in;
  std::size_t m_at = 0;
};

// CheckInputFormat; with `stopped`, a read of `streamed` that a stop ended sets it instead of
// giving a sentence.
std::string FormatRefusal(const std::string& input, bool toIF, bool* readFailed,
                          CTagvertConverter* tester, CStreamedInput* streamed, bool* stopped) {
  if (streamed == nullptr && !ReadTwice(input)) return {};
  if (readFailed != nullptr) *readFailed = true;
  try {
    // A file is read again from its start; an input read once, on what is read ahead of it.
    std::shared_ptr<CFileStream> file;
    if (streamed == nullptr) file = PlatformOpenInput(input);
    if (!toIF) {
      bool isIF;
      if (streamed != nullptr) {
        isIF = IsIfDocument(*streamed);
      } else {
        CStreamedInput head(file);
        isIF = IsIfDocument(head);
      }
      if (readFailed != nullptr) *readFailed = false;
      if (isIF) return {};
      return Quote(input) +
             " is not an IF document (it does not begin with the IF header); --force "
             "converts it anyway.";
    }
    // A converter of its own loads its rules again: the caller's is used when there is one.
    std::optional<CTagvertConverter> own;
    if (tester == nullptr) {
      own.emplace();
      UseCommandReading(*own);
      tester = &*own;
    }
    const ByteStreamPtr source = streamed != nullptr
                                     ? ByteStreamPtr(std::make_shared<CPeekStream>(*streamed))
                                     : ByteStreamPtr(file);
    const HResult hr = tester->IsFormatAvailable(
        CEndpoint::Stream(std::make_shared<CBoundedStream>(source, kFormatTestBytes)));
    if (hr == kEAbort && stopped != nullptr) {
      *stopped = true;
      return {};
    }
    if (hr == kSOk || hr == kENotFormat) {
      if (readFailed != nullptr) *readFailed = false;
    }
    if (hr == kSOk) return {};
    if (hr == kEOutOfMemory) return OutOfMemory(input);
    if (hr != kENotFormat) return "cannot read " + Quote(input) + ": " + ErrorPhrase(hr) + ".";
    if (const char* order =
            streamed != nullptr ? Utf16OrderWithoutMark(*streamed) : Utf16OrderWithoutMark(input)) {
      return Quote(input) + " is not a TTX document as read: it looks like UTF-16 (" + order +
             ") without a byte-order mark; convert it first (iconv -f UTF-16" +
             (order[0] == 'l' ? "LE" : "BE") + " -t UTF-8) or --force it as UTF-8.";
    }
    return Quote(input) +
           " is not a TTX document (no TRADOStag start tag among its first items); --force "
           "converts it anyway.";
  } catch (const CHResultError& e) {
    if (e.Code() == kEAbort && stopped != nullptr) {
      *stopped = true;
      return {};
    }
    return ReadFailure(input, e);
  } catch (const std::bad_alloc&) {
    return OutOfMemory(input);
  }
}

}  // namespace

void UseCommandReading(CTagvertConverter& converter, bool exactLanguage) {
  converter.SetLanguageMatch(exactLanguage ? LanguageMatch::Exact : LanguageMatch::Language);
  converter.SetReadUtf16WithoutMark(true);
}

bool ReportInputCut(const CTagvertConverter& converter, const std::string& input,
                    CMessages& messages, bool strict) {
  return ReportInputCut(converter.GetInputCut(), input, messages, strict);
}

bool ReportInputCut(const std::optional<CTTXToIfConverter::CInputCut>& cut,
                    const std::string& input, CMessages& messages, bool strict) {
  if (!cut) return true;
  std::string where =
      "at line " + std::to_string(cut->line) + ", column " + std::to_string(cut->column);
  if (cut->insideMarkup) where += ", inside a tag";
  if (cut->rootOpen)
    where += cut->insideMarkup ? " with TRADOStag still open" : ", with TRADOStag still open";
  if (strict) {
    messages.Error(Quote(input) + " is cut off " + where +
                   " (--strict); no output file was written.");
    return false;
  }
  messages.Warning(Quote(input) + ": the document is cut off " + where +
                   "; the rest of it is missing.");
  return true;
}

namespace {

// Whether `path` ends with "." and `extension` (ASCII letters in any case).
bool HasExtension(const std::filesystem::path& path, const char* extension) {
  const std::u8string name = path.filename().u8string();
  const std::size_t size = std::char_traits<char>::length(extension);
  if (name.size() <= size + 1 || name[name.size() - size - 1] != u8'.') return false;
  for (std::size_t i = 0; i < size; ++i) {
    char c = static_cast<char>(name[name.size() - size + i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != extension[i]) return false;
  }
  return true;
}

std::string Utf8Name(const std::filesystem::path& path) {
  const std::u8string name = path.generic_u8string();
  return std::string(name.begin(), name.end());
}

// The files under the folder `dir` with the extension `extension`, in the order of their paths,
// into `o` (inputs and their paths below `dir`).
void AddFilesUnder(CCliOptions& o, const std::string& dir, const char* extension,
                   std::vector<std::string>& inputs) {
  const std::filesystem::path root(std::u8string(dir.begin(), dir.end()));
  std::vector<std::filesystem::path> found;
  std::error_code ec;
  const auto options = std::filesystem::directory_options::skip_permission_denied;
  for (auto it = std::filesystem::recursive_directory_iterator(root, options, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError) && HasExtension(it->path(), extension)) {
      found.push_back(it->path().lexically_relative(root));
    }
  }
  std::sort(found.begin(), found.end());
  for (const std::filesystem::path& below : found) {
    const std::string name = Utf8Name(root / below);
    o.belowFolder[name] = Utf8Name(below);
    inputs.push_back(name);
  }
}

}  // namespace

std::shared_ptr<CFileStream> OpenInputSaying(const std::string& input, CMessages& messages) {
  try {
    return PlatformOpenInput(input);
  } catch (const CFileError& e) {
    messages.Error("cannot read " + Quote(input) + ": " + e.Phrase() + ".");
    return nullptr;
  }
}

bool CanReadTwice(const std::string& input) {
  return ReadTwice(input);
}

bool IsXliff(const std::string& input, CStreamedInput* streamed) {
  if (NamedXliff(input)) return true;
  if (streamed != nullptr) return BeginsAsXliff(*streamed);
  if (!CanReadTwice(input)) return false;
  std::shared_ptr<CFileStream> in;
  try {
    in = PlatformOpenInput(input);
  } catch (const CFileError&) {
    return false;  // the command says why it cannot read it
  }
  CStreamedInput head(in);
  return BeginsAsXliff(head);
}

std::string ExpandFolders(CCliOptions& o) {
  if ((o.command->options & Bit(Option::Recursive)) == 0) return {};
  std::vector<std::string> inputs;
  for (const std::string& input : o.inputs) {
    std::error_code ec;
    if (input == "-" || !std::filesystem::is_directory(
                            std::filesystem::path(std::u8string(input.begin(), input.end())), ec)) {
      inputs.push_back(input);
      continue;
    }
    if (!o.recursive) {
      return "'" + input + "' is a folder: give -r to take the ." + std::string(o.command->files) +
             " files under it.";
    }
    const std::size_t before = inputs.size();
    AddFilesUnder(o, input, o.command->files, inputs);
    if (inputs.size() == before) {
      return "the folder '" + input + "' holds no ." + std::string(o.command->files) + " file.";
    }
  }
  o.inputs = std::move(inputs);
  return {};
}

std::string CheckInputFormat(const std::string& input, bool toIF, bool* readFailed,
                             CTagvertConverter* tester, CStreamedInput* streamed) {
  return FormatRefusal(input, toIF, readFailed, tester, streamed, nullptr);
}

bool CheckStreamedFormat(const CCliOptions& o, const std::string& input, CStreamedInput* streamed,
                         bool toIF, CMessages& messages, CTagvertConverter* tester) {
  if (streamed == nullptr || o.force) return true;
  bool stopped = false;
  const std::string refused = FormatRefusal(input, toIF, nullptr, tester, streamed, &stopped);
  if (stopped) return false;  // said as the caller says a stop
  if (refused.empty()) return true;
  messages.Error(refused);
  return false;
}

bool BeginStreamedInput(const CCliOptions& o, const std::string& input, const ByteStreamPtr& in,
                        const char* format, CMessages& messages,
                        std::shared_ptr<CStreamedInput>& streamed) {
  streamed.reset();
  if (ReadTwice(input)) return true;
  auto begun = std::make_shared<CStreamedInput>(in);
  try {
    if (!begun->Begin() && !o.force) {
      messages.Error(Quote(input) + " is not " + format +
                     " (it is empty); --force converts it anyway.");
      return false;
    }
  } catch (const CHResultError& e) {
    // A read that a stop signal ended is said as the caller says a stop.
    if (e.Code() != kEAbort) messages.Error(ReadFailure(input, e));
    return false;
  }
  streamed = std::move(begun);
  return true;
}

bool OpenStreamedInput(const CCliOptions& o, const std::string& input, CMessages& messages,
                       std::shared_ptr<CStreamedInput>& streamed) {
  streamed.reset();
  if (NamedXliff(input) || ReadTwice(input)) return true;
  const std::shared_ptr<CFileStream> in = OpenInputSaying(input, messages);
  return in != nullptr && BeginStreamedInput(o, input, in, "a TTX document", messages, streamed);
}

bool IsIfDocument(CStreamedInput& in) {
  // The IF header: its code, then the boundary that ends it within the header's first units.
  return TellAhead(in, 2 * kIfHeaderUnits, [](std::string_view head, bool whole) {
    const auto* p = reinterpret_cast<const unsigned char*>(head.data());
    if (head.size() >= 2 && UnitAt(p) != kIfHeader) return std::optional<bool>(false);
    for (std::size_t i = 2; i + 1 < head.size(); i += 2) {
      if (UnitAt(p + i) == kIfBoundary) return std::optional<bool>(true);
    }
    return whole ? std::optional<bool>(false) : std::nullopt;
  });
}

std::int32_t DirectionOf(const CCliOptions& o, const std::string& name,
                         const CDocumentLanguages& languages, CMessages& messages) {
  std::int32_t direction = 0;
  if (o.direction) {
    direction = *o.direction;
  } else if (const auto found = languages.targetLanguage
                                    ? DirectionOfLanguage(*languages.targetLanguage)
                                    : std::nullopt) {
    direction = *found;
    messages.Note(name + ": target language " + Narrow(*languages.targetLanguage) +
                  ", from the document.");
  } else {
    if (languages.tuvLanguages.empty()) return 0;
    const std::string named = languages.targetLanguage ? "names the target language '" +
                                                             Narrow(*languages.targetLanguage) +
                                                             "', which is not in the language table"
                                                       : "names no target language";
    messages.Warning(name + ": the document " + named +
                     ": every Tuv is carried untranslated (give --direction; 'tagvert "
                     "languages' lists the table).");
    return 0;
  }
  const std::string mismatch = TuvMismatch(languages, direction);
  if (!mismatch.empty()) messages.Warning(name + ": " + mismatch + ".");
  return direction;
}

namespace {

// Whether `languages`, read as far as some point after the document's first UserSettings, give
// what DirectionOf gives and says of the whole document. With a direction that is so once a Tuv
// carries its tag exactly: the Tuvs' language is chosen at the first such one, whatever comes
// later. Without one, all that is said is whether the document has a Tuv at all.
bool DirectionSettled(const CCliOptions& o, const CDocumentLanguages& languages) {
  std::optional<std::int32_t> direction = o.direction;
  if (!direction && languages.targetLanguage) {
    direction = DirectionOfLanguage(*languages.targetLanguage);
  }
  const std::vector<std::u16string>& tuvs = languages.tuvLanguages;
  if (!direction) return !tuvs.empty();
  return std::find(tuvs.begin(), tuvs.end(), TuvLanguageOf(*direction)) != tuvs.end();
}

}  // namespace

std::optional<std::int32_t> DirectionWithoutReading(const CCliOptions& o, const std::string& input,
                                                    CMessages& messages, bool wanted) {
  if (!ReadTwice(input)) {
    if (!o.direction) {
      messages.Warning(Quote(input) +
                       " is not read ahead for its target language: every Tuv is carried "
                       "untranslated (give --direction).");
    }
    return o.direction.value_or(0);
  }
  // Nothing to say and nothing to find: the document's languages are not looked at.
  if (o.direction && messages.Quiet() && !wanted) return *o.direction;
  return std::nullopt;
}

std::int32_t ChooseDirection(const CCliOptions& o, const std::string& input, CMessages& messages,
                             CDocumentLanguages* scanned) {
  if (const auto direction = DirectionWithoutReading(o, input, messages, scanned != nullptr))
    return *direction;
  const CDocumentLanguages languages = ScanLanguages(PlatformOpenInput(input));
  if (scanned != nullptr) *scanned = languages;
  return DirectionOf(o, Quote(input), languages, messages);
}

std::int32_t DeferDirection(const CCliOptions& o, const std::string& input, CMessages& messages,
                            CTTXToIfConverter::DocumentReadHook& hook, CDocumentLanguages* scanned,
                            std::function<void()> beforeSaying) {
  hook = {};
  // The conversion reads the whole document before the hook is called, so an input read once
  // (standard input, a pipe) is judged as a file is: what the command makes of a document does
  // not depend on how the document reached it. Nothing to say and nothing to find: the
  // document's languages are not looked at.
  if (scanned == nullptr && o.direction && messages.Quiet()) return *o.direction;
  hook = [&o, name = Quote(input), &messages, scanned, beforeSaying = std::move(beforeSaying)](
             const CDocumentFacts& facts) -> std::optional<std::int32_t> {
    if (scanned != nullptr) *scanned = facts;
    if (beforeSaying) beforeSaying();
    return DirectionOf(o, name, facts, messages);
  };
  return o.direction.value_or(0);
}

std::int32_t DeferDirection(const CCliOptions& o, const std::string& input, CMessages& messages,
                            CTagvertConverter& converter, CDocumentLanguages* scanned,
                            std::function<void()> beforeSaying) {
  CTTXToIfConverter::DocumentReadHook hook;
  const std::int32_t direction =
      DeferDirection(o, input, messages, hook, scanned, std::move(beforeSaying));
  // The languages are read only until they settle the direction and what is said of it; the
  // walk over the document then ends, unless the caller keeps the facts: their units are then
  // counted to the end.
  FactsSettled settled;
  if (hook) {
    settled.languages = [&o](const CDocumentFacts& facts) { return DirectionSettled(o, facts); };
    settled.allUnits = scanned != nullptr;
  }
  converter.SetDocumentReadHook(std::move(hook), std::move(settled));
  return direction;
}

bool ConvertToIfInto(const CCliOptions& o, const std::string& input, const ByteStreamPtr& target,
                     CMessages& messages, CDocumentLanguages* languages,
                     CTTXToIfConverter::TableHook tableHook,
                     std::shared_ptr<CStreamedInput> streamed) {
  CTagvertConverter converter;
  UseCommandReading(converter);
  converter.SetTableHook(std::move(tableHook));
  // An input the caller has begun (OpenStreamedInput) has been opened, and refused when empty;
  // it is checked here, as one begun below is.
  std::shared_ptr<CFileStream> in;
  if (streamed == nullptr) {
    if (!o.force) {
      const std::string refused = CheckInputFormat(input, true, nullptr, &converter);
      if (!refused.empty()) {
        messages.Error(refused);
        return false;
      }
    }
    in = OpenInputSaying(input, messages);
    if (in == nullptr) return false;
    if (!BeginStreamedInput(o, input, in, "a TTX document", messages, streamed)) return false;
  }
  if (!CheckStreamedFormat(o, input, streamed.get(), true, messages, &converter)) return false;
  converter.PutProperty(CVariant::String(u"Direction"),
                        CVariant::Int32(DeferDirection(o, input, messages, converter, languages)));
  const ByteStreamPtr source = streamed != nullptr ? ByteStreamPtr(streamed) : ByteStreamPtr(in);
  const HResult hr = converter.ConvertToIF(CEndpoint::Stream(source), CEndpoint::Stream(target));
  if (Failed(hr)) {
    messages.Error(ConversionFailure(input, hr));
    return false;
  }
  ReportInputCut(converter, input, messages, false);
  return true;
}

}  // namespace tagvert::cli
