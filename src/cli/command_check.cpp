// Tagvert: the command check: the problems of TTX documents a translator wants to know before
// sending them out. SPDX-License-Identifier: Apache-2.0
#include <algorithm>
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
  return "Usage: tagvert check FILE... [-r] [--direction VALUE] [--all-warnings] [--json]\n"
         "\n"
         "Lists the problems a translator wants to know before sending a TTX file out, one\n"
         "'FILE:LINE:COLUMN: message' line each: end tags without a start, start tags never\n"
         "closed, ut placeholders without their partner, Tu without a Tuv in the target\n"
         "language (chosen as by to-if), empty target Tuvs, and text that is not\n"
         "well-formed XML (a stray < or &, markup cut off). Of each kind the first 100\n"
         "of a file are listed and one line counts the rest; each file's lines come in the\n"
         "order of the document. Exit status 1 when it found a problem (or ran out of\n"
         "memory), 2 when a file could not be read.\n"
         "\n"
         "  --direction VALUE      target language (as for to-if)\n"
         "  --all-warnings         list every problem, not the first 100 of each kind\n"
         "  --json                 the problems as one JSON object: per file its problems\n"
         "                         (line, column, message) and the counts not listed\n"
         "  -r, --recursive        a FILE that is a folder stands for the .ttx files under it\n"
         "  -q, --quiet            no notes (-qq: no warnings either)\n"
         "  -h, --help             show this help\n";
}

std::string Check(const CCliOptions& o) {
  if (o.inputs.empty()) return "no file given to check.";
  if (GivesOtherOptions(o)) return "check takes files, -r, --direction, --all-warnings and --json.";
  return {};
}

// One problem of a document: where it is and what it is.
struct CFinding {
  std::uint64_t line, column;
  std::string text;
};

// What the check of one document found: its problems in document order, and by kind the number
// of those not listed.
struct CFindings {
  std::vector<CFinding> listed;
  std::vector<std::pair<std::string, std::size_t>> unlisted;
};

CFindings CheckFile(const CCliOptions& o, const std::string& input, CMessages& messages) {
  const std::shared_ptr<CFileStream> in = PlatformOpenInput(input);
  // The target language comes from the check's own reading of the whole document, before it
  // is judged: standard input and pipes are chosen for as files are.
  const auto chooseTarget = [&](const CDocumentLanguages& languages) {
    const std::int32_t direction = DirectionOf(o, Quote(input), languages, messages);
    return direction != 0 ? TuvLanguageIn(languages, direction) : std::u16string();
  };
  CFindings found;
  CheckDocument(
      in, chooseTarget,
      [&](std::uint64_t line, std::uint64_t column, const std::string& text) {
        found.listed.push_back({line, column, text});
      },
      o.allWarnings ? 0 : kListedWarnings, &found.unlisted);
  // The reader finds some problems only later (a start tag never closed at the end): in the
  // order of the document, problems at one place in the order found.
  std::stable_sort(found.listed.begin(), found.listed.end(),
                   [](const CFinding& a, const CFinding& b) {
                     return a.line != b.line ? a.line < b.line : a.column < b.column;
                   });
  return found;
}

void PrintText(const std::string& input, const CFindings& found, std::ostream& out) {
  for (const CFinding& f : found.listed)
    out << input << ":" << f.line << ":" << f.column << ": " << f.text << "\n";
  for (const auto& [kind, count] : found.unlisted) {
    out << input << ": " << count << " more problem" << (count == 1 ? "" : "s")
        << " not listed: " << kind << " (--all-warnings lists them).\n";
  }
}

std::string JsonFindings(const std::string& input, const CFindings& found) {
  std::string json = "  {\"file\": " + JsonString(input) + ", \"problems\": [";
  for (const CFinding& f : found.listed) {
    json += (&f == &found.listed.front() ? "\n    " : ",\n    ");
    json += "{\"line\": " + std::to_string(f.line) + ", \"column\": " + std::to_string(f.column) +
            ", \"message\": " + JsonString(f.text) + "}";
  }
  json += found.listed.empty() ? "]" : "\n  ]";
  json += ", \"unlisted\": {";
  for (const auto& [kind, count] : found.unlisted) {
    json += (kind == found.unlisted.front().first ? "" : ", ") + JsonString(kind) + ": " +
            std::to_string(count);
  }
  return json + "}}";
}

ExitCode Run(const CCliOptions& o, std::ostream& out, std::ostream& err) {
  CMessages messages(err, o.quiet);
  bool clean = true;
  bool unreadable = false;
  std::string json;
  for (const std::string& input : o.inputs) {
    CFindings found;
    bool failedRead = false;
    if (!ReportingFailures(
            input, messages,
            [&] {
              found = CheckFile(o, input, messages);
              return true;
            },
            &failedRead)) {
      unreadable = unreadable || failedRead;
      clean = false;
      continue;
    }
    if (!found.listed.empty() || !found.unlisted.empty()) clean = false;
    if (!o.json) {
      PrintText(input, found, out);
    } else {
      json += (json.empty() ? "" : ",\n") + JsonFindings(input, found);
    }
  }
  if (o.json) out << "{\"files\": [\n" << json << (json.empty() ? "" : "\n") << "]}\n";
  if (unreadable) return ExitCode::Usage;  // 2: a file could not be read
  return clean ? ExitCode::Success : ExitCode::Failed;
}

}  // namespace

extern const CCommand kCheckCommand = {"check",
                                       "FILE...",
                                       "list problems of TTX files as FILE:LINE:COLUMN: lines",
                                       Bit(Option::Direction) | Bit(Option::AllWarnings) |
                                           Bit(Option::Json) | Bit(Option::Quiet) |
                                           Bit(Option::Recursive),
                                       "ttx",
                                       &Help,
                                       &Check,
                                       &Run};

}  // namespace tagvert::cli
