// Tagvert: the commands of the tagvert command line.
// SPDX-License-Identifier: Apache-2.0
#include "cli/commands.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "frame/ttx_converter.h"
#include "platform/cli_services.h"
#include "storage/char_class.h"

namespace tagvert::cli {

namespace {

constexpr char kVersion[] = "tagvert 1.0.0";

// The converter that Ctrl-C stops. Stop only sets an atomic flag, so calling it from the
// signal handler is safe.
std::atomic<CTTXConverterBase*> g_running{nullptr};

void StopRunningConversion() {
  if (CTTXConverterBase* converter = g_running.load()) converter->Stop();
}

std::string Hex(HResult code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(code));
  return buffer;
}

std::string Narrow(const std::u16string& s) {
  return Utf16ToUtf8(s);
}

// Follows a conversion: the progress bar, the event trace and the storage failure code.
class CCliListener : public ITransEventsListener {
 public:
  CCliListener(std::ostream& err, bool bar, bool trace) : m_err(err), m_bar(bar), m_trace(trace) {}

  void OnStateChange(std::int32_t state) override {
    if (state != kStateIdle && state != kStateConverting && state != kStateStopped &&
        state != kStateFailed) {
      m_storageCode = state;
    }
    if (m_trace) Line("StateChange(" + StateText(state) + ")");
  }
  void OnTextChange(const std::u16string& caption) override {
    if (m_trace) Line("TextChange(\"" + Narrow(caption) + "\")");
  }
  void OnProgressChange(std::int32_t progress, std::int32_t maxProgress) override {
    if (m_trace) {
      Line("ProgressChange(" + std::to_string(progress) + ", " + std::to_string(maxProgress) + ")");
    } else if (m_bar) {
      const int filled = maxProgress > 0 ? progress * 30 / maxProgress : 30;
      m_err << "\r  [" << std::string(static_cast<size_t>(filled), '#')
            << std::string(static_cast<size_t>(30 - filled), '.') << "] " << progress << "%"
            << std::flush;
      m_barShown = true;
    }
  }
  void OnPropertyChange(const CVariant&, const CVariant& newVal) override {
    if (m_trace) Line("PropertyChange(Direction, " + std::to_string(newVal.GetInt()) + ")");
  }

  /// Ends the progress bar's line.
  void Finish() {
    if (m_barShown) m_err << "\n";
    m_barShown = false;
  }
  std::int32_t StorageCode() const { return m_storageCode; }

 private:
  static std::string StateText(std::int32_t state) {
    return state > 9 ? Hex(state) : std::to_string(state);
  }
  void Line(const std::string& text) { m_err << "event: " << text << "\n"; }

  std::ostream& m_err;
  bool m_bar;
  bool m_trace;
  bool m_barShown = false;
  std::int32_t m_storageCode = 0;
};

std::uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

std::string Quote(const std::string& path) {
  return path == "-" ? "standard input" : "'" + path + "'";
}

// Runs to-if or from-if.
ExitCode RunConversion(const CCliOptions& o, bool toIF, std::ostream& err) {
  const std::string& input = o.inputs.front();
  const bool inputIsStd = input == "-";
  std::string output;
  if (o.output) {
    output = *o.output;
  } else if (inputIsStd) {
    output = "-";
  } else {
    output = toIF ? DefaultToIfOutput(input) : DefaultFromIfOutput(input);
  }
  const bool outputIsStd = output == "-";
  const std::string outputName = outputIsStd ? "standard output" : "'" + output + "'";

  if (!inputIsStd) {
    const std::string why = PlatformCheckReadable(input);
    if (!why.empty()) {
      err << "tagvert: cannot read '" << input << "': " << why << ".\n";
      return ExitCode::Failed;
    }
  }
  if (!inputIsStd && !outputIsStd && (output == input || PlatformSameFile(input, output))) {
    err << "tagvert: will not write " << outputName
        << ": it is the input file; choose another output with -o.\n";
    return ExitCode::Usage;
  }

  CTagvertConverter converter;
  const bool bar = !o.quiet && PlatformStderrIsTerminal();
  auto listener = std::make_shared<CCliListener>(err, bar, o.events);
  std::uint32_t cookie = 0;
  // Listening first, so that --events also shows the Direction put with the code it resolved.
  converter.Advise(listener, cookie);
  if (o.direction) {
    const HResult hr =
        converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(*o.direction));
    if (Failed(hr)) {
      err << "tagvert: cannot set the direction: " << DescribeHResult(hr) << ".\n";
      return ExitCode::Failed;
    }
  }

