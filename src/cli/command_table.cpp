// Tagvert: the table of the command's commands and options.
// SPDX-License-Identifier: Apache-2.0
#include "cli/command_table.h"

#include "storage/number_text.h"

namespace tagvert::cli {

// The commands, each defined in its own command_NAME.cpp.
extern const CCommand kToIfCommand;
extern const CCommand kFromIfCommand;
extern const CCommand kShowCommand;
extern const CCommand kPseudoCommand;
extern const CCommand kCheckCommand;
extern const CCommand kStatsCommand;
extern const CCommand kDetectCommand;
extern const CCommand kLanguagesCommand;
extern const CCommand kInfoCommand;
#ifdef TAGVERT_WITH_XLIFF
extern const CCommand kToXliffCommand;
extern const CCommand kFromXliffCommand;
#endif

namespace {

constexpr const CCommand* kCommands[] = {
    &kToIfCommand,    &kFromIfCommand,    &kShowCommand,      &kPseudoCommand, &kCheckCommand,
    &kStatsCommand,   &kDetectCommand,    &kLanguagesCommand, &kInfoCommand,
#ifdef TAGVERT_WITH_XLIFF
    &kToXliffCommand, &kFromXliffCommand,
#endif
};

// A flag's row: `member` of CCliOptions set to true.
template <bool CCliOptions::*member>
std::string SetFlag(CCliOptions& o, const std::string&, const std::string&) {
  o.*member = true;
  return {};
}

std::string TakeOutput(CCliOptions& o, const std::string& arg, const std::string& value) {
  if (value.empty()) return "option " + arg + " needs a file name.";
  o.output = value;
  return {};
}

std::string TakeOutputDir(CCliOptions& o, const std::string& arg, const std::string& value) {
  if (value.empty()) return "option " + arg + " needs a folder name.";
  o.outputDir = value;
  return {};
}

std::string TakeJobs(CCliOptions& o, const std::string&, const std::string& value) {
  const auto jobs = NumberParseUnsigned(std::string_view(value), 0xFFFFFFFF);
  if (!jobs || *jobs < 1 || *jobs > 0x7FFFFFFF || value.starts_with("0x") ||
      value.starts_with("0X")) {
    return "'" + value + "' is not a number of jobs: give a whole number from 1.";
  }
  o.jobs = static_cast<unsigned>(*jobs);
  return {};
}

std::string TakeDirection(CCliOptions& o, const std::string&, const std::string& value) {
  o.direction = ParseDirection(value);
  if (o.direction) return {};
  std::string message =
      "'" + value + "' is not a direction: give a decimal or 0x hexadecimal number";
  const std::string tags = KnownLanguageTags();
  if (!tags.empty()) message += " or one of the language tags " + tags;
  return message + ".";
}

std::string TakeAgainst(CCliOptions& o, const std::string&, const std::string& value) {
  if (value.empty()) return "option --against needs a file name.";
  o.against = value;
  return {};
}

std::string TakeQuiet(CCliOptions& o, const std::string&, const std::string&) {
  ++o.quiet;
  return {};
}

std::string TakeColour(CCliOptions& o, const std::string&, const std::string& value) {
  if (value == "auto") {
    o.colour = ColourChoice::Auto;
  } else if (value == "always") {
    o.colour = ColourChoice::Always;
  } else if (value == "never") {
    o.colour = ColourChoice::Never;
  } else {
    return "'" + value + "' is not a colour choice: give auto, always or never.";
  }
  return {};
}

std::string TakeXliff(CCliOptions& o, const std::string&, const std::string& value) {
  if (value != "1.2" && value != "2.0" && value != "1" && value != "2") {
    return "'" + value + "' is not an XLIFF version: give 1.2 or 2.0.";
  }
  o.xliff2 = value.starts_with('2');
  return {};
}

constexpr COption kOptions[] = {
    {Option::Output, "-o", "--output", "a file name", false, &TakeOutput},
    {Option::OutputDir, "-O", "--output-dir", "a folder name", false, &TakeOutputDir},
    {Option::Jobs, "-j", "--jobs", "a number", true, &TakeJobs},
    {Option::KeepGoing, "-k", "--keep-going", nullptr, false, &SetFlag<&CCliOptions::keepGoing>},
    {Option::Force, "-f", "--force", nullptr, false, &SetFlag<&CCliOptions::force>},
    {Option::Direction, nullptr, "--direction", "a value", false, &TakeDirection},
    {Option::Against, nullptr, "--against", "a file name", false, &TakeAgainst},
    {Option::Strict, nullptr, "--strict", nullptr, false, &SetFlag<&CCliOptions::strict>},
    {Option::AllWarnings, nullptr, "--all-warnings", nullptr, false,
     &SetFlag<&CCliOptions::allWarnings>},
    {Option::Json, nullptr, "--json", nullptr, false, &SetFlag<&CCliOptions::json>},
    {Option::Codes, nullptr, "--codes", nullptr, false, &SetFlag<&CCliOptions::codes>},
    {Option::Quiet, "-q", "--quiet", nullptr, false, &TakeQuiet},
    {Option::Events, nullptr, "--events", nullptr, false, &SetFlag<&CCliOptions::events>},
    {Option::Recursive, "-r", "--recursive", nullptr, false, &SetFlag<&CCliOptions::recursive>},
    {Option::Colour, nullptr, "--color", "auto, always or never", false, &TakeColour},
    {Option::Help, "-h", "--help", nullptr, false, &SetFlag<&CCliOptions::help>},
    {Option::Version, nullptr, "--version", nullptr, false, &SetFlag<&CCliOptions::version>},
    {Option::Xliff, nullptr, "--xliff", "a version", false, &TakeXliff},
    {Option::CopySource, nullptr, "--copy-source", nullptr, false,
     &SetFlag<&CCliOptions::copySource>},
    {Option::ExactLanguage, nullptr, "--exact-language", nullptr, false,
     &SetFlag<&CCliOptions::exactLanguage>},
};

}  // namespace

std::span<const CCommand* const> Commands() {
  return kCommands;
}

std::span<const COption> Options() {
  return kOptions;
}

const CCommand* FindCommand(std::string_view name) {
  for (const CCommand* command : kCommands) {
    if (name == command->name) return command;
  }
  return nullptr;
}

bool GivesOtherOptions(const CCliOptions& o) {
  return (o.given & ~(o.command->options | kEveryCommand)) != 0;
}

}  // namespace tagvert::cli
