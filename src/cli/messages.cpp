// Tagvert: the command's messages.
// SPDX-License-Identifier: Apache-2.0
#include "cli/messages.h"

#include <cstdio>

#include "cli/platform/cli_services.h"
#include "storage/char_class.h"

namespace tagvert::cli {

std::string ErrorPhrase(HResult code) {
  if (std::string cause = PlatformSystemErrorPhrase(code); !cause.empty()) return cause;
  switch (code) {
    case kSOk:
      return "success";
    case kEInvalidArg:
      return "the file or stream cannot be opened";
    case kEAbort:
      return "the operation was stopped";
    case kEFail:
      return "the conversion failed";
    case kEPointer:
      return "a stream is missing";
    case kEOutOfMemory:
      return "not enough memory";
    case kENotFormat:
      return "not a TTX document";
    default:
      return "unexpected failure " + Hex(code);
  }
}

bool NamesSystemCause(HResult code) {
  return !PlatformSystemErrorPhrase(code).empty();
}

std::string Hex(HResult code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(code));
  return buffer;
}

std::string Narrow(const std::u16string& s) {
  return Utf16ToUtf8(s);
}

std::string Quote(const std::string& path) {
  return path == "-" ? "standard input" : "'" + path + "'";
}

std::string Cause(const CHResultError& e) {
  const auto* file = dynamic_cast<const CFileError*>(&e);
  if (file != nullptr) return file->Phrase();
  return NamesSystemCause(e.Code()) ? ErrorPhrase(e.Code()) : std::string();
}

std::string OutOfMemory(const std::string& input) {
  const unsigned long long mb = (PlatformPeakMemory() + (1ULL << 20) - 1) >> 20;
  return "not enough memory to convert " + Quote(input) + " (" + std::to_string(mb) +
         " MB needed so far).";
}

std::string ReadFailure(const std::string& input, const CHResultError& e) {
  if (e.Code() == kEOutOfMemory) return OutOfMemory(input);
  return "cannot read " + Quote(input) + ": " + Cause(e) + ".";
}

std::string ConversionFailure(const std::string& input, HResult hr) {
  if (hr == kEOutOfMemory) return OutOfMemory(input);
  return (NamesSystemCause(hr) ? "cannot read " : "cannot convert ") + Quote(input) + ": " +
         ErrorPhrase(hr) + ".";
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace tagvert::cli
