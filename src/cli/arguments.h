// Tagvert: the command line's arguments (ParseArguments, made from the table of commands and
// options in cli/command_table.h) and exit statuses.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tagvert::cli {

/// Exit statuses of the tagvert command.
enum class ExitCode { Success = 0, Failed = 1, Usage = 2 };

struct CCommand;

/// --color: whether show colours its tags.
enum class ColourChoice : std::uint8_t { Auto, Always, Never };

/// A set of options (cli/command_table.h), one bit per option.
using OptionSet = std::uint32_t;

/// What the user asked for.
struct CCliOptions {
  const CCommand* command = nullptr;  ///< the command named; nullptr when none is
  OptionSet given = 0;                ///< the options given
  bool help = false;                  ///< --help: describe the command (or the tool without one)
  bool version = false;               ///< --version
  /// -q: no notes, no progress line and no summary line; given twice (-qq), no warnings either.
  unsigned quiet = 0;
  bool events = false;                ///< --events: print every conversion event on standard error
  std::vector<std::string> inputs;    ///< INPUT (to-if, from-if) or FILE... (detect)
  std::optional<std::string> output;  ///< -o OUTPUT ("-" is standard output)
  std::optional<std::int32_t> direction;  ///< --direction VALUE, as the Direction number
  std::optional<std::string> outputDir;   ///< -O DIR: the folder of the outputs
  unsigned jobs = 0;                      ///< -j N: conversions at a time; 0 for one per core
  bool keepGoing = false;                 ///< --keep-going: try every input of a batch
  bool force = false;                     ///< --force: convert an input that fails the checks
  std::optional<std::string> against;     ///< --against FILE (from-if): the IF sent to the kernel
  bool strict = false;                    ///< --strict: tag damage, a cut UTF-16 unit are errors
  bool allWarnings = false;  ///< --all-warnings (from-if): every tag problem, not 100 of a kind
  bool json = false;         ///< --json (stats): the figures as JSON
  bool codes = false;        ///< --codes (show): every code unit as <XXXX>
  bool recursive = false;    ///< -r: a folder among the inputs stands for the files under it
  /// The path below its folder of each input that -r found (the input itself as the key): its
  /// outputs keep it below -O DIR.
  std::map<std::string, std::string> belowFolder;
  ColourChoice colour = ColourChoice::Auto;  ///< --color WHEN (show)
  bool xliff2 = false;                       ///< --xliff 2.0 (to-xliff): XLIFF 2.0 instead of 1.2
  bool copySource = false;  ///< --copy-source (to-xliff): every target a copy of its source
  /// --exact-language (to-if): a Tuv is translated only when its Lang is the target tag (letter
  /// case aside), as the COM object compares
  bool exactLanguage = false;
};

/// The outcome of parsing: the options, or a usage error message (one sentence). A command line
/// the user got wrong is malformed input, which is data rather than a failure of the
/// environment: the parser returns it, and UsageError reports it.
struct CParseResult {
  CCliOptions options;
  std::string error;
  bool ok() const { return error.empty(); }
};

/// Reports a usage error, the one way the command does: "tagvert: ", the sentence `sentence`
/// and, with `pointToHelp`, the hint to the help, as one line on `err`. Returns ExitCode::Usage.
ExitCode UsageError(std::ostream& err, const std::string& sentence, bool pointToHelp = true);

/// Parses the arguments after the program name. Pure: no I/O.
CParseResult ParseArguments(const std::vector<std::string>& args);

/// Reads a Direction value: a decimal or 0x hexadecimal number that fits in 32 bits (taken as
/// its two's complement bits), or a language tag of the language table in either letter case
/// (its code in the high 16 bits, 0 in the low 16 bits). Nothing for anything else.
std::optional<std::int32_t> ParseDirection(const std::string& text);

/// The language tags that --direction accepts, separated by ", ".
std::string KnownLanguageTags();

/// The help of the tool: its commands and options.
std::string UsageText();

}  // namespace tagvert::cli
