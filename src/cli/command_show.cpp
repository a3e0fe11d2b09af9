// Tagvert: the command show: an IF, or the IF of a TTX document converted in memory, as a person
// reads it. SPDX-License-Identifier: Apache-2.0
#include <memory>
#include <vector>

#include "cli/command_table.h"
#include "cli/document_input.h"
#include "cli/if_view.h"
#include "cli/platform/cli_services.h"
#include "frame/ttx_converter.h"
#include "storage/memory_stream.h"

namespace tagvert::cli {

namespace {

std::string Help() {
  return "Usage: tagvert show FILE [--codes] [--direction VALUE]\n"
         "\n"
         "Writes the IF file FILE (- reads standard input) as a person reads it: text as\n"
         "text; each tag group as {#PAIR FLAGS: SOURCE TEXT}, with its pair id, the block,\n"
         "end and flagged marks; {reserve ...}, {skipped U+XXXX: ...}, {boundary U+XXXX}.\n"
         "A block tag starts a new line. On a terminal the tags are coloured instead of\n"
         "bracketed (NO_COLOR turns colours off). A TTX file is converted in memory first\n"
         "(its target language chosen as by to-if), so this shows what the kernel sees.\n"
         "\n"
         "  --codes                every code unit and group data unit as <XXXX>\n"
         "  --direction VALUE      target language of a TTX file (as for to-if)\n"
         "  -f, --force            convert a FILE that is neither IF nor TTX anyway\n"
         "  -q, --quiet            no notes and no warnings\n"
         "  -h, --help             show this help\n";
}

std::string Check(const CCliOptions& o) {
  if (o.json) return "--json applies only to stats.";
  if (o.inputs.size() != 1) return "show takes one file.";
  if (GivesOtherOptions(o)) {
    return "show writes to standard output and takes no -o, -O, -j or --keep-going.";
  }
  return {};
}

ExitCode Run(const CCliOptions& o, std::ostream& out, std::ostream& err) {
  CMessages messages(err, o.quiet);
  const std::string& input = o.inputs.front();
  const IfViewMode mode = o.codes                            ? IfViewMode::Codes
                          : PlatformStdoutIsColourTerminal() ? IfViewMode::Colour
                                                             : IfViewMode::Plain;
  bool readFailed = false;
  const std::string notIF = CheckInputFormat(input, false, &readFailed);
  if (readFailed) {
    messages.Error(notIF);
    return ExitCode::Failed;
  }
  const bool isIF = notIF.empty();
  try {
    const std::shared_ptr<CFileStream> in = PlatformOpenInput(input);
    if (isIF) {
      // Read whole before anything is shown, so that a failed read shows nothing, as it does
      // for a TTX document converted in memory.
      std::vector<std::uint8_t> bytes;
      std::uint8_t block[1 << 16];
      while (const std::uint32_t n = in->Read(block, sizeof block))
        bytes.insert(bytes.end(), block, block + n);
      CMemoryStream view(std::move(bytes));
      ShowIf(view, out, mode);
      return ExitCode::Success;
    }
    if (!o.force) {
      const std::string refused = CheckInputFormat(input, true, &readFailed);
      if (!refused.empty()) {
        messages.Error(readFailed
                           ? refused
                           : "'" + input + "' is neither IF nor TTX; --force shows it as TTX.");
        return ExitCode::Failed;
      }
    }
    CTagvertConverter converter;
    UseCommandReading(converter);
    converter.PutProperty(CVariant::String(u"Direction"),
                          CVariant::Int32(ChooseDirection(o, input, messages)));
    auto memory = std::make_shared<CMemoryStream>();
    const HResult hr = converter.ConvertToIF(CEndpoint::Stream(in), CEndpoint::Stream(memory));
    if (Failed(hr)) {
      messages.Error(ConversionFailure(input, hr));
      return ExitCode::Failed;
    }
    ReportInputCut(converter, input, messages, false);
    CMemoryStream view(memory->Bytes());
    ShowIf(view, out, mode);
  } catch (const CHResultError& e) {
    messages.Error(ReadFailure(input, e));
    return ExitCode::Failed;
  } catch (const std::bad_alloc&) {
    messages.Error(OutOfMemory(input));
    return ExitCode::Failed;
  }
  return out.good() ? ExitCode::Success : ExitCode::Failed;
}

}  // namespace

extern const CCommand kShowCommand = {
    "show",
    "FILE",
    "show an IF (or the IF of a TTX file) as a person reads it",
    Bit(Option::Codes) | Bit(Option::Direction) | Bit(Option::Force) | Bit(Option::Quiet),
    "",
    &Help,
    &Check,
    &Run};

}  // namespace tagvert::cli
