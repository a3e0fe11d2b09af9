// Tagvert: conversion benchmark over generated, realistic TTX documents.
// SPDX-License-Identifier: Apache-2.0
//
//   tagvert_bench generate MB FILE   writes a TTX document of about MB megabytes
//   tagvert_bench to-if FILE          converts FILE to FILE.if and reports MB/s and peak memory
//   tagvert_bench from-if FILE.if     converts FILE.if back to TTX and reports the same
//   tagvert_bench stop FILE POINTS    stops TTX -> IF conversions of FILE at POINTS moments and
//                                     reports how long the library takes to return
//
// Each conversion runs in a process of its own, so the peak resident memory it reports belongs
// to that conversion alone. bench/run.sh runs the 5 MB and 50 MB cases.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/platform/cli_services.h"
#include "frame/ttx_converter.h"
#include "storage/char_class.h"

namespace {

using tagvert::CEndpoint;
using tagvert::CTagvertConverter;

// Writes a TTX document the way a TagEditor-style tool lays out a segmented HTML file:
// FrontMatter, paragraphs between external ut pairs, translation units at MatchPercent 0 and 100
// and without MatchPercent, source and target Tuv, inline ut pairs, df, references and
// no-break spaces.
void Generate(double megabytes, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  const auto target = static_cast<std::uint64_t>(megabytes * 1024 * 1024);
  std::mt19937 random(12345);
  const char* words[] = {"kettle", "water", "switch", "the",   "of",    "and",    "power", "cable",
                         "base",   "lid",   "filter", "light", "press", "before", "never", "cold"};
  const char* german[] = {"Wasserkocher",
                          "Wasser",
                          "Schalter",
                          "der",
                          "die",
                          "und",
                          "Strom",
                          "Kabel",
                          "Sockel",
                          "Deckel",
                          "Filter",
                          "Licht",
                          "dr\xC3\xBC"
                          "cken",
                          "vor",
                          "nie",
                          "kalt"};
  auto sentence = [&](const char* const* vocabulary, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      if (i) s += (random() % 23 == 0) ? "\xC2\xA0" : " ";
      const unsigned pick = random() % 16;
      if (pick == 0 && i > 0) {
        s += "<df Bold=\"on\"><ut Type=\"start\" RightEdge=\"angle\" DisplayText=\"b\">&lt;b&gt;"
             "</ut>";
        s += vocabulary[random() % 16];
        s += "</df><ut Type=\"end\" LeftEdge=\"angle\" DisplayText=\"b\">&lt;/b&gt;</ut>";
      } else if (pick == 1) {
        s += "&amp;";
      } else if (pick == 2) {
        s += "<ut DisplayText=\"br\">&lt;br/&gt;</ut>";
      } else {
        s += vocabulary[pick];
      }
    }
    return s + ".";
  };

  out << "\xEF\xBB\xBF<?xml version='1.0'?>\r\n<TRADOStag Version=\"2.0\"><FrontMatter>"
         "<ToolSettings CreationDate=\"20261201T101500Z\" CreationTool=\"bench\" "
         "CreationToolVersion=\"1.0\"/><UserSettings DataType=\"HTML\" O-Encoding=\"UTF-8\" "
         "SettingsName=\"\" SettingsPath=\"\" SourceLanguage=\"EN-US\" TargetLanguage=\"DE-DE\" "
         "TargetDefaultFont=\"\" SourceDocumentPath=\"big.html\" SettingsRelativePath=\"\" "
         "PlugInInfo=\"\"/></FrontMatter><Body><Raw>"
         "<ut Type=\"start\" Style=\"external\" RightEdge=\"angle\" DisplayText=\"html\">"
         "&lt;html&gt;</ut>\r\n";
  std::uint64_t written = 0;
  while (written < target) {
    std::string p =
        "<ut Type=\"start\" Style=\"external\" RightEdge=\"angle\" DisplayText=\"p\">&lt;p&gt;"
        "</ut>";
    const int units = 1 + static_cast<int>(random() % 4);
    for (int u = 0; u < units; ++u) {
      const auto kind = static_cast<unsigned>(random() % 10);
      const int n = 6 + static_cast<int>(random() % 14);
      if (kind < 5) {
        p += "<Tu Origin=\"manual\" MatchPercent=\"0\"><Tuv Lang=\"EN-US\">" + sentence(words, n) +
             "</Tuv><Tuv Lang=\"DE-DE\">" + sentence(german, n) + "</Tuv></Tu> ";
      } else if (kind < 8) {
        p += "<Tu Origin=\"TM\" MatchPercent=\"100\"><Tuv Lang=\"EN-US\">" + sentence(words, n) +
             "</Tuv><Tuv Lang=\"DE-DE\">" + sentence(german, n) + "</Tuv></Tu> ";
      } else if (kind < 9) {
        p += "<Tu Origin=\"manual\"><Tuv Lang=\"EN-US\">" + sentence(words, n) +
             "</Tuv><Tuv Lang=\"DE-DE\">" + sentence(german, n) + "</Tuv></Tu>\r\n  ";
      } else {
        p += sentence(words, n) + " ";
      }
    }
    p += "<ut Type=\"end\" Style=\"external\" LeftEdge=\"angle\" DisplayText=\"p\">&lt;/p&gt;"
         "</ut>\r\n";
    out << p;
    written += p.size();
  }
  out << "<ut Type=\"end\" Style=\"external\" LeftEdge=\"angle\" DisplayText=\"html\">"
         "&lt;/html&gt;</ut>\r\n</Raw></Body></TRADOStag>\r\n";
}

