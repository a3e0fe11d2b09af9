// Tagvert: the command line's arguments.
// SPDX-License-Identifier: Apache-2.0
#include "cli/arguments.h"

#include <cstdlib>
#include <ostream>

#include "cli/document_scan.h"
#include "storage/char_class.h"
#include "storage/language_table.h"
#include "storage/number_text.h"

namespace tagvert::cli {

namespace {

std::optional<Command> CommandByName(const std::string& name) {
  if (name == "to-if") return Command::ToIf;
  if (name == "from-if") return Command::FromIf;
  if (name == "detect") return Command::Detect;
  if (name == "info") return Command::Info;
  if (name == "languages") return Command::Languages;
  if (name == "show") return Command::Show;
  if (name == "stats") return Command::Stats;
  if (name == "pseudo") return Command::Pseudo;
  if (name == "check") return Command::Check;
  return std::nullopt;
}

// A decimal or "0x" hexadecimal number of up to 32 bits, the bits taken as a signed value.
std::optional<std::int32_t> ParseNumber(const std::string& text) {
  const auto value = NumberParseUnsigned(std::string_view(text), 0xFFFFFFFF);
  if (!value) return std::nullopt;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(*value));
}

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

}  // namespace

std::optional<std::int32_t> ParseDirection(const std::string& text) {
  if (auto number = ParseNumber(text)) return number;
  return DirectionOfLanguage(Utf8ToUtf16(text));
}

std::string KnownLanguageTags() {
  std::string tags;
  for (const CLanguageEntry& entry : LanguageTable()) {
    const std::string tag = Utf16ToUtf8(entry.tag);
    // Two codes share en-us; list each tag once.
    if (tags.find(tag) != std::string::npos) continue;
    if (!tags.empty()) tags += ", ";
    tags += tag;
  }
  return tags;
}

std::string DefaultToIfOutput(const std::string& input) {
  return input + ".if";
}

namespace {

std::string::size_type LastSeparator(const std::string& path, bool backslash) {
  return path.find_last_of(backslash ? "/\\" : "/");
}

}  // namespace

std::string OutputInFolder(const std::string& dir, const std::string& output, bool backslash) {
  const auto slash = LastSeparator(output, backslash);
  std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
  if (dir.empty()) return base;
  const char last = dir.back();
  if (last == '/' || (backslash && last == '\\')) return dir + base;
  return dir + (backslash ? "\\" : "/") + base;
}

namespace {

// `stem` with `infix` put before its extension, or with infix and ".ttx" appended when it has
// none. A dot in a folder name or at the start of a file name is no extension.
std::string BeforeExtension(const std::string& stem, const std::string& infix, bool backslash) {
  const auto slash = LastSeparator(stem, backslash);
  const auto dot = stem.find_last_of('.');
  const bool hasExtension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  if (!hasExtension) return stem + infix + ".ttx";
  return stem.substr(0, dot) + infix + stem.substr(dot);
}

}  // namespace

std::string DefaultFromIfOutput(const std::string& input, bool backslash) {
  std::string stem = input;
  const std::size_t ext = 3;  // ".if", in any letter case
  if (stem.size() >= ext &&
      StringEqualsNoCase(Utf8ToUtf16(std::string_view(stem).substr(stem.size() - ext)), u".if")) {
    stem.resize(stem.size() - ext);
  }
  return BeforeExtension(stem, ".out", backslash);
}

std::string DefaultPseudoOutput(const std::string& input, bool backslash) {
  return BeforeExtension(input, ".pseudo", backslash);
}

ExitCode UsageError(std::ostream& err, const std::string& sentence, bool pointToHelp) {
  err << "tagvert: " << sentence << (pointToHelp ? " Try 'tagvert --help'.\n" : "\n");
  return ExitCode::Usage;
}

