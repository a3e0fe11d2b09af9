// Tagvert: the command info: the converter's identity and its property table.
// SPDX-License-Identifier: Apache-2.0
#include "cli/command_table.h"
#include "cli/messages.h"
#include "frame/ttx_converter.h"

namespace tagvert::cli {

namespace {

std::string Help() {
  return "Usage: tagvert info\n"
         "\n"
         "Prints the converter's name, default extension, filter, MIME type, format id,\n"
         "target id, both availability flags and its property table.\n"
         "\n"
         "  -h, --help             show this help\n";
}

std::string Check(const CCliOptions& o) {
  if (!o.inputs.empty() || GivesOtherOptions(o)) return "info takes no arguments.";
  return {};
}

ExitCode Run(const CCliOptions&, std::ostream& out, std::ostream&) {
  CTagvertConverter c;
  out << "Name:               " << Narrow(c.GetConverterName()) << "\n"
      << "Default extension:  " << Narrow(c.GetDefaultExtension()) << "\n"
      << "Filter:             " << Narrow(c.GetFilterString()) << "\n"
      << "MIME type:          " << Narrow(c.GetMIMEContentType()) << "\n"
      << "Format id:          " << c.GetFormatId() << "\n"
      << "Target id:          " << c.GetTargetId() << "\n"
      << "Converts to IF:     " << (c.CanConvertToIF() ? 1 : 0) << "\n"
      << "Converts from IF:   " << (c.CanConvertFromIF() ? 1 : 0) << "\n"
      << "Properties:         " << c.GetPropertyCount() << "\n";
  for (std::int32_t i = 0; i < c.GetPropertyCount(); ++i) {
    CVariant value;
    c.GetProperty(CVariant::Int32(i), value);
    out << "  " << i << "  name " << Narrow(c.GetPropertyName(i)) << ", display name "
        << Narrow(c.GetPropertyDisplayName(i)) << ", type "
        << static_cast<int>(c.GetPropertyType(i)) << ", value " << value.GetInt() << "\n";
  }
  return ExitCode::Success;
}

}  // namespace

extern const CCommand kInfoCommand = {
    "info", "", "show the converter's identity", 0, nullptr, &Help, &Check, &Run};

}  // namespace tagvert::cli
