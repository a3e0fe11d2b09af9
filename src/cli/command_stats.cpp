// Tagvert: the command stats: the figures of TTX documents (units, matched units, text runs, words,
// tags). SPDX-License-Identifier: Apache-2.0
#include <algorithm>
#include <cstdio>

#include "cli/command_table.h"
#include "cli/document_input.h"
#include "cli/if_units.h"
#include "cli/platform/cli_services.h"
#include "cli/stats.h"
#ifdef TAGVERT_WITH_XLIFF
#include "xliff/xliff_bridge.h"
#endif

namespace tagvert::cli {

namespace {

// The figures of one document, or of all.
struct CStats {
  std::uint64_t units = 0, matched = 0, runs = 0, words = 0, tags = 0;
  void Add(const CStats& other) {
    units += other.units;
    matched += other.matched;
    runs += other.runs;
    words += other.words;
    tags += other.tags;
  }
};

std::string JsonStats(const CStats& s) {
  return "\"units\": " + std::to_string(s.units) + ", \"matched\": " + std::to_string(s.matched) +
         ", \"runs\": " + std::to_string(s.runs) + ", \"words\": " + std::to_string(s.words) +
         ", \"tags\": " + std::to_string(s.tags);
}

std::string TextStats(const std::string& name, const CStats& s) {
  char line[64];
  std::snprintf(line, sizeof line, "%8llu %8llu %8llu %9llu %8llu  ",
                static_cast<unsigned long long>(s.units),
                static_cast<unsigned long long>(s.matched), static_cast<unsigned long long>(s.runs),
                static_cast<unsigned long long>(s.words), static_cast<unsigned long long>(s.tags));
  return line + name + "\n";
}

// Counts one document: its units from the markup, the rest from the records its IF would be
// written from (the IF itself is not written).
bool CountDocument(const CCliOptions& o, const std::string& input,
                   const std::shared_ptr<CStreamedInput>& streamed, CMessages& messages,
                   CStats& stats) {
  CDocumentLanguages languages;
  CIfCounter counter;
  const auto nothing = std::make_shared<CIfUnitSink>([](const char16_t*, std::size_t) {});
  if (!ConvertToIfInto(
          o, input, nothing, messages, &languages,
          [&counter](const CElementTable& table) { counter.FeedTable(table); }, streamed)) {
    return false;
  }
  stats.units = languages.units;
  stats.matched = languages.matchedUnits;
  counter.Finish();
  stats.runs = counter.Runs();
  stats.words = counter.Words();
  stats.tags = counter.Tags();
  return true;
}

#ifdef TAGVERT_WITH_XLIFF
// Counts an XLIFF written by to-xliff: its units, those translated (as matched), and in the IF
// that its units still to translate leave for translation (the document's IF without the units
// that have a translation) the text runs, words and tags.
bool CountXliff(const std::string& input, const std::shared_ptr<CStreamedInput>& streamed,
                CMessages& messages, CStats& stats) {
  ByteStreamPtr in = streamed;
  if (in == nullptr) in = OpenInputSaying(input, messages);
  if (in == nullptr) return false;
  CXliffReadOptions options;
  options.name = input == "-" ? "standard input" : Quote(input);
  xliff::CMergeResult merged;
  try {
    merged = xliff::MergeXliff(*in, options);
  } catch (const xliff::CXliffError& e) {
    messages.Error(e.message);
    return false;
  }
  for (const std::string& warning : merged.warnings)
    messages.Warning(warning);
  stats.units = merged.units_;
  stats.matched = merged.translated;
  for (std::size_t i = 0; i < merged.spans.size(); ++i) {
    if (merged.unitTranslated[i]) merged.spans[i].second = 0;
  }
  CIfCounter counter;
  xliff::CMergedIfStream(std::move(merged)).ReadUnits([&counter](std::u16string_view units) {
    counter.Feed(units.data(), units.size());
  });
  counter.Finish();
  stats.runs = counter.Runs();
  stats.words = counter.Words();
  stats.tags = counter.Tags();
  return true;
}
#endif

std::string Help() {
  return "Usage: tagvert stats FILE... [-r] [--json] [--direction VALUE]\n"
         "\n"
         "Counts per TTX document and in total: translation units (Tu), units already\n"
         "matched (MatchPercent other than 0), and in the IF the kernel will get for the\n"
         "target language (chosen as by to-if): text runs, words and tags. A word is a run\n"
         "of letters and digits; each CJK character (ideograph, kana, Hangul syllable) is a\n"
         "word of its own.\n"
#ifdef TAGVERT_WITH_XLIFF
         "\n"
         "An XLIFF written by 'tagvert to-xliff' (.xlf or .xliff, or <xliff> at its start)\n"
         "is counted as what is left to translate: its units, those translated (a target\n"
         "other than the source, in the matched column), and the runs, words and tags of\n"
         "the IF without the translated units.\n"
#endif
         "\n"
         "  --json                 the figures as one JSON object\n"
         "  --direction VALUE      target language (as for to-if)\n"
         "  -f, --force            count a FILE that does not look like TTX anyway\n"
         "  -r, --recursive        a FILE that is a folder stands for the .ttx files under it\n"
         "  -q, --quiet            no notes (-qq: no warnings either)\n"
         "  -h, --help             show this help\n";
}

std::string Check(const CCliOptions& o) {
  if (o.inputs.empty()) return "no file given to count.";
  if (GivesOtherOptions(o)) return "stats takes files, -r, --json, --direction and --force.";
  return {};
}

ExitCode Run(const CCliOptions& o, std::ostream& out, std::ostream& err) {
  CMessages messages(err, o.quiet);
  CStats total;
  bool allCounted = true;
  std::string json = "{\"files\": [";
  if (!o.json) out << "   units  matched     runs     words     tags  file\n";
  bool first = true;
  for (const std::string& input : o.inputs) {
    CStats stats;
    if (!ReportingFailures(input, messages, [&] {
          std::shared_ptr<CStreamedInput> streamed;
#ifdef TAGVERT_WITH_XLIFF
          // An input read once is told by its first bytes too, which are then counted.
          if (!OpenStreamedInput(o, input, messages, streamed)) return false;
          if (IsXliff(input, streamed.get())) return CountXliff(input, streamed, messages, stats);
#endif
          return CountDocument(o, input, streamed, messages, stats);
        })) {
      allCounted = false;
      continue;
    }
    total.Add(stats);
    if (o.json) {
      json += (first ? "\n  {\"file\": " : ",\n  {\"file\": ") + JsonString(input) + ", " +
              JsonStats(stats) + "}";
    } else {
      out << TextStats(input, stats);
    }
    first = false;
  }
  if (o.json) {
    out << json << "\n],\n\"total\": {" << JsonStats(total) << "}}\n";
  } else {
    out << TextStats("total", total);
  }
  return allCounted ? ExitCode::Success : ExitCode::Failed;
}

}  // namespace

extern const CCommand kStatsCommand = {"stats",
                                       "FILE...",
                                       "count units, matched units, text runs, words and tags",
                                       Bit(Option::Json) | Bit(Option::Direction) |
                                           Bit(Option::Force) | Bit(Option::Quiet) |
                                           Bit(Option::Recursive),
                                       "ttx",
                                       &Help,
                                       &Check,
                                       &Run};

}  // namespace tagvert::cli
