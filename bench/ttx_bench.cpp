// Tagvert: conversion benchmark over generated, realistic TTX documents.
// SPDX-License-Identifier: Apache-2.0
//
//   tagvert_bench generate MB FILE   writes a TTX document of about MB megabytes
//   tagvert_bench to-if FILE          converts FILE to FILE.if and reports MB/s and peak memory
//   tagvert_bench from-if FILE.if     converts FILE.if back to TTX and reports the same
//
// Each conversion runs in a process of its own, so the peak resident memory it reports belongs
// to that conversion alone. bench/run.sh runs the 5 MB and 50 MB cases.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "frame/ttx_converter.h"
#include "platform/cli_services.h"
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
      const unsigned kind = random() % 10;
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

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "generate") {
    Generate(std::atof(argv[2]), argv[3]);
    return 0;
  }
  if (argc == 3 && std::string(argv[1]) == "to-if") return Convert(true, argv[2]);
  if (argc == 3 && std::string(argv[1]) == "from-if") return Convert(false, argv[2]);
  std::fprintf(stderr, "usage: tagvert_bench generate MB FILE | to-if FILE | from-if FILE.if\n");
  return 2;
}
