// Tagvert: the one table of the command's commands and options. The parser (cli/arguments.cpp)
// reads the options and the command names from it and refuses the options a command does not
// take; the tool's help lists its commands; a test checks each command's help, and the man page
// and the bash completion (share/), against it. Adding a command: a row in Commands()
// (command_table.cpp) and one file command_NAME.cpp that defines its CCommand.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "cli/arguments.h"

namespace tagvert::cli {

/// The options of the command line.
enum class Option : std::uint8_t {
  Output,
  OutputDir,
  Jobs,
  KeepGoing,
  Force,
  Direction,
  Against,
  Strict,
  AllWarnings,
  Json,
  Codes,
  Quiet,
  Events,
  Recursive,
  Colour,
  Help,
  Version,
  Xliff,
  CopySource,
  ExactLanguage,
};

/// `option` as a member of an OptionSet.
constexpr OptionSet Bit(Option option) {
  return OptionSet{1} << static_cast<unsigned>(option);
}

/// The options that every command takes besides its own: the help, the version, and the two
/// that only change what is said on standard error.
inline constexpr OptionSet kEveryCommand =
    Bit(Option::Help) | Bit(Option::Version) | Bit(Option::Quiet) | Bit(Option::Events);

/// An option: its names and how its value is read.
struct COption {
  Option id;
  const char* shortName;  ///< "-o"; nullptr when it has none
  const char* longName;   ///< "--output"
  /// What the option needs when its value is missing ("a file name"); nullptr for a flag.
  const char* needs;
  /// Whether the value may follow the short name in the same word ("-j4").
  bool attached;
  /// Stores the option in `o`, given as `arg` with `value` (empty for a flag). Returns the usage
  /// error, empty when the value is good.
  std::string (*take)(CCliOptions& o, const std::string& arg, const std::string& value);
};

/// A command: its name, what its help and the completion say of it, and its runner.
struct CCommand {
  const char* name;      ///< "to-if"
  const char* operands;  ///< what follows the name in the tool's help ("FILE...")
  const char* summary;   ///< its line in the tool's help
  OptionSet options;     ///< the options it takes besides kEveryCommand, as its help lists them
  /// The files the completion offers: an extension ("ttx", "if"), "" for any file, nullptr for
  /// none.
  const char* files;
  std::string (*help)();  ///< its help text (tagvert NAME --help)
  /// The arguments that do not fit the command (options it does not take, the wrong number of
  /// files): the sentence that refuses them, empty when there is none.
  std::string (*check)(const CCliOptions& o);
  ExitCode (*run)(const CCliOptions& o, std::ostream& out, std::ostream& err);
};

/// The commands, in the order of the tool's help.
std::span<const CCommand* const> Commands();

/// The options.
std::span<const COption> Options();

/// The command named `name`; nullptr for none.
const CCommand* FindCommand(std::string_view name);

/// Whether `o` gives an option that its command does not take.
bool GivesOtherOptions(const CCliOptions& o);

}  // namespace tagvert::cli
