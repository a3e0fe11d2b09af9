// Tagvert: conversion benchmark over generated, realistic TTX documents.
// SPDX-License-Identifier: Apache-2.0
//
//   tagvert_bench generate MB FILE [--shape latin|mixed|cjk]
//                                     writes a TTX document of about MB megabytes: Latin text
//                                     in long runs (the default), text in several scripts with
//                                     more inline tags, or Chinese and Japanese text
//   tagvert_bench to-if FILE [DIR]    converts FILE to FILE.if (target language DIR, default
//                                     German) and reports MB/s and peak memory
//   tagvert_bench from-if FILE.if     converts FILE.if back to TTX and reports the same
//   tagvert_bench stop FILE POINTS    stops TTX -> IF conversions of FILE at POINTS moments and
//                                     reports how long the library takes to return
//
// Each conversion runs in a process of its own, so the peak resident memory it reports belongs
// to that conversion alone. bench/run.sh runs the 5 MB and 50 MB cases of two shapes and a 20 MB
// CJK document.
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

// The shape of a generated document: its languages, its vocabularies (16 words each), how long
// its sentences are and how often a word is a tag.
struct Shape {
  const char* sourceLanguage;
  const char* targetLanguage;
  const char* const* source;
  const char* const* target;
  unsigned minWords;  // words per sentence: minWords + a random number below spanWords
  unsigned spanWords;
  unsigned tags;  // a word pick below this is markup (0: df, 1: &amp;, 2: br, more: italics)
  const char* space;
  const char* stop;
};

// Latin script, long text runs (the bench document); text in several scripts with more inline
// tags and shorter runs; Chinese source and Japanese target text (3 bytes a character in UTF-8).
const char* const kEnglish[] = {"kettle", "water",  "switch", "the", "of",     "and",
                                "power",  "cable",  "base",   "lid", "filter", "light",
                                "press",  "before", "never",  "cold"};
