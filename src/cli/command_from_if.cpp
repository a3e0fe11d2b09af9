// Tagvert: the command from-if: translated IF back to TTX, one input or a batch.
// SPDX-License-Identifier: Apache-2.0
#include "cli/batch.h"
#include "cli/command_table.h"
#include "cli/conversion.h"

namespace tagvert::cli {

namespace {

std::string Help() {
  return std::string(
             "Usage: tagvert from-if FILE... [-r] [-o OUTPUT | -O DIR] [-j N] [--against IF] "
             "[--strict]\n"
             "                       [--all-warnings]\n"
             "\n"
             "Converts translated IF files back into TTX documents, written as UTF-8 with a\n"
             "byte-order mark. The default output drops .if and puts .out before the\n"
             "extension (doc.ttx.if and doc.if give doc.out.ttx); - reads standard input.\n"
             "\n") +
         kConversionOptionsHelp +
         "  --against FILE         the IF sent to the kernel: every tag of it must come back\n"
         "  --strict               tag damage, or an input cut at an odd byte, is an error:\n"
         "                         exit 1 and no output\n"
         "  --all-warnings         list every tag problem, not the first 100 of each kind\n"
         "\n"
         "An input that does not begin with the IF header is refused unless --force is\n"
         "given. Each IF is checked as it streams: every paired start tag meets its end\n"
         "tag (same pair id, properly nested) and no tag group appears twice; with\n"
         "--against every tag group of the sent IF is present exactly once and no inline\n"
         "tag moved across a block boundary. Each problem is a warning naming the tag, its\n"
         "line and column in the TTX written back and its translation unit with the first\n"
         "words ('line 9, column 41 of the TTX written back, translation unit 3 (\"Click\n"
         "here\"): tag <b>, pair 0x0067: no end tag'); a tag missing from the translation\n"
         "is named where it stands in the TTX the sent IF gives back. One damage gives\n"
         "the same warnings with and without --against. Of each kind the first 100 of a\n"
         "file are listed and one warning counts the rest.\n" +
         kBatchHelp;
}

std::string Check(const CCliOptions& o) {
  return CheckConversionArguments(o, false);
}

ExitCode Run(const CCliOptions& o, std::ostream&, std::ostream& err) {
  return o.inputs.size() > 1 ? RunBatch(o, false, err) : RunConversion(o, false, err);
}

}  // namespace

extern const CCommand kFromIfCommand = {
    "from-if",
    "FILE...",
    "convert translated IF files back to TTX",
    Bit(Option::Output) | Bit(Option::OutputDir) | Bit(Option::Jobs) | Bit(Option::KeepGoing) |
        Bit(Option::Force) | Bit(Option::Against) | Bit(Option::Strict) | Bit(Option::AllWarnings) |
        Bit(Option::Quiet) | Bit(Option::Events) | Bit(Option::Recursive),
    "if",
    &Help,
    &Check,
    &Run};

}  // namespace tagvert::cli
