// Tagvert: the command languages: the kernel's language table.
// SPDX-License-Identifier: Apache-2.0
#include <cstdio>

#include "cli/command_table.h"
#include "cli/messages.h"
#include "storage/language_table.h"

namespace tagvert::cli {

namespace {

std::string Help() {
  return "Usage: tagvert languages\n"
         "\n"
         "Lists the kernel's language table: the tag, the language code and the value of\n"
         "--direction that selects it as the target language, each tag once (en-us has a\n"
         "second code, 0x0401). A bare language (fr, en) selects the first tag of its\n"
         "language. A Tuv is translated when its Lang is the tag, or else another tag of\n"
         "the same language (fr, fr-CA) that is not the document's source language.\n"
         "\n"
         "  -h, --help             show this help\n";
}

std::string Check(const CCliOptions& o) {
  if (!o.inputs.empty() || GivesOtherOptions(o)) return "languages takes no arguments.";
  return {};
}

ExitCode Run(const CCliOptions&, std::ostream& out, std::ostream&) {
  out << "tag     code    direction\n";
  for (const CLanguageEntry& entry : LanguageTable()) {
    // A tag with two codes is listed with the first, which the tag selects.
    if (LanguageCodeOfTag(entry.tag) != entry.code) continue;
    char line[64];
    std::snprintf(line, sizeof line, "%-7s 0x%04X  0x%08X\n", Narrow(entry.tag).c_str(),
                  static_cast<unsigned>(entry.code), static_cast<unsigned>(entry.code) << 16);
    out << line;
  }
  return ExitCode::Success;
}

}  // namespace

extern const CCommand kLanguagesCommand = {
    "languages", "", "list the target languages the kernel knows", 0, nullptr, &Help, &Check, &Run};

}  // namespace tagvert::cli