CParseResult ParseArguments(const std::vector<std::string>& args) {
  CParseResult result;
  CCliOptions& o = result.options;
  bool optionsEnded = false;
  auto fail = [&result](std::string message) {
    result.error = std::move(message);
    return result;
  };

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto takeValue = [&](const std::string& name, std::string& value) -> bool {
      const std::string eq = name + "=";
      if (a.starts_with(eq)) {
        value = a.substr(eq.size());
        return true;
      }
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };

    if (!optionsEnded && a == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (a == "-h" || a == "--help")) {
      o.help = true;
    } else if (!optionsEnded && a == "--version") {
      o.version = true;
    } else if (!optionsEnded && (a == "-q" || a == "--quiet")) {
      o.quiet = true;
    } else if (!optionsEnded && a == "--events") {
      o.events = true;
    } else if (!optionsEnded && (a == "-o" || a == "--output" || a.starts_with("--output="))) {
      std::string value;
      if (!takeValue("--output", value)) return fail("option " + a + " needs a file name.");
      if (value.empty()) return fail("option " + a + " needs a file name.");
      o.output = value;
    } else if (!optionsEnded && (a == "--direction" || a.starts_with("--direction="))) {
      std::string value;
      if (!takeValue("--direction", value)) return fail("option --direction needs a value.");
      o.direction = ParseDirection(value);
      if (!o.direction) {
        std::string message =
            "'" + value + "' is not a direction: give a decimal or 0x hexadecimal number";
        const std::string tags = KnownLanguageTags();
        if (!tags.empty()) message += " or one of the language tags " + tags;
        return fail(message + ".");
      }
    } else if (!optionsEnded &&
               (a == "-O" || a == "--output-dir" || a.starts_with("--output-dir="))) {
      std::string value;
      if (!takeValue("--output-dir", value) || value.empty()) {
        return fail("option " + a + " needs a folder name.");
      }
      o.outputDir = value;
    } else if (!optionsEnded && (a == "-j" || a == "--jobs" || a.starts_with("--jobs=") ||
                                 (a.starts_with("-j") && a.size() > 2))) {
      std::string value;
      if (a.starts_with("-j") && a.size() > 2) {
        value = a.substr(2);
      } else if (!takeValue("--jobs", value)) {
        return fail("option " + a + " needs a number.");
      }
      const auto jobs = ParseNumber(value);
      if (!jobs || *jobs < 1 || value.starts_with("0x") || value.starts_with("0X")) {
        return fail("'" + value + "' is not a number of jobs: give a whole number from 1.");
      }
      o.jobs = static_cast<unsigned>(*jobs);
    } else if (!optionsEnded && (a == "-k" || a == "--keep-going")) {
      o.keepGoing = true;
    } else if (!optionsEnded && (a == "-f" || a == "--force")) {
      o.force = true;
    } else if (!optionsEnded && (a == "--against" || a.starts_with("--against="))) {
      std::string value;
      if (!takeValue("--against", value) || value.empty()) {
        return fail("option --against needs a file name.");
      }
      o.against = value;
    } else if (!optionsEnded && a == "--strict") {
      o.strict = true;
    } else if (!optionsEnded && a == "--all-warnings") {
      o.allWarnings = true;
    } else if (!optionsEnded && a == "--json") {
      o.json = true;
    } else if (!optionsEnded && a == "--codes") {
      o.codes = true;
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      return fail("unknown option '" + a + "'.");
    } else if (o.command == Command::None) {
      const auto command = CommandByName(a);
      if (!command) return fail("unknown command '" + a + "'.");
      o.command = *command;
    } else {
      o.inputs.push_back(a);
    }
  }

  if (o.help || o.version) return result;
  if (o.allWarnings && o.command != Command::FromIf && o.command != Command::Check &&
      o.command != Command::None) {
    return fail("--all-warnings applies only to from-if and check.");
  }
  switch (o.command) {
    case Command::None:
      return fail("no command given.");
    case Command::ToIf:
    case Command::FromIf:
      if (o.inputs.empty()) return fail("no input file given.");
      if (o.codes) return fail("--codes applies only to show.");
      if (o.json) return fail("--json applies only to stats.");
      if (o.against && o.command == Command::ToIf)
        return fail("--against applies only to from-if.");
      if (o.against && o.inputs.size() > 1) {
        return fail("--against names the IF sent for one input; convert one file with it.");
      }
      if (o.direction && o.command == Command::FromIf) {
        return fail("--direction applies only to to-if.");
      }
      if (o.output && o.outputDir) return fail("give either -o or -O, not both.");
      if (o.output && o.inputs.size() > 1) {
        return fail("-o names the output of one input; give -O DIR for several inputs.");
      }
      if (o.inputs.size() > 1) {
        for (const std::string& input : o.inputs) {
          if (input == "-") return fail("standard input (-) can only be converted alone.");
        }
      }
      if (o.outputDir && o.inputs.front() == "-") {
        return fail("standard input has no file name to put into -O DIR; give -o.");
      }
      break;
    case Command::Pseudo:
      if (o.inputs.empty()) return fail("no file given to pseudo-translate.");
      if (o.jobs != 0 || o.keepGoing || o.against || o.strict || o.codes || o.json) {
        return fail("pseudo takes files, -o, -O, --direction and --force.");
      }
      if (o.output && o.outputDir) return fail("give either -o or -O, not both.");
      if (o.output && o.inputs.size() > 1) {
        return fail("-o names the output of one input; give -O DIR for several inputs.");
      }
      for (const std::string& input : o.inputs) {
        if (input == "-") return fail("pseudo reads files, not standard input.");
      }
      break;
    case Command::Check:
      if (o.inputs.empty()) return fail("no file given to check.");
      if (o.output || o.outputDir || o.jobs != 0 || o.keepGoing || o.against || o.strict ||
          o.codes || o.json || o.force) {
        return fail("check takes files and --direction.");
      }
      break;
    case Command::Stats:
      if (o.inputs.empty()) return fail("no file given to count.");
      if (o.output || o.outputDir || o.jobs != 0 || o.keepGoing || o.against || o.strict ||
          o.codes) {
        return fail("stats takes files, --json, --direction and --force.");
      }
      break;
    case Command::Show:
      if (o.json) return fail("--json applies only to stats.");
      if (o.inputs.size() != 1) return fail("show takes one file.");
      if (o.output || o.outputDir || o.jobs != 0 || o.keepGoing || o.against || o.strict) {
        return fail("show writes to standard output and takes no -o, -O, -j or --keep-going.");
      }
      break;
    case Command::Detect:
      if (o.inputs.empty()) return fail("no file given to detect.");
      if (o.output || o.direction || o.outputDir || o.jobs != 0 || o.keepGoing || o.force ||
          o.codes || o.against || o.strict || o.json) {
        return fail("detect takes only file names.");
      }
      break;
    case Command::Info:
    case Command::Languages:
      if (!o.inputs.empty() || o.output || o.direction || o.outputDir || o.jobs != 0 ||
          o.keepGoing || o.force || o.codes || o.against || o.strict || o.json) {
        return fail(std::string(o.command == Command::Info ? "info" : "languages") +
                    " takes no arguments.");
      }
      break;
  }
  return result;
}

