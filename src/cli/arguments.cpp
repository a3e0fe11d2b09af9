// Tagvert: the command line's arguments.
// SPDX-License-Identifier: Apache-2.0
#include "cli/arguments.h"

#include <cstdlib>

#include "rules/ttx_rules_processor.h"
#include "storage/char_class.h"

namespace tagvert::cli {

namespace {

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char a = s[s.size() - suffix.size() + i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != suffix[i]) return false;
  }
  return true;
}

std::optional<Command> CommandByName(const std::string& name) {
  if (name == "to-if") return Command::ToIf;
  if (name == "from-if") return Command::FromIf;
  if (name == "detect") return Command::Detect;
  if (name == "info") return Command::Info;
  return std::nullopt;
}

std::optional<std::int32_t> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  size_t i = 0;
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > 0xFFFFFFFFULL) return std::nullopt;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
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
  const std::u16string tag = Utf8ToUtf16(text);
  for (const CLanguageEntry& entry : CTTXRulesProcessor::LanguageTable()) {
    if (StringEqualsNoCase(tag, entry.tag)) {
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(entry.code) << 16);
    }
  }
  return std::nullopt;
}

std::string KnownLanguageTags() {
  std::string tags;
  for (const CLanguageEntry& entry : CTTXRulesProcessor::LanguageTable()) {
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

std::string DefaultFromIfOutput(const std::string& input) {
  std::string stem = input;
  if (EndsWithNoCase(stem, ".if")) stem.resize(stem.size() - 3);
  const auto slash = stem.find_last_of('/');
  const auto dot = stem.find_last_of('.');
  const bool hasExtension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  if (!hasExtension) return stem + ".out.ttx";
  return stem.substr(0, dot) + ".out" + stem.substr(dot);
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
  switch (o.command) {
    case Command::None:
      return fail("no command given.");
    case Command::ToIf:
    case Command::FromIf:
      if (o.inputs.empty()) return fail("no input file given.");
      if (o.inputs.size() > 1) return fail("only one input file can be converted at a time.");
      if (o.direction && o.command == Command::FromIf) {
        return fail("--direction applies only to to-if.");
      }
      break;
    case Command::Detect:
      if (o.inputs.empty()) return fail("no file given to detect.");
      if (o.output || o.direction) return fail("detect takes only file names.");
      break;
    case Command::Info:
      if (!o.inputs.empty() || o.output || o.direction) return fail("info takes no arguments.");
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
         "  to-if INPUT [-o OUTPUT] [--direction VALUE]   convert a TTX file to IF\n"
         "  from-if INPUT [-o OUTPUT]                     convert an IF file back to TTX\n"
         "  detect FILE...                                tell whether files are TTX\n"
         "  info                                          show the converter's identity\n"
         "\n"
         "Options:\n"
         "  -h, --help      describe a command (tagvert COMMAND --help)\n"
         "  --version       print the version\n"
         "\n"
         "Exit status: 0 on success, 1 when a conversion or detection fails, 2 for a usage\n"
         "error.\n";
}

std::string CommandHelp(Command command) {
  switch (command) {
    case Command::ToIf:
      return "Usage: tagvert to-if INPUT [-o OUTPUT] [--direction VALUE] [--quiet] [--events]\n"
             "\n"
             "Converts the TTX document INPUT (UTF-8 or UTF-16, by its byte-order mark; UTF-8\n"
             "without one) into IF (UTF-16 little-endian).\n"
             "\n"
             "  INPUT               the TTX file; - reads standard input\n"
             "  -o, --output FILE   the IF file to write; - writes standard output.\n"
             "                      Default: INPUT with .if appended (standard output when\n"
             "                      INPUT is -)\n"
             "  --direction VALUE   the kernel's translation direction: a decimal or 0x\n"
             "                      hexadecimal number whose high 16 bits name the target\n"
             "                      language, or a language tag such as de-de. Default 0\n"
             "                      (unknown target: every Tuv is carried untranslated)\n"
             "  -q, --quiet         no progress bar and no summary line\n"
             "  --events            print every conversion event on standard error\n"
             "\n"
             "The output is written to a temporary file beside OUTPUT and renamed over it only\n"
             "when the conversion succeeded; the input file is never overwritten. Ctrl-C stops\n"
             "the conversion and leaves no output file.\n"
             "\n"
             "Language tags (either letter case):\n" +
             WrapList(KnownLanguageTags()) + "\n";
    case Command::FromIf:
      return "Usage: tagvert from-if INPUT [-o OUTPUT] [--quiet] [--events]\n"
             "\n"
             "Converts the translated IF file INPUT back into a TTX document, written as UTF-8\n"
             "with a byte-order mark.\n"
             "\n"
             "  INPUT               the IF file; - reads standard input\n"
             "  -o, --output FILE   the TTX file to write; - writes standard output.\n"
             "                      Default: INPUT with .if dropped and .out put before the\n"
             "                      extension (doc.ttx.if and doc.if give doc.out.ttx), so the\n"
             "                      source document is never overwritten\n"
             "  -q, --quiet         no progress bar and no summary line\n"
             "  --events            print every conversion event on standard error\n"
             "\n"
             "The output is written to a temporary file beside OUTPUT and renamed over it only\n"
             "when the conversion succeeded; the output is never the input.\n";
    case Command::Detect:
      return "Usage: tagvert detect FILE...\n"
             "\n"
             "Prints one line per file: 'FILE: TTX', 'FILE: not TTX' or 'FILE: error: CAUSE'.\n"
             "A file is TTX when one of its first six items is the TRADOStag root tag.\n"
             "Exit status 0 when every file is TTX, 1 otherwise.\n";
    case Command::Info:
      return "Usage: tagvert info\n"
             "\n"
             "Prints the converter's name, default extension, filter, MIME type, format id,\n"
             "target id, both availability flags and its property table.\n";
    case Command::None:
      break;
  }
  return UsageText();
}

}  // namespace tagvert::cli
