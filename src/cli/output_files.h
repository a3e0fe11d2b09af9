// Tagvert: the names of the command's outputs (the default names, -O DIR), the folder of -O, and
// the jobs of a command over several files with the check that no two of them write one output.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/messages.h"
#include "cli/platform/cli_services.h"

namespace tagvert::cli {

/// The default output name of to-if: INPUT with ".if" appended.
std::string DefaultToIfOutput(const std::string& input);

/// Whether file names take `\` as a folder separator besides `/` (on Windows).
#ifdef _WIN32
inline constexpr bool kBackslashSeparates = true;
#else
inline constexpr bool kBackslashSeparates = false;
#endif

/// The default output name of from-if: ".if" dropped and ".out" put before the extension
/// ("doc.ttx.if" and "doc.if" give "doc.out.ttx"). A dot in a folder name is no extension;
/// `backslash` makes `\` a folder separator too.
std::string DefaultFromIfOutput(const std::string& input, bool backslash = kBackslashSeparates);

/// The default output of pseudo: ".pseudo" put before the extension ("doc.ttx" gives
/// "doc.pseudo.ttx").
std::string DefaultPseudoOutput(const std::string& input, bool backslash = kBackslashSeparates);

/// The name `output` (a default output name) placed in the folder `dir` instead of its own.
std::string OutputInFolder(const std::string& dir, const std::string& output,
                           bool backslash = kBackslashSeparates);

/// The output for `input` when no -o names it: the default name `name` gives it, or with -O DIR
/// that name in DIR; an input that -r found under a folder keeps its path below that folder
/// there ("-r in -O out" writes in/sub/a.ttx to out/sub/a.ttx.if).
std::string PlaceOutput(const CCliOptions& o, const std::string& input,
                        std::string (*name)(const std::string&));

/// The output of to-if or from-if for `input` when no -o names it (PlaceOutput).
std::string DefaultOutput(const CCliOptions& o, const std::string& input, bool toIF);

/// Makes the folder `dir` when it does not exist yet. False, with the error said, when it
/// cannot be made.
bool MakeFolder(const std::string& dir, CMessages& messages);

/// Opens `output` into `out`; when it cannot, says "cannot write SHOWN: cause." and returns false.
bool OpenOutput(const std::string& output, const std::string& shown, CCliOutput& out,
                CMessages& messages);
/// Puts `out` in its place; when it cannot, says "cannot write SHOWN: cause." and returns false.
bool CommitOutput(CCliOutput& out, const std::string& shown, CMessages& messages);

/// The size of the file `path`; 0 when it has none (standard input, a missing file).
std::uint64_t FileSize(const std::string& path);

/// One input of a command over several files and its output.
struct CJob {
  std::string input;
  std::string output;
  std::uint64_t size = 0;  ///< the input's size when the command started
};

/// Makes the folders of the outputs of -O DIR (the folders below it too, for inputs that -r
/// found). False, with the error said, when one cannot be made.
bool MakeOutputFolders(const CCliOptions& o, const std::vector<CJob>& jobs, CMessages& messages);

/// Refuses jobs of which two would write one output, or whose output is an input. Returns the
/// sentence that refuses them, empty when there is none.
std::string FindCollision(const std::vector<CJob>& jobs);

}  // namespace tagvert::cli
