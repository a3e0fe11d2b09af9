// Tagvert: the command line's arguments.
// SPDX-License-Identifier: Apache-2.0
#include "cli/arguments.h"

#include <cstdio>
#include <ostream>

#include "cli/command_table.h"
#include "cli/document_scan.h"
#include "storage/char_class.h"
#include "storage/language_table.h"
#include "storage/number_text.h"

namespace tagvert::cli {

std::optional<std::int32_t> ParseDirection(const std::string& text) {
  // A decimal or "0x" hexadecimal number of up to 32 bits, the bits taken as a signed value.
  if (const auto value = NumberParseUnsigned(std::string_view(text), 0xFFFFFFFF)) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*value));
  }
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

ExitCode UsageError(std::ostream& err, const std::string& sentence, bool pointToHelp) {
  err << "tagvert: " << sentence << (pointToHelp ? " Try 'tagvert --help'.\n" : "\n");
  return ExitCode::Usage;
}

namespace {

// The option of the table that `arg` names, in any of its forms ("-o", "--output",
// "--output=FILE", "-j4"); nullptr for none. `value` receives a value given in the same word.
const COption* MatchOption(const std::string& arg, std::optional<std::string>& value) {
  for (const COption& option : Options()) {
    if ((option.shortName != nullptr && arg == option.shortName) || arg == option.longName) {
      return &option;
    }
    if (option.needs == nullptr) continue;
    const std::string eq = std::string(option.longName) + "=";
    if (arg.starts_with(eq)) {
      value = arg.substr(eq.size());
      return &option;
    }
    if (option.attached && arg.size() > 2 && arg.starts_with(option.shortName)) {
      value = arg.substr(2);
      return &option;
    }
  }
  return nullptr;
}

// The option of the table whose short name is "-" and `letter`; nullptr for none.
const COption* ShortOption(char letter) {
  for (const COption& option : Options()) {
    if (option.shortName != nullptr && option.shortName[1] == letter) return &option;
  }
  return nullptr;
}

// Takes `option`, given as `arg` with `value`, into `o`. Returns the usage error, empty when
// there is none.
std::string TakeOption(CCliOptions& o, const COption& option, const std::string& arg,
                       const std::string& value) {
  std::string error = option.take(o, arg, value);
  if (error.empty()) o.given |= Bit(option.id);
  return error;
}

// Short options bundled in one word ("-qf", "-qq", "-kj4"): each letter a short option; one that
// takes a value takes the rest of the word, or the next argument when it is the last letter.
// `i` moves past an argument taken so. Returns the usage error, empty when there is none.
std::string TakeBundle(CCliOptions& o, const std::vector<std::string>& args, size_t& i) {
  const std::string& word = args[i];
  for (size_t at = 1; at < word.size(); ++at) {
    const COption* found = ShortOption(word[at]);
    if (found == nullptr) return "unknown option '" + word + "'.";
    const COption& option = *found;
    if (option.needs == nullptr) {
      if (std::string error = TakeOption(o, option, option.shortName, {}); !error.empty()) {
        return error;
      }
      continue;
    }
    std::string value = word.substr(at + 1);
    if (value.empty()) {
      if (i + 1 >= args.size()) {
        return "option " + std::string(option.shortName) + " needs " + option.needs + ".";
      }
      value = args[++i];
    }
    return TakeOption(o, option, option.shortName, value);
  }
  return {};
}

}  // namespace

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
    std::optional<std::string> value;
    const COption* option = optionsEnded ? nullptr : MatchOption(a, value);
    if (option != nullptr) {
      if (option->needs != nullptr && !value) {
        if (i + 1 >= args.size()) return fail("option " + a + " needs " + option->needs + ".");
        value = args[++i];
      }
      const std::string error = TakeOption(o, *option, a, value.value_or(std::string()));
      if (!error.empty()) return fail(error);
    } else if (!optionsEnded && a == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && a.size() > 2 && a[0] == '-' && a[1] != '-') {
      const std::string error = TakeBundle(o, args, i);
      if (!error.empty()) return fail(error);
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      return fail("unknown option '" + a + "'.");
    } else if (o.command == nullptr) {
      o.command = FindCommand(a);
      if (o.command == nullptr) return fail("unknown command '" + a + "'.");
    } else {
      o.inputs.push_back(a);
    }
  }

  if (o.help || o.version) return result;
  if (o.allWarnings && o.command != nullptr &&
      (o.command->options & Bit(Option::AllWarnings)) == 0) {
    return fail("--all-warnings applies only to from-if and check.");
  }
  const OptionSet xliffOnly = o.given & (Bit(Option::Xliff) | Bit(Option::CopySource));
  if (xliffOnly != 0 && o.command != nullptr && (o.command->options & xliffOnly) != xliffOnly) {
    return fail("--xliff and --copy-source apply only to to-xliff.");
  }
  if ((o.given & Bit(Option::ExactLanguage)) != 0 && o.command != nullptr &&
      (o.command->options & Bit(Option::ExactLanguage)) == 0) {
    return fail("--exact-language applies only to to-if.");
  }
  if (o.command == nullptr) return fail("no command given.");
  const std::string refused = o.command->check(o);
  if (!refused.empty()) return fail(refused);
  return result;
}

std::string UsageText() {
  std::string text =
      "Usage: tagvert COMMAND [OPTIONS]\n"
      "\n"
      "Converts TTX documents (TagEditor XML) into the internal format (IF) of the\n"
      "translation kernel and translated IF back into TTX.\n"
      "\n"
      "Commands:\n";
  for (const CCommand* command : Commands()) {
    char line[128];
    const std::string synopsis =
        std::string(command->name) + (*command->operands != '\0' ? " " : "") + command->operands;
    std::snprintf(line, sizeof line, "  %-17s %s\n", synopsis.c_str(), command->summary);
    text += line;
  }
  return text +
         "\n"
         "Options:\n"
         "  -h, --help        describe a command (tagvert COMMAND --help)\n"
         "  --version         print the version\n"
         "\n"
         "Exit status: 0 on success, 1 when a conversion or detection fails, 2 for a usage\n"
         "error.\n";
}

}  // namespace tagvert::cli
