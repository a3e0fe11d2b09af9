// Tagvert: fuzz target: any bytes as an XLIFF to merge (strict). The merge never crashes; it
// refuses with one sentence naming the XLIFF, or its IF holds the markup of the document the
// skeleton was made from, every code once (moved, perhaps, within its unit; but for standalone
// codes dropped with a warning), and the way back converts that IF. Behind a 'W', any bytes as
// an IF for the XLIFF writer, which writes the same XLIFF however the IF is cut into pieces.
// SPDX-License-Identifier: Apache-2.0
#include <algorithm>

#include "frame/ttx_converter.h"
#include "fuzz/fuzz_support.h"
#include "ifcodec/if_tokens.h"
#include "support/xliff_feed.h"
#include "xliff/xliff_bridge.h"

namespace {

using namespace tagvert;

// The tokens of an IF that are not text to translate, sorted (codes may move within a unit).
std::vector<std::u16string> Markup(const std::u16string& units) {
  std::vector<std::u16string> markup;
  CIfTokenReader reader;
  std::u16string_view rest = units;
  while (true) {
    const std::size_t before = rest.size();
    const CIfToken* token = reader.Next(rest);
    if (token == nullptr) break;
    if (token->kind != IfTokenKind::Text) {
      markup.emplace_back(
          std::u16string_view(units).substr(units.size() - before, before - rest.size()));
    }
  }
  std::sort(markup.begin(), markup.end());
  return markup;
}

// The XLIFF the writer makes of `units` fed in pieces of `piece` units, read where they lie with
// `room` units before each (none: copied).
std::string WriteXliff(std::u16string_view units, XliffVersion version, std::size_t piece,
                       std::size_t room) {
  CXliffWriteOptions options;
  options.version = version;
  options.copySource = true;
  xliff::CXliffWriter writer(options);
  test::FeedInPieces(writer, units, piece, room);
  std::u16string source, target;
  writer.End(source, target);
  std::string out;
  writer.Write(xliff::CXliffHeader{"und", "", "fuzz.ttx"},
               [&out](std::string_view text) { out += text; });
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The skeleton's decoders straight on the bytes, past the hash that guards them inside an
  // XLIFF: damaged blocks are refused, never read beyond, and what inflates has the size that
  // the blocks announce.
  if (size > 0 && data[0] == 'B') {
    const std::string_view blocks(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string out;
    std::uint64_t announced = 0;
    const bool sized = xliff::InflatedSize(blocks, announced);
    if (xliff::Inflate(blocks, out)) TAGVERT_FUZZ_CHECK(sized && announced == out.size());
    xliff::CPlanParts parts;
    if (xliff::SplitPlan(blocks, parts)) {
      xliff::Inflate(parts.table, out);
      xliff::Inflate(parts.raw, out);
    }
    std::u16string wide;
    xliff::WidenAppend(data + 1, data + size, wide);
    return 0;
  }
  if (size > 0 && data[0] == 'W') {
    std::u16string units((size - 1) / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<char16_t>(data[1 + 2 * i] | (data[2 + 2 * i] << 8));
    const std::size_t piece = 1 + size % 7;
    for (const XliffVersion version : {XliffVersion::V1_2, XliffVersion::V2_0}) {
      const std::string whole = WriteXliff(units, version, units.size() + 1, 0);
      for (const std::size_t room : {std::size_t{0}, std::size_t{3}, std::size_t{64}})
        TAGVERT_FUZZ_CHECK(WriteXliff(units, version, piece, room) == whole);
    }
    return 0;
  }
  CMemoryStream xml(data, size);
  CXliffReadOptions options;
  options.strict = true;
  options.name = "'fuzz.xlf'";
  // The command's way, the merge on a thread of its own beside the way back, refuses the same
  // XLIFF with the same sentence and otherwise writes the same TTX.
  CXliffReport report;
  xliff::CBridgeHooks hooks;
  hooks.dropsFailedOutput = true;
  auto streamed = std::make_shared<CMemoryStream>();
  const HResult streamedHr =
      xliff::ConvertFromXliff(CEndpoint::Stream(std::make_shared<CMemoryStream>(data, size)),
                              CEndpoint::Stream(streamed), options, report, hooks);
  std::u16string source;
  xliff::CMergeResult merged;
  try {
    merged = xliff::MergeXliff(xml, options, &source);
  } catch (const xliff::CXliffError& e) {
    TAGVERT_FUZZ_CHECK(e.message.starts_with("'fuzz.xlf'") && e.message.ends_with("."));
    TAGVERT_FUZZ_CHECK(e.code == kEXliffRefused || e.code == kEXliffTagDamage);
    TAGVERT_FUZZ_CHECK(streamedHr == e.code && report.error == e.message);
    return 0;
  }
  const std::u16string units = merged.Joined();
  if (merged.warnings.empty()) TAGVERT_FUZZ_CHECK(Markup(units) == Markup(source));
  CTagvertConverter converter;
  auto target = std::make_shared<CMemoryStream>();
  const HResult hr = converter.ConvertFromIF(
      CEndpoint::Stream(std::make_shared<xliff::CMergedIfStream>(std::move(merged))),
      CEndpoint::Stream(target));
  TAGVERT_FUZZ_CHECK(hr == kSOk);
  TAGVERT_FUZZ_CHECK(streamedHr == kSOk && streamed->Bytes() == target->Bytes());
  return 0;
}
