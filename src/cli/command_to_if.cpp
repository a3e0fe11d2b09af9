// Tagvert: the command to-if: TTX documents to IF, one input or a batch.
// SPDX-License-Identifier: Apache-2.0
#include "cli/batch.h"
#include "cli/command_table.h"
#include "cli/conversion.h"

namespace tagvert::cli {

namespace {

// A ", "-separated list as indented lines of at most 80 columns.
std::string WrapList(const std::string& list) {
  std::string text = " ";
  size_t column = 1;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(' ', start);
    if (end == std::string::npos) end = list.size();
    const std::string word = list.substr(start, end - start);
    if (column + 1 + word.size() > 80) {
      text += "\n ";
      column = 1;
    }
    text += " " + word;
    column += 1 + word.size();
    start = end + 1;
  }
  return text;
}

std::string Help() {
  return std::string(
             "Usage: tagvert to-if FILE... [-r] [-o OUTPUT | -O DIR] [-j N] [--direction VALUE] "
             "[--strict] [--exact-language]\n"
             "\n"
             "Converts TTX documents (UTF-8 or UTF-16, by the byte-order mark; UTF-8\n"
             "without one) into IF (UTF-16 little-endian), by default FILE.if beside each\n"
             "input; - reads standard input and writes standard output.\n"
             "\n"
             "  --direction VALUE      target language: a number (high 16 bits) or a tag\n") +
         kConversionOptionsHelp +
         "  --strict               a document cut off, or a UTF-16 input cut at an odd\n"
         "                         byte, is an error: exit 1 and no output (else a warning)\n"
         "  --exact-language       translate only the Tuvs whose Lang is the target tag,\n"
         "                         as the Windows converter does\n"
         "\n"
         "Without --direction the target language is the TargetLanguage of the document's\n"
         "first UserSettings when 'tagvert languages' lists it (letter case aside; a bare\n"
         "language such as fr selects its first tag); else every Tuv is carried\n"
         "untranslated, with a warning. The Tuvs translated are those whose Lang is the\n"
         "target tag, else that tag in other letter case, else the first Lang of the\n"
         "document with the same language (fr, fr-CA) that is not its SourceLanguage. A\n"
         "warning names the languages of the document's Tuvs when none matches. An input\n"
         "that is not TTX (no TRADOStag start tag among its first items) is refused\n"
         "unless --force is given. Warnings never change the exit status.\n" +
         kBatchHelp + "\nLanguage tags (either letter case; or a bare language: fr, de, ja):\n" +
         WrapList(KnownLanguageTags()) + "\n";
}

std::string Check(const CCliOptions& o) {
  return CheckConversionArguments(o, true);
}

ExitCode Run(const CCliOptions& o, std::ostream&, std::ostream& err) {
  return o.inputs.size() > 1 ? RunBatch(o, true, err) : RunConversion(o, true, err);
}

}  // namespace

extern const CCommand kToIfCommand = {
    "to-if",
    "FILE...",
    "convert TTX files to IF",
    Bit(Option::Output) | Bit(Option::OutputDir) | Bit(Option::Jobs) | Bit(Option::KeepGoing) |
        Bit(Option::Force) | Bit(Option::Direction) | Bit(Option::Strict) | Bit(Option::Quiet) |
        Bit(Option::Events) | Bit(Option::Recursive) | Bit(Option::ExactLanguage),
    "ttx",
    &Help,
    &Check,
    &Run};

}  // namespace tagvert::cli