std::string UsageText() {
  return "Usage: tagvert COMMAND [OPTIONS]\n"
         "\n"
         "Converts TTX documents (TagEditor XML) into the internal format (IF) of the\n"
         "translation kernel and translated IF back into TTX.\n"
         "\n"
         "Commands:\n"
         "  to-if FILE...     convert TTX files to IF\n"
         "  from-if FILE...   convert translated IF files back to TTX\n"
         "  show FILE         show an IF (or the IF of a TTX file) as a person reads it\n"
         "  pseudo FILE...    pseudo-translate TTX files (TTX -> IF -> TTX)\n"
         "  check FILE...     list problems of TTX files as FILE:LINE:COLUMN: lines\n"
         "  stats FILE...     count units, matched units, text runs, words and tags\n"
         "  detect FILE...    tell whether files are TTX\n"
         "  languages         list the target languages the kernel knows\n"
         "  info              show the converter's identity\n"
         "\n"
         "Options:\n"
         "  -h, --help        describe a command (tagvert COMMAND --help)\n"
         "  --version         print the version\n"
         "\n"
         "Exit status: 0 on success, 1 when a conversion or detection fails, 2 for a usage\n"
         "error.\n";
}

namespace {

// The options of to-if and from-if, one line each.
constexpr char kConversionOptions[] =
    "  -o, --output FILE      the output of a single input; - writes standard output\n"
    "  -O, --output-dir DIR   write every output into DIR (made when missing)\n"
    "  -j, --jobs N           convert N files at a time (default: one per processor core)\n"
    "  -k, --keep-going       try every input even after one failed\n"
    "  -f, --force            convert an input that does not look like the expected format\n"
    "  -q, --quiet            no progress line, no summary and no warnings\n"
    "  --events               print every conversion event on standard error (one input)\n"
    "  -h, --help             show this help\n";

constexpr char kBatchText[] =
    "\n"
    "Several inputs make a batch: each file is converted by a converter of its own, N at a\n"
    "time. Without --keep-going the first failure stops the batch: conversions under way are\n"
    "stopped and leave no output, files converted before keep theirs. On a terminal one\n"
    "progress line follows the batch; a summary ends it. Two inputs that would write the\n"
    "same output are refused before anything starts. Every output is written to a temporary\n"
    "file beside it and renamed over it only when its conversion succeeded; an input is\n"
    "never overwritten. Exit status 1 when any file failed.\n";

}  // namespace

