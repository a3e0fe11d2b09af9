// Tagvert: the command check: the problems of TTX documents a translator wants to know before
// sending them out. SPDX-License-Identifier: Apache-2.0
#include <new>
#include <utility>
#include <vector>

#include "cli/command_table.h"
#include "cli/document_check.h"
#include "cli/document_input.h"
#include "cli/platform/cli_services.h"
#include "storage/language_table.h"

namespace tagvert::cli {

namespace {

std::string Help() {
  return "Usage: tagvert check FILE... [--direction VALUE] [--all-warnings]\n"
         "\n"
         "Lists the problems a translator wants to know before sending a TTX file out, one\n"
         "'FILE:LINE:COLUMN: message' line each: end tags without a start, start tags never\n"
         "closed, ut placeholders without their partner, Tu without a Tuv in the target\n"
         "language (chosen as by to-if), empty target Tuvs, and text that is not\n"
         "well-formed XML (a stray < or &, markup cut off). Of each kind the first 100\n"
         "of a file are listed and one line counts the rest. Exit status 1 when it found\n"
         "a problem.\n"
         "\n"
         "  --direction VALUE      target language (as for to-if)\n"
         "  --all-warnings         list every problem, not the first 100 of each kind\n"
         "  -q, --quiet            no notes and no warnings\n"
         "  -h, --help             show this help\n";
}

std::string Check(const CCliOptions& o) {
  if (o.inputs.empty()) return "no file given to check.";
  if (GivesOtherOptions(o)) return "check takes files and --direction.";
  return {};
}

ExitCode Run(const CCliOptions& o, std::ostream& out, std::ostream& err) {
  CMessages messages(err, o.quiet);
  bool clean = true;
  for (const std::string& input : o.inputs) {
    try {
      const std::shared_ptr<CFileStream> in = PlatformOpenInput(input);
      CDocumentLanguages languages;
      const std::int32_t direction = ChooseDirection(o, input, messages, &languages);
      const std::u16string target =
          direction != 0 ? TuvLanguageIn(languages, direction) : std::u16string();
      std::vector<std::pair<std::string, std::size_t>> unlisted;
      const std::size_t problems = CheckDocument(
          in, target,
          [&](std::uint64_t line, std::uint64_t column, const std::string& text) {
            out << input << ":" << line << ":" << column << ": " << text << "\n";
          },
          o.allWarnings ? 0 : kListedWarnings, &unlisted);
      for (const auto& [kind, count] : unlisted) {
        out << input << ": " << count << " more problem" << (count == 1 ? "" : "s")
            << " not listed: " << kind << " (--all-warnings lists them).\n";
      }
      if (problems != 0) clean = false;
    } catch (const CHResultError& e) {
      messages.Error(ReadFailure(input, e));
      clean = false;
    } catch (const std::bad_alloc&) {
      messages.Error(OutOfMemory(input));
      clean = false;
    }
  }
  return clean ? ExitCode::Success : ExitCode::Failed;
}

}  // namespace

extern const CCommand kCheckCommand = {
    "check",
    "FILE...",
    "list problems of TTX files as FILE:LINE:COLUMN: lines",
    Bit(Option::Direction) | Bit(Option::AllWarnings) | Bit(Option::Quiet),
    "ttx",
    &Help,
    &Check,
    &Run};

}  // namespace tagvert::cli
