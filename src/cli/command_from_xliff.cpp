// Tagvert: the command from-xliff: translated XLIFF merged back into TTX through the IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/command_table.h"

namespace tagvert::cli {

// The run and argument check of both XLIFF commands (command_to_xliff.cpp).
ExitCode RunXliffCommand(const CCliOptions& o, bool toXliff, std::ostream& err);
std::string CheckXliffArguments(const CCliOptions& o, bool toXliff);

namespace {

std::string Help() {
  return "Usage: tagvert from-xliff FILE.xlf... [-r] [-o OUTPUT | -O DIR] [-j N] [--strict]\n"
         "\n"
         "Merges XLIFF files written by 'tagvert to-xliff' (1.2 or 2.0) back into TTX\n"
         "documents, written as UTF-8 with a byte-order mark, through the IF and the way\n"
         "back of from-if. The default output drops .xlf and puts .out before the\n"
         "extension (doc.ttx.xlf gives doc.out.ttx); - reads standard input.\n"
         "\n"
         "  --strict               tag damage is an error: exit 1 and no output\n"
         "  -o, --output FILE      the output of a single input; - writes standard output\n"
         "  -O, --output-dir DIR   write every output into DIR (made when missing)\n"
         "  -j, --jobs N           convert N files at a time (default: one per processor core)\n"
         "  -k, --keep-going       try every input even after one failed\n"
         "  -r, --recursive        a FILE that is a folder stands for the .xlf files under it;\n"
         "                         with -O each output keeps its path below the folder\n"
         "  -q, --quiet            no notes (-qq: no warnings either)\n"
         "  -h, --help             show this help\n"
         "\n"
         "A unit's target replaces its text; a unit without a target, with an empty one or\n"
         "with one equal to its source keeps its source text. The inline codes of a target\n"
         "are mapped back to their tags by id. A code missing, doubled or unknown, or paired\n"
         "codes reordered so that they no longer nest, is tag damage: a warning naming the\n"
         "unit and the code (a missing code is put back at the end of its unit), an error\n"
         "with --strict. A standalone code may be dropped, with a warning. An XLIFF that is\n"
         "not well-formed, of another version, without the skeleton, with unknown or\n"
         "doubled unit ids, or made from another document is refused: one sentence naming\n"
         "the file, line and column, exit status 1, no output.\n";
}

std::string Check(const CCliOptions& o) {
  return CheckXliffArguments(o, false);
}

ExitCode Run(const CCliOptions& o, std::ostream&, std::ostream& err) {
  return RunXliffCommand(o, false, err);
}

}  // namespace

extern const CCommand kFromXliffCommand = {
    "from-xliff",
    "XLF...",
    "merge translated XLIFF files back into TTX",
    Bit(Option::Output) | Bit(Option::OutputDir) | Bit(Option::Jobs) | Bit(Option::KeepGoing) |
        Bit(Option::Strict) | Bit(Option::Quiet) | Bit(Option::Recursive),
    "xlf",
    &Help,
    &Check,
    &Run};

}  // namespace tagvert::cli
