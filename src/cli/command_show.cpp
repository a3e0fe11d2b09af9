// Tagvert: the command show: an IF, or the IF of a TTX document converted in memory, as a person
// reads it. SPDX-License-Identifier: Apache-2.0
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/command_table.h"
#include "cli/document_input.h"
#include "cli/if_units.h"
#include "cli/if_view.h"
#include "cli/platform/cli_services.h"
#include "frame/ttx_converter.h"
#include "storage/memory_stream.h"

namespace tagvert::cli {

namespace {

std::string Help() {
  return "Usage: tagvert show FILE... [--codes] [--direction VALUE] [--color WHEN]\n"
         "\n"
         "Writes each IF file FILE (- reads standard input) as a person reads it: text as\n"
         "text; each tag group as {#PAIR FLAGS: SOURCE TEXT}, with its pair id, the block,\n"
         "end and flagged marks; {reserve ...}, {skipped U+XXXX: ...}, {boundary U+XXXX}.\n"
         "A block tag starts a new line. On a terminal the tags are coloured instead of\n"
         "bracketed (NO_COLOR or TERM=dumb turns colours off). A TTX file is converted in\n"
         "memory first (its target language chosen as by to-if), so this shows what the\n"
         "kernel sees. Several files each follow a line '==> FILE <=='.\n"
         "\n"
         "  --codes                every code unit and group data unit as <XXXX>\n"
         "  --direction VALUE      target language of a TTX file (as for to-if)\n"
         "  --color WHEN           colour the tags: auto (on a terminal), always or never\n"
         "  -f, --force            convert a FILE that is neither IF nor TTX anyway\n"
         "  -q, --quiet            no notes (-qq: no warnings either)\n"
         "  -h, --help             show this help\n";
}

std::string Check(const CCliOptions& o) {
  if (o.json) return "--json applies only to stats and check.";
  if (o.inputs.empty()) return "no file given to show.";
  if (GivesOtherOptions(o)) {
    return "show writes to standard output and takes no -o, -O, -j or --keep-going.";
  }
  return {};
}

// Whether the tags are coloured: --color, else on a terminal that shows colours (not when TERM
// is "dumb").
bool WantsColour(ColourChoice choice) {
  if (choice != ColourChoice::Auto) return choice == ColourChoice::Always;
  const char* term = std::getenv("TERM");
  return PlatformStdoutIsColourTerminal() && (term == nullptr || std::strcmp(term, "dumb") != 0);
}

// Shows the IF of one file: the file itself, or the IF its TTX converts to. False, with the error
// said, when it cannot.
bool ShowFile(const CCliOptions& o, const std::string& input, IfViewMode mode, std::ostream& out,
              CMessages& messages) {
  bool readFailed = false;
  const std::string notIF = CheckInputFormat(input, false, &readFailed);
  if (readFailed) {
    messages.Error(notIF);
    return false;
  }
  return ReportingFailures(input, messages, [&] {
    const std::shared_ptr<CFileStream> in = PlatformOpenInput(input);
    // An input read once is told by its first bytes as a file is; those are then read again.
    // One that holds nothing is taken as IF, to be refused below.
    std::shared_ptr<CStreamedInput> streamed;
    bool isIF = notIF.empty();
    if (!CanReadTwice(input)) {
      streamed = std::make_shared<CStreamedInput>(in);
      isIF = !streamed->Begin() || IsIfDocument(*streamed);
    }
    if (isIF) {
      IByteStream& source = streamed != nullptr ? *streamed : static_cast<IByteStream&>(*in);
      // Read whole before anything is shown, so that a failed read shows nothing, as it does
      // for a TTX document converted in memory.
      std::vector<std::uint8_t> bytes;
      std::uint8_t block[1 << 16];
      while (const std::uint32_t n = source.Read(block, sizeof block))
        bytes.insert(bytes.end(), block, block + n);
      // An input read once that held nothing is refused as an empty file is.
      if (bytes.empty() && !o.force) {
        messages.Error(Quote(input) +
                       " is neither IF nor TTX (it is empty); --force shows it anyway.");
        return false;
      }
      CMemoryStream view(std::move(bytes));
      ShowIf(view, out, mode);
      return true;
    }
    if (!o.force) {
      // An input read once is tested on the bytes read ahead of it, as a file is.
      const std::string refused =
          CheckInputFormat(input, true, &readFailed, nullptr, streamed.get());
      if (!refused.empty()) {
        messages.Error(readFailed
                           ? refused
                           : Quote(input) + " is neither IF nor TTX; --force shows it as TTX.");
        return false;
      }
    }
    // The IF is shown from the conversion's classified records, as it would be written: by
    // then the document has been read whole, so that a failed read still shows nothing, and
    // the IF is never written or held.
    CIfView view(out, mode);
    const auto nothing = std::make_shared<CIfUnitSink>([](const char16_t*, std::size_t) {});
    if (!ConvertToIfInto(
            o, input, nothing, messages, nullptr,
            [&view](const CElementTable& table) { view.FeedTable(table); }, streamed)) {
      return false;
    }
    view.Finish();
    return true;
  });
}

ExitCode Run(const CCliOptions& o, std::ostream& out, std::ostream& err) {
  CMessages messages(err, o.quiet);
  const IfViewMode mode = o.codes                 ? IfViewMode::Codes
                          : WantsColour(o.colour) ? IfViewMode::Colour
                                                  : IfViewMode::Plain;
  bool allShown = true;
  for (const std::string& input : o.inputs) {
    // Several files are told apart by a heading each, as head(1) does.
    if (o.inputs.size() > 1)
      out << (&input == &o.inputs.front() ? "" : "\n") << "==> " << input << " <==\n";
    if (!ShowFile(o, input, mode, out, messages)) allShown = false;
  }
  return allShown && out.good() ? ExitCode::Success : ExitCode::Failed;
}

}  // namespace

extern const CCommand kShowCommand = {"show",
                                      "FILE...",
                                      "show an IF (or the IF of a TTX file) as a person reads it",
                                      Bit(Option::Codes) | Bit(Option::Direction) |
                                          Bit(Option::Force) | Bit(Option::Quiet) |
                                          Bit(Option::Colour),
                                      "",
                                      &Help,
                                      &Check,
                                      &Run};

}  // namespace tagvert::cli
