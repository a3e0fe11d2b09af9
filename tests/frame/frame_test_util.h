// Tagvert: helpers of the frame tests: an event recorder and in-memory conversions.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frame/ttx_converter.h"
#include "storage/memory_stream.h"
#include "support/test_streams.h"

namespace tagvert::test {

/// Records every event as one line ("State 1", "Text ", "Progress 10/100", "Property").
class CEventRecorder : public ITransEventsListener {
 public:
  void OnPropertyChange(const CVariant&, const CVariant& newVal) override {
    Add("Property " + std::to_string(newVal.GetInt()));
  }
  void OnStateChange(std::int32_t state) override { Add("State " + std::to_string(state)); }
  void OnTextChange(const std::u16string& caption) override { Add("Text " + Printable(caption)); }
  void OnProgressChange(std::int32_t progress, std::int32_t maxProgress) override {
    Add("Progress " + std::to_string(progress) + "/" + std::to_string(maxProgress));
    if (onProgress) onProgress(progress);
  }

  std::vector<std::string> events;
  std::function<void(int)> onProgress;

 private:
  void Add(std::string e) { events.push_back(std::move(e)); }
};

/// Output and result of one in-memory conversion.
struct CConversion {
  HResult result = 0;
  std::vector<std::uint8_t> output;
};

/// Converts `input` bytes in memory, TTX to IF (`toIf`) or IF to TTX.
inline CConversion Convert(bool toIf, const std::vector<std::uint8_t>& input,
                           CTagvertConverter* converter) {
  const auto source = CEndpoint::Stream(std::make_shared<CMemoryStream>(input));
  auto target = std::make_shared<CSinkStream>();
  CConversion c;
  c.result = toIf ? converter->ConvertToIF(source, CEndpoint::Stream(target))
                  : converter->ConvertFromIF(source, CEndpoint::Stream(target));
  c.output = target->Bytes();
  return c;
}

inline CConversion ToIf(const std::vector<std::uint8_t>& input, CTagvertConverter* converter) {
  return Convert(true, input, converter);
}

inline CConversion FromIf(const std::vector<std::uint8_t>& input, CTagvertConverter* converter) {
  return Convert(false, input, converter);
}

/// The .ttx files below `folder`, in name order (none when the folder does not exist).
inline std::vector<std::filesystem::path> TtxFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.path().extension() == ".ttx") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace tagvert::test