int Convert(bool toIF, const std::string& input) {
  std::string output = input;
  if (toIF) {
    output += ".if";
  } else {
    output += ".ttx";
  }
  CTagvertConverter converter;
  converter.PutProperty(tagvert::CVariant::String(u"Direction"),
                        tagvert::CVariant::Int32(0x00040000));
  const auto start = std::chrono::steady_clock::now();
  const CEndpoint source = CEndpoint::File(tagvert::Utf8ToUtf16(input));
  const CEndpoint target = CEndpoint::File(tagvert::Utf8ToUtf16(output));
  const tagvert::HResult hr =
      toIF ? converter.ConvertToIF(source, target) : converter.ConvertFromIF(source, target);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (hr != tagvert::kSOk) {
    std::fprintf(stderr, "conversion failed: 0x%08X\n", static_cast<unsigned>(hr));
    return 1;
  }
  std::ifstream in(input, std::ios::binary | std::ios::ate);
  const double megabytes = static_cast<double>(in.tellg()) / (1024.0 * 1024.0);
  std::printf("%s %.1f MB in %.3f s: %.1f MB/s, peak memory %.1f MB\n", toIF ? "to-if" : "from-if",
              megabytes, seconds, megabytes / seconds,
              static_cast<double>(tagvert::PlatformPeakMemory()) / (1024.0 * 1024.0));
  return 0;
}

// How long the library takes to return after Stop at `points` evenly spaced moments of a TTX ->
// IF conversion of `input` (the moments are fractions of one full conversion's time): the time
// from Stop to the return of ConvertToIF, which includes releasing the document's elements.
int StopLatency(const std::string& input, int points) {
  const CEndpoint source = CEndpoint::File(tagvert::Utf8ToUtf16(input));
  const CEndpoint target = CEndpoint::File(tagvert::Utf8ToUtf16(input + ".if"));
  const auto run = [&](CTagvertConverter& converter) {
    converter.PutProperty(tagvert::CVariant::String(u"Direction"),
                          tagvert::CVariant::Int32(0x00040000));
    return converter.ConvertToIF(source, target);
  };
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  {
    CTagvertConverter converter;
    if (run(converter) != tagvert::kSOk) return 1;
  }
  const auto total = Clock::now() - start;
  std::vector<double> latencies;
  for (int i = 1; i <= points; ++i) {
    CTagvertConverter converter;
    std::atomic<bool> returned{false};
    Clock::time_point end;
    std::thread worker([&] {
      run(converter);
      end = Clock::now();
      returned = true;
    });
    std::this_thread::sleep_for(total * i / (points + 1));
    const auto stop = Clock::now();
    const bool early = returned.load();
    converter.Stop();
    worker.join();
    const double ms = std::chrono::duration<double, std::milli>(end - stop).count();
    std::printf("  at %2d/%d: %s\n", i, points + 1,
                early ? "ended before the stop" : (std::to_string(ms) + " ms").c_str());
    if (!early) latencies.push_back(ms);
  }
  if (latencies.empty()) return 1;
  std::sort(latencies.begin(), latencies.end());
  std::printf(
      "stop latency of the library over %zu moments of %.2f s: min %.1f ms, median %.1f "
      "ms, max %.1f ms\n",
      latencies.size(), std::chrono::duration<double>(total).count(), latencies.front(),
      latencies[latencies.size() / 2], latencies.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "generate") {
    Generate(std::atof(argv[2]), argv[3]);
    return 0;
  }
  if (argc == 3 && std::string(argv[1]) == "to-if") return Convert(true, argv[2]);
  if (argc == 3 && std::string(argv[1]) == "from-if") return Convert(false, argv[2]);
  if (argc == 4 && std::string(argv[1]) == "stop") return StopLatency(argv[2], std::atoi(argv[3]));
  std::fprintf(stderr,
               "usage: tagvert_bench generate MB FILE | to-if FILE | from-if FILE.if | stop FILE "
               "POINTS\n");
  return 2;
}