  std::string temp;
  if (!outputIsStd) {
    std::string why;
    temp = PlatformCreateTempBeside(output, why);
    if (temp.empty()) {
      err << "tagvert: cannot write " << outputName << ": " << why << ".\n";
      return ExitCode::Failed;
    }
  }
  const CEndpoint source = inputIsStd ? CEndpoint::Stream(PlatformStandardStream(0))
                                      : CEndpoint::File(Utf8ToUtf16(input));
  const CEndpoint target = outputIsStd ? CEndpoint::Stream(PlatformStandardStream(1))
                                       : CEndpoint::File(Utf8ToUtf16(temp));

  const auto started = std::chrono::steady_clock::now();
  g_running.store(&converter);
  PlatformOnInterrupt(&StopRunningConversion);
  const HResult hr =
      toIF ? converter.ConvertToIF(source, target) : converter.ConvertFromIF(source, target);
  g_running.store(nullptr);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  listener->Finish();

  if (Failed(hr) || converter.State() == kStateStopped) {
    if (!temp.empty()) PlatformRemoveFile(temp);
    if (!Failed(hr)) {
      err << "tagvert: the conversion of " << Quote(input)
          << " was stopped; no output file was written.\n";
    } else if (hr == kEFail && listener->StorageCode() == kStateShortWrite) {
      err << "tagvert: cannot write " << outputName
          << ": the output accepted fewer bytes than were written.\n";
    } else {
      err << "tagvert: cannot convert " << Quote(input) << ": " << DescribeHResult(hr) << " ("
          << Hex(hr) << ").\n";
    }
    return ExitCode::Failed;
  }
  if (!outputIsStd) {
    std::string why;
    if (!PlatformReplaceFile(temp, output, why)) {
      PlatformRemoveFile(temp);
      err << "tagvert: cannot write " << outputName << ": " << why << ".\n";
      return ExitCode::Failed;
    }
  }
  if (!o.quiet) {
    err << "tagvert: converted " << Quote(input);
    if (!inputIsStd) err << " (" << FileSize(input) << " bytes)";
    err << (toIF ? " to IF " : " to TTX ") << outputName;
    if (!outputIsStd) err << " (" << FileSize(output) << " bytes)";
    char timing[32];
    if (seconds < 1.0) {
      std::snprintf(timing, sizeof timing, "%.1f ms", seconds * 1000.0);
    } else {
      std::snprintf(timing, sizeof timing, "%.2f s", seconds);
    }
    err << " in " << timing << ".\n";
  }
  return ExitCode::Success;
}

ExitCode RunDetect(const CCliOptions& o, std::ostream& out) {
  CTagvertConverter converter;
  bool allTtx = true;
  for (const std::string& file : o.inputs) {
    const std::string why = PlatformCheckReadable(file);
    if (!why.empty()) {
      out << file << ": error: " << why << "\n";
      allTtx = false;
      continue;
    }
    const HResult hr = converter.IsFormatAvailable(CEndpoint::File(Utf8ToUtf16(file)));
    if (hr == kSOk) {
      out << file << ": TTX\n";
    } else if (hr == kENotFormat) {
      out << file << ": not TTX\n";
      allTtx = false;
    } else {
      out << file << ": error: " << DescribeHResult(hr) << "\n";
      allTtx = false;
    }
  }
  return allTtx ? ExitCode::Success : ExitCode::Failed;
}

ExitCode RunInfo(std::ostream& out) {
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
        << Narrow(c.GetPropertyDisplayName(i)) << ", type " << c.GetPropertyType(i) << ", value "
        << value.GetInt() << "\n";
  }
  return ExitCode::Success;
}

}  // namespace

std::string DescribeHResult(HResult code) {
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

ExitCode RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const CParseResult parsed = ParseArguments(args);
  if (!parsed.ok()) {
    err << "tagvert: " << parsed.error << " Try 'tagvert --help'.\n";
    return ExitCode::Usage;
  }
  const CCliOptions& o = parsed.options;
  if (o.help) {
    out << CommandHelp(o.command);
    return ExitCode::Success;
  }
  if (o.version) {
    out << kVersion << "\n";
    return ExitCode::Success;
  }
  switch (o.command) {
    case Command::ToIf:
      return RunConversion(o, true, err);
    case Command::FromIf:
      return RunConversion(o, false, err);
    case Command::Detect:
      return RunDetect(o, out);
    case Command::Info:
      return RunInfo(out);
    case Command::None:
      break;
  }
  err << UsageText();
  return ExitCode::Usage;
}

}  // namespace tagvert::cli
