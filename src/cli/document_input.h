// Tagvert: what the commands do with an input before they convert it: the format check, the
// choice of the target language, and the conversion to IF of the commands that look at the IF
// as it is written (show, stats, pseudo).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "cli/arguments.h"
#include "cli/document_scan.h"
#include "cli/messages.h"
#include "cli/platform/cli_services.h"
#include "cli/streams.h"
#include "frame/ttx_converter.h"

namespace tagvert::cli {

/// Runs `step` (which returns whether it succeeded) on the document `input`: a failed read
/// (CHResultError) or running out of memory becomes the one sentence that says so, and false. A
/// temporary output left open by the step is removed first. The one place where the commands
/// word these failures of a document. `unreadable`, when given, tells whether a read failed.
template <class Step>
bool ReportingFailures(const std::string& input, CMessages& messages, Step&& step,
                       bool* unreadable = nullptr) {
  try {
    return step();
  } catch (const CHResultError& e) {
    if (unreadable != nullptr) *unreadable = e.Code() != kEOutOfMemory;
    messages.Error(ReadFailure(input, e));
  } catch (const std::bad_alloc&) {
    PlatformRemoveTemporaryOutputs();
    messages.Error(OutOfMemory(input));
  }
  return false;
}

/// Opens the input `input` of a command; when it cannot be opened, says so ("cannot read 'F':
/// CAUSE.") and returns null.
std::shared_ptr<CFileStream> OpenInputSaying(const std::string& input, CMessages& messages);

/// Whether the command may read `input` again: a regular file (a pipe, a device or standard
/// input gives its bytes once).
bool CanReadTwice(const std::string& input);

/// Whether `input` is an XLIFF (made by to-xliff, to be read as such by stats and pseudo): by
/// its extension (.xlf, .xliff), or by an <xliff element in its first 4 KiB that no <TRADOStag
/// precedes. An input that cannot be read twice is told so from `streamed` (OpenStreamedInput),
/// read ahead no further than what decides; without it, such an input is no XLIFF. A failed
/// read of `streamed` throws.
bool IsXliff(const std::string& input, CStreamedInput* streamed = nullptr);

/// With -r, replaces each folder among the inputs by the files under it (at any depth) whose
/// extension is the one of its command (CCommand::files, in any letter case), in the order of
/// their paths, and notes each one's path below the folder (CCliOptions::belowFolder). Returns
/// the usage error, empty when there is none: a folder given to a command that takes -r without
/// it, or a folder that holds no such file.
std::string ExpandFolders(CCliOptions& o);

/// The format test decides on the first six items of a document, however long they are. The
/// root of a TTX document comes right after its XML declaration and a line break, and no tool
/// that writes TTX puts anything longer in front of it; so reading at most this many bytes can
/// only change the answer for a document with more than 1 MiB of comments or text before its
/// root, while it makes the test end on endless inputs (a device, a pipe that never closes) and
/// keeps its memory small on a large file that is not markup.
inline constexpr std::uint32_t kFormatTestBytes = 1U << 20;

/// Makes `converter` read TTX as the command promises beyond the kernel's host: language tags
/// as documents write them (LanguageMatch::Language) and UTF-16 without a byte-order mark.
void UseCommandReading(CTagvertConverter& converter, bool exactLanguage = false);

/// Says that the TTX document of the conversion to IF that `converter` just made was cut off
/// (and where). With `strict` it is an error; returns false then.
bool ReportInputCut(const CTagvertConverter& converter, const std::string& input,
                    CMessages& messages, bool strict);
/// The same for a cut the conversion reported (to-xliff).
bool ReportInputCut(const std::optional<CTTXToIfConverter::CInputCut>& cut,
                    const std::string& input, CMessages& messages, bool strict);

/// Checks that `input` is of the format its command converts: a TTX document for to-if (the
/// converter's format test), the IF header for from-if. Returns an empty string when it is,
/// else the sentence that refuses it. `streamed`, when given, is `input` read once (standard
/// input, a pipe, a device) and begun (BeginStreamedInput): it is tested on its first bytes,
/// read ahead no further than the test reads, and the conversion then reads them from the start;
/// without it such an input is not checked. `readFailed`, when given, tells whether the
/// sentence is a failed read. `tester`, when given, is the converter that tests a TTX document
/// (one set up by UseCommandReading, which can convert afterwards), else one is made for the
/// test.
std::string CheckInputFormat(const std::string& input, bool toIF, bool* readFailed = nullptr,
                             CTagvertConverter* tester = nullptr,
                             CStreamedInput* streamed = nullptr);

/// The format check of an input read once that BeginStreamedInput has begun into `streamed`, as
/// CheckInputFormat makes it for a file, with the same sentences (the input named as Quote names
/// it): true with --force, when `streamed` is null (a file: its caller checks it before it opens
/// it) and when the input is of the format; else false, with the sentence said (nothing is said
/// of a read that a stop ended). The bytes read ahead are then the first ones the conversion
/// reads.
bool CheckStreamedFormat(const CCliOptions& o, const std::string& input, CStreamedInput* streamed,
                         bool toIF, CMessages& messages, CTagvertConverter* tester = nullptr);

/// For an input that cannot be read twice (standard input, a pipe, a device), `in` (opened from
/// `input`) behind a CStreamedInput in `streamed`, its first byte read now, so that its format
/// can be checked on its first bytes (CheckStreamedFormat): one that holds no byte at all is
/// refused here as an empty file is, unless --force ("standard input is not a TTX document (it is
/// empty); --force converts it anyway.", `format` naming what it is not: "a TTX document", "an IF
/// document"). `streamed` stays null for a file, which is read as it is. Returns false with the
/// sentence said when the input is refused or its first read fails (nothing is said of a read that
/// a stop ended).
bool BeginStreamedInput(const CCliOptions& o, const std::string& input, const ByteStreamPtr& in,
                        const char* format, CMessages& messages,
                        std::shared_ptr<CStreamedInput>& streamed);

/// For a command that takes XLIFF and TTX (stats, pseudo): an input that cannot be read twice and
/// whose name does not tell that it is an XLIFF is opened and begun into `streamed` as
/// BeginStreamedInput does for a TTX document, so that IsXliff can tell it by its first bytes
/// as it tells a file, and what converts it then reads it from its start. `streamed` stays null
/// otherwise. Returns false with the sentence said when the input cannot be opened or is
/// refused.
bool OpenStreamedInput(const CCliOptions& o, const std::string& input, CMessages& messages,
                       std::shared_ptr<CStreamedInput>& streamed);

/// Whether `in` begins with the IF header (its code, then the boundary that ends it within the
/// header's first units), read ahead no further than what decides: the test of show and of
/// CheckInputFormat, on a file or a stream alike. A failed read throws.
bool IsIfDocument(CStreamedInput& in);

/// The Direction for the document `name` of `languages`: --direction, else the target language
/// it names when the kernel knows it, with what is said of the choice (as ChooseDirection).
std::int32_t DirectionOf(const CCliOptions& o, const std::string& name,
                         const CDocumentLanguages& languages, CMessages& messages);

/// The Direction of `input` when its languages are not to be looked at: for an input that
/// cannot be read twice, --direction or 0 (said when there is none); with --direction, when
/// nothing is to be said (-qq) and the languages are not `wanted`, --direction. Nothing
/// otherwise.
std::optional<std::int32_t> DirectionWithoutReading(const CCliOptions& o, const std::string& input,
                                                    CMessages& messages, bool wanted);

/// The Direction of a conversion to IF: --direction, else the target language the document
/// names when the kernel knows it. Says on standard error what was chosen, and warns when no
/// Tuv of the document will be translated. A failed read of the document throws (CHResultError,
/// or std::bad_alloc when memory runs out), as it would in the conversion. `scanned`, when
/// given, receives what the scan of the document found.
std::int32_t ChooseDirection(const CCliOptions& o, const std::string& input, CMessages& messages,
                             CDocumentLanguages* scanned = nullptr);

/// ChooseDirection without reading the document ahead, for a conversion to IF by `converter`:
/// the document's languages are taken when the conversion has read it (its document hook), and
/// what is said of the choice is said then, after `beforeSaying` (which may clear a progress
/// line). Returns the Direction to put before the conversion (--direction, else 0); `scanned`
/// is filled when the document is read: all its units, and its languages only as far as the
/// choice and what is said of it need (the Tuvs' languages are those found until then). An input
/// that cannot be read twice is taken as a file is, its target language from the document too:
/// the conversion has read it whole by then. `o`, `messages` and `scanned` must outlive the
/// conversion.
std::int32_t DeferDirection(const CCliOptions& o, const std::string& input, CMessages& messages,
                            CTagvertConverter& converter, CDocumentLanguages* scanned = nullptr,
                            std::function<void()> beforeSaying = {});
/// DeferDirection for a conversion the command does not run itself: the document hook goes to
/// `hook` (empty when the document's languages are not looked at).
std::int32_t DeferDirection(const CCliOptions& o, const std::string& input, CMessages& messages,
                            CTTXToIfConverter::DocumentReadHook& hook,
                            CDocumentLanguages* scanned = nullptr,
                            std::function<void()> beforeSaying = {});

/// Converts one TTX document to IF into `target`, as the commands that look at the IF need it:
/// the input checks, the direction, the conversion. Reports what goes wrong through `messages`
/// and returns false then; std::bad_alloc passes through. With `tableHook` the conversion hands
/// its table to the hook instead of writing the IF (CTTXToIfConverter::TableHook). `languages`,
/// when given, gets the document's facts as DeferDirection's `scanned`. `streamed`, when given,
/// is the input already begun (OpenStreamedInput); what was read ahead of it is converted too.
bool ConvertToIfInto(const CCliOptions& o, const std::string& input, const ByteStreamPtr& target,
                     CMessages& messages, CDocumentLanguages* languages = nullptr,
                     CTTXToIfConverter::TableHook tableHook = {},
                     std::shared_ptr<CStreamedInput> streamed = nullptr);

}  // namespace tagvert::cli