const char* const kGerman[] = {"Wasserkocher",
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
// The words a sentence takes directly are the last 16 - tags: those are non-ASCII here.
const char* const kMixedSource[] = {"kettle",
                                    "the",
                                    "and",
                                    "power",
                                    "cable",
                                    "filter",
                                    "light",
                                    "\xC3\xB8st",
                                    "cold",
                                    "caf\xC3\xA9",
                                    "na\xC3\xAFve",
                                    "\xC3\xA9t\xC3\xA9",
                                    "\xD1\x87\xD0\xB0\xD0\xB9",          // chai
                                    "\xCE\xAC\xCE\xBB\xCF\x86\xCE\xB1",  // alfa
                                    "se\xC3\xB1or",
                                    "d\xC3\xA9j\xC3\xA0"};
const char* const kMixedTarget[] = {
    "Wasserkocher",
    "\xD1\x87\xD0\xB0\xD0\xB9\xD0\xBD\xD0\xB8\xD0\xBA",                          // chainik
    "\xCE\xB2\xCF\x81\xCE\xB1\xCF\x83\xCF\x84\xCE\xAE\xCF\x81\xCE\xB1\xCF\x82",  // brastiras
    "vodn\xC3\xAD",
    "\xC5\xBE\xC3\xA1rovka",
    "\xD0\xB2\xD0\xBE\xD0\xB4\xD0\xB0",  // voda
    "\xCE\xBD\xCE\xB5\xCF\x81\xCF\x8C",  // nero
    "\xC4\x8Dist\xC3\xBD",
    "d\xC3\xA9j\xC3\xA0",
    "\xC3\xBC"
    "ber",
    "\xD0\xBA\xD0\xB0\xD0\xB1\xD0\xB5\xD0\xBB\xD1\x8C",  // kabel
    "\xCF\x86\xCE\xAF\xCE\xBB\xCF\x84\xCF\x81\xCE\xBF",  // filtro
    "\xC5\x82"
    "atwy",
    "gro\xC3\x9F"
    "e",
    "\xD1\x81\xD0\xB2\xD0\xB5\xD1\x82",           // svet
    "\xCE\xB6\xCE\xB5\xCF\x83\xCF\x84\xCF\x8C"};  // zesto
const char* const kChinese[] = {"\xE6\xB0\xB4\xE5\xA3\xB6",
                                "\xE7\x94\xB5\xE6\xBA\x90",
                                "\xE5\xBC\x80\xE5\x85\xB3",
                                "\xE7\x9A\x84",
                                "\xE5\x92\x8C",
                                "\xE5\x8A\x9F\xE7\x8E\x87",
                                "\xE7\x94\xB5\xE7\xBC\x86",
                                "\xE5\xBA\x95\xE5\xBA\xA7",
                                "\xE7\x9B\x96\xE5\xAD\x90",
                                "\xE8\xBF\x87\xE6\xBB\xA4\xE5\x99\xA8",
                                "\xE6\x8C\x87\xE7\xA4\xBA\xE7\x81\xAF",
                                "\xE6\x8C\x89\xE4\xB8\x8B",
                                "\xE4\xB9\x8B\xE5\x89\x8D",
                                "\xE4\xBB\x8E\xE4\xB8\x8D",
                                "\xE5\x86\xB7\xE6\xB0\xB4",
                                "\xE5\x8A\xA0\xE7\x83\xAD"};
const char* const kJapanese[] = {"\xE3\x82\x84\xE3\x81\x8B\xE3\x82\x93",
                                 "\xE6\xB0\xB4",
                                 "\xE3\x82\xB9\xE3\x82\xA4\xE3\x83\x83\xE3\x83\x81",
                                 "\xE3\x81\xAE",
                                 "\xE3\x81\xA8",
                                 "\xE9\x9B\xBB\xE6\xBA\x90",
                                 "\xE3\x82\xB1\xE3\x83\xBC\xE3\x83\x96\xE3\x83\xAB",
                                 "\xE5\x8F\xB0\xE5\xBA\xA7",
                                 "\xE3\x81\xB5\xE3\x81\x9F",
                                 "\xE3\x83\x95\xE3\x82\xA3\xE3\x83\xAB\xE3\x82\xBF\xE3\x83\xBC",
                                 "\xE3\x83\xA9\xE3\x83\xB3\xE3\x83\x97",
                                 "\xE6\x8A\xBC\xE3\x81\x99",
                                 "\xE5\x89\x8D\xE3\x81\xAB",
                                 "\xE6\xB1\xBA\xE3\x81\x97\xE3\x81\xA6",
                                 "\xE5\x86\xB7\xE3\x81\x9F\xE3\x81\x84",
                                 "\xE6\xB2\xB8\xE9\xA8\xB0"};
const Shape kLatin{"EN-US", "DE-DE", kEnglish, kGerman, 6, 14, 3, " ", "."};
const Shape kMixed{"EN-US", "DE-DE", kMixedSource, kMixedTarget, 2, 6, 9, " ", "."};
const Shape kCjk{"ZH-CN", "JA-JP", kChinese, kJapanese, 12, 30, 3, "", "\xE3\x80\x82"};

// Writes a TTX document the way a TagEditor-style tool lays out a segmented HTML file:
// FrontMatter, paragraphs between external ut pairs, translation units at MatchPercent 0 and 100
// and without MatchPercent, source and target Tuv, inline ut pairs, df, references and
// no-break spaces.
void Generate(double megabytes, const std::string& path, const Shape& shape) {
  std::ofstream out(path, std::ios::binary);
  const auto target = static_cast<std::uint64_t>(megabytes * 1024 * 1024);
  std::mt19937 random(12345);
  auto sentence = [&](const char* const* vocabulary, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
      if (i) s += (random() % 23 == 0) ? "\xC2\xA0" : shape.space;
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
      } else if (pick > 2 && pick < shape.tags) {
        s += "<ut Type=\"start\" RightEdge=\"angle\" DisplayText=\"i\">&lt;i&gt;</ut>";
        s += vocabulary[random() % 16];
        s += "<ut Type=\"end\" LeftEdge=\"angle\" DisplayText=\"i\">&lt;/i&gt;</ut>";
      } else {
        s += vocabulary[pick];
      }
    }
    return s + shape.stop;
  };
  const std::string source = std::string("<Tuv Lang=\"") + shape.sourceLanguage + "\">";
  const std::string middle = std::string("</Tuv><Tuv Lang=\"") + shape.targetLanguage + "\">";

  out << "\xEF\xBB\xBF<?xml version='1.0'?>\r\n<TRADOStag Version=\"2.0\"><FrontMatter>"
         "<ToolSettings CreationDate=\"20261201T101500Z\" CreationTool=\"bench\" "
         "CreationToolVersion=\"1.0\"/><UserSettings DataType=\"HTML\" O-Encoding=\"UTF-8\" "
         "SettingsName=\"\" SettingsPath=\"\" SourceLanguage=\""
      << shape.sourceLanguage << "\" TargetLanguage=\"" << shape.targetLanguage
      << "\" TargetDefaultFont=\"\" SourceDocumentPath=\"big.html\" SettingsRelativePath=\"\" "
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
      const int n = static_cast<int>(shape.minWords + random() % shape.spanWords);
      const char* open = kind < 5   ? "<Tu Origin=\"manual\" MatchPercent=\"0\">"
                         : kind < 8 ? "<Tu Origin=\"TM\" MatchPercent=\"100\">"
                                    : "<Tu Origin=\"manual\">";
      if (kind < 9) {
        p += open + source + sentence(shape.source, n) + middle + sentence(shape.target, n) +
             (kind < 8 ? "</Tuv></Tu> " : "</Tuv></Tu>\r\n  ");
      } else {
        p += sentence(shape.source, n) + " ";
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

int Convert(bool toIF, const std::string& input, std::int32_t direction) {
  std::string output = input;
  if (toIF) {
    output += ".if";
  } else {
    output += ".ttx";
  }
  CTagvertConverter converter;
  converter.PutProperty(tagvert::CVariant::String(u"Direction"),
                        tagvert::CVariant::Int32(direction));
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
  const std::vector<std::string> a(argv + 1, argv + argc);
  if ((a.size() == 3 || (a.size() == 5 && a[3] == "--shape")) && a[0] == "generate") {
    const std::string shape = a.size() == 5 ? a[4] : "latin";
    if (shape == "latin" || shape == "mixed" || shape == "cjk") {
      Generate(std::atof(a[1].c_str()), a[2],
               shape == "latin"   ? kLatin
               : shape == "mixed" ? kMixed
                                  : kCjk);
      return 0;
    }
  }
  // The target language: German (the generated documents but the CJK one), else the number given.
  const auto direction = [&] {
    return a.size() == 3 ? static_cast<std::int32_t>(std::strtoul(a[2].c_str(), nullptr, 0))
                         : std::int32_t{0x00040000};
  };
  if ((a.size() == 2 || a.size() == 3) && a[0] == "to-if") return Convert(true, a[1], direction());
  if (a.size() == 2 && a[0] == "from-if") return Convert(false, a[1], 0x00040000);
  if (a.size() == 3 && a[0] == "stop") return StopLatency(a[1], std::atoi(a[2].c_str()));
  std::fprintf(stderr,
               "usage: tagvert_bench generate MB FILE [--shape latin|mixed|cjk] | to-if FILE "
               "[DIRECTION] | from-if FILE.if | stop FILE POINTS\n");
  return 2;
}
