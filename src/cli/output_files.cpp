// Tagvert: the names and folders of the command's outputs.
// SPDX-License-Identifier: Apache-2.0
#include "cli/output_files.h"

#include <filesystem>
#include <system_error>
#include <unordered_map>

#include "cli/platform/cli_services.h"
#include "storage/char_class.h"

namespace tagvert::cli {

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

namespace {

// A file name of the command (UTF-8) as a path of the file system.
std::filesystem::path FsPath(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

// A key under which two names of the same file meet: the absolute, normalised path (without
// letter case on Windows, where names compare so).
std::string PathKey(const std::string& name) {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(FsPath(name), ec);
  if (ec) path = FsPath(name);
  const std::u8string text = path.lexically_normal().u8string();
  std::string key(text.begin(), text.end());
#ifdef _WIN32
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
#endif
  return key;
}

}  // namespace

std::string PlaceOutput(const CCliOptions& o, const std::string& input,
                        std::string (*name)(const std::string&)) {
  if (!o.outputDir) return name(input);
  const auto below = o.belowFolder.find(input);
  if (below == o.belowFolder.end()) return OutputInFolder(*o.outputDir, name(input));
  const std::string& dir = *o.outputDir;
  const char last = dir.empty() ? '/' : dir.back();
  const bool separated = last == '/' || (kBackslashSeparates && last == '\\');
  return dir + (separated ? "" : "/") + name(below->second);
}

std::string DefaultOutput(const CCliOptions& o, const std::string& input, bool toIF) {
  return PlaceOutput(
      o, input, toIF ? &DefaultToIfOutput : [](const std::string& path) {
        return DefaultFromIfOutput(path);
      });
}

bool OpenOutput(const std::string& output, const std::string& shown, CCliOutput& out,
                CMessages& messages) {
  try {
    out = PlatformOpenOutput(output);
  } catch (const CFileError& e) {
    messages.Error("cannot write " + shown + ": " + e.Phrase() + ".");
    return false;
  }
  return true;
}

bool CommitOutput(CCliOutput& out, const std::string& shown, CMessages& messages) {
  try {
    PlatformCommitOutput(out);
  } catch (const CFileError& e) {
    messages.Error("cannot write " + shown + ": " + e.Phrase() + ".");
    return false;
  }
  return true;
}

bool MakeFolder(const std::string& dir, CMessages& messages) {
  std::error_code ec;
  std::filesystem::create_directories(FsPath(dir), ec);
  if (ec && !std::filesystem::is_directory(FsPath(dir))) {
    messages.Error("cannot make the folder '" + dir + "': " + PlatformErrorCodePhrase(ec) + ".");
    return false;
  }
  return true;
}

bool MakeOutputFolders(const CCliOptions& o, const std::vector<CJob>& jobs, CMessages& messages) {
  if (!o.outputDir) return true;
  if (!MakeFolder(*o.outputDir, messages)) return false;
  std::filesystem::path made;
  for (const CJob& job : jobs) {
    if (!o.belowFolder.contains(job.input)) continue;
    const std::filesystem::path folder = FsPath(job.output).parent_path();
    if (folder == made) continue;
    const std::u8string name = folder.u8string();
    if (!MakeFolder(std::string(name.begin(), name.end()), messages)) return false;
    made = folder;
  }
  return true;
}

std::uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

std::string FindCollision(const std::vector<CJob>& jobs) {
  std::unordered_map<std::string, std::size_t> outputs;
  std::unordered_map<std::string, std::size_t> inputs;
  for (std::size_t i = 0; i < jobs.size(); ++i)
    inputs.emplace(PathKey(jobs[i].input), i);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    const std::string key = PathKey(jobs[i].output);
    const auto [at, added] = outputs.emplace(key, i);
    if (!added) {
      return "'" + jobs[at->second].input + "' and '" + jobs[i].input + "' would both write '" +
             jobs[i].output + "'; nothing was converted.";
    }
    const auto input = inputs.find(key);
    if (input != inputs.end() || PlatformSameFile(jobs[i].input, jobs[i].output)) {
      return "will not write '" + jobs[i].output + "': it is the input file '" +
             jobs[input != inputs.end() ? input->second : i].input + "'; nothing was converted.";
    }
  }
  return {};
}

}  // namespace tagvert::cli