std::string CommandHelp(Command command) {
  switch (command) {
    case Command::ToIf:
      return std::string(
                 "Usage: tagvert to-if FILE... [-o OUTPUT | -O DIR] [-j N] [--direction VALUE] "
                 "[--strict]\n"
                 "\n"
                 "Converts TTX documents (UTF-8 or UTF-16, by the byte-order mark; UTF-8\n"
                 "without one) into IF (UTF-16 little-endian), by default FILE.if beside each\n"
                 "input; - reads standard input and writes standard output.\n"
                 "\n"
                 "  --direction VALUE      target language: a number (high 16 bits) or a tag\n") +
             kConversionOptions +
             "  --strict               a UTF-16 input cut at an odd byte is an error: exit 1 and\n"
             "                         no output (else a warning)\n"
             "\n"
             "Without --direction the target language is the TargetLanguage of the document's\n"
             "first UserSettings when 'tagvert languages' lists it (letter case aside); else\n"
             "every Tuv is carried untranslated, with a warning. A warning also names the\n"
             "languages of the document's Tuvs when none is the target language. An input\n"
             "that is not TTX (no TRADOStag start tag among its first items) is refused\n"
             "unless --force is given. Warnings never change the exit status.\n" +
             kBatchText + "\nLanguage tags (either letter case):\n" +
             WrapList(KnownLanguageTags()) + "\n";
    case Command::FromIf:
      return std::string(
                 "Usage: tagvert from-if FILE... [-o OUTPUT | -O DIR] [-j N] [--against IF] "
                 "[--strict]\n"
                 "                       [--all-warnings]\n"
                 "\n"
                 "Converts translated IF files back into TTX documents, written as UTF-8 with a\n"
                 "byte-order mark. The default output drops .if and puts .out before the\n"
                 "extension (doc.ttx.if and doc.if give doc.out.ttx); - reads standard input.\n"
                 "\n") +
             kConversionOptions +
             "  --against FILE         the IF sent to the kernel: every tag of it must come back\n"
             "  --strict               tag damage, or an input cut at an odd byte, is an error:\n"
             "                         exit 1 and no output\n"
             "  --all-warnings         list every tag problem, not the first 100 of each kind\n"
             "\n"
             "An input that does not begin with the IF header is refused unless --force is\n"
             "given. Each IF is checked as it streams: every paired start tag meets its end\n"
             "tag (same pair id, properly nested) and no tag group appears twice; with\n"
             "--against every tag group of the sent IF is present exactly once and no inline\n"
             "tag moved across a block boundary. Each problem is a warning naming the tag and\n"
             "its position in units ('unit 41: tag <b>, pair 0x0067: no end tag'). Of each\n"
             "kind the first 100 of a file are listed and one warning counts the rest.\n" +
             kBatchText;
    case Command::Show:
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
    case Command::Pseudo:
      return "Usage: tagvert pseudo FILE... [-o OUTPUT | -O DIR] [--direction VALUE]\n"
             "\n"
             "The localization smoke test: converts each TTX document to IF, gives every text\n"
             "run accented letters, 30% more length and brackets ([Ŧĥé qüíçķ ƀŕöŵñ ƒöx······]),\n"
             "leaves every code as it is, and converts the result back to TTX, by default\n"
             "FILE with .pseudo before its extension (doc.ttx gives doc.pseudo.ttx).\n"
             "\n"
             "  -o, --output FILE      the output of a single input\n"
             "  -O, --output-dir DIR   write every output into DIR (made when missing)\n"
             "  --direction VALUE      target language (as for to-if)\n"
             "  -f, --force            pseudo-translate a FILE that does not look like TTX\n"
             "  -q, --quiet            no notes and no warnings\n"
             "  -h, --help             show this help\n";
    case Command::Check:
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
    case Command::Stats:
      return "Usage: tagvert stats FILE... [--json] [--direction VALUE]\n"
             "\n"
             "Counts per TTX document and in total: translation units (Tu), units already\n"
             "matched (MatchPercent other than 0), and in the IF the kernel will get for the\n"
             "target language (chosen as by to-if): text runs, words and tags. A word is a run\n"
             "of letters and digits; each CJK character (ideograph, kana, Hangul syllable) is a\n"
             "word of its own.\n"
             "\n"
             "  --json                 the figures as one JSON object\n"
             "  --direction VALUE      target language (as for to-if)\n"
             "  -f, --force            count a FILE that does not look like TTX anyway\n"
             "  -q, --quiet            no notes and no warnings\n"
             "  -h, --help             show this help\n";
    case Command::Detect:
      return "Usage: tagvert detect FILE...\n"
             "\n"
             "Prints one line per file: 'FILE: TTX', 'FILE: not TTX' or 'FILE: error: CAUSE'.\n"
             "A file is TTX when one of its first six items is the TRADOStag root tag.\n"
             "Exit status 0 when every file is TTX, 1 otherwise.\n"
             "\n"
             "  -h, --help             show this help\n";
    case Command::Languages:
      return "Usage: tagvert languages\n"
             "\n"
             "Lists the kernel's language table: the tag, the language code and the value of\n"
             "--direction that selects it as the target language. A Tuv is translated when\n"
             "its Lang is the tag in capitals.\n"
             "\n"
             "  -h, --help             show this help\n";
    case Command::Info:
      return "Usage: tagvert info\n"
             "\n"
             "Prints the converter's name, default extension, filter, MIME type, format id,\n"
             "target id, both availability flags and its property table.\n"
             "\n"
             "  -h, --help             show this help\n";
    case Command::None:
      break;
  }
  return UsageText();
}

}  // namespace tagvert::cli
