// Tagvert: tests of what the command reads from a document before converting it.
// SPDX-License-Identifier: Apache-2.0
#include "cli/document_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/document_input.h"
#include "frame/ttx_converter.h"
#include "storage/memory_stream.h"

namespace tagvert::cli {
namespace {

CDocumentLanguages Scan(const std::string& text) {
  return ScanLanguages(
      std::make_shared<CMemoryStream>(std::vector<std::uint8_t>(text.begin(), text.end())));
}

// The same facts as the conversion to IF reads them off its element table.
CDocumentLanguages ReadByConversion(const std::string& text) {
  CTagvertConverter converter;
  CDocumentLanguages facts;
  converter.SetDocumentReadHook([&facts](const CDocumentFacts& read) {
    facts = read;
    return std::nullopt;
  });
  converter.ConvertToIF(CEndpoint::Stream(std::make_shared<CMemoryStream>(
                            std::vector<std::uint8_t>(text.begin(), text.end()))),
                        CEndpoint::Stream(std::make_shared<CMemoryStream>()));
  return facts;
}

TEST(ScanLanguagesTest, FirstUserSettingsAndDistinctTuvLanguages) {
  const struct {
    const char* document;
    std::optional<std::u16string> target;
    std::vector<std::u16string> tuvs;
    std::u16string source = u"";
    std::uint64_t units = 0, matched = 0;
  } rows[] = {
      {"<TRADOStag><FrontMatter><UserSettings SourceLanguage=\"EN-US\" TargetLanguage=\"FR-FR\"/>"
       "</FrontMatter><Body><Tu><Tuv Lang=\"EN-US\">a</Tuv><Tuv Lang=\"FR-FR\">b</Tuv></Tu>"
       "<Tu><Tuv Lang=\"EN-US\">c</Tuv></Tu></Body></TRADOStag>",
       u"FR-FR",
       {u"EN-US", u"FR-FR"},
       u"EN-US",
       2},
      // Only the first UserSettings counts; names compare without case, values exactly.
      {"<usersettings targetlanguage=\"de-de\"/><UserSettings TargetLanguage=\"FR-FR\"/>"
       "<tuv lang=\"fr\">x</tuv><Tuv Lang=\"FR\">y</Tuv>",
       u"de-de",
       {u"fr", u"FR"}},
      // No TargetLanguage: nothing, even when a later UserSettings has one; a Tuv without Lang.
      {"<UserSettings/><UserSettings TargetLanguage=\"FR-FR\"/><Tuv>x</Tuv>", std::nullopt, {u""}},
      {"", std::nullopt, {}},
      // Units: a MatchPercent other than "0" (or without a value) is matched; end tags, tags in
      // comments and broken tags count as the markup reader reads them.
      {"<tu MatchPercent=\"100\"><Tuv Lang='a'/></tu><TU matchpercent=\"0\"></TU>"
       "<Tu MatchPercent><!-- <Tu><Tuv Lang=\"b\"> --></Tu><Tu Lang=\"c\" <Tuv Lang=\"d\">",
       std::nullopt,
       {u"a", u"d"},
       u"",
       4,
       2},
      // More distinct start tags than the conversion remembers, coming back after others:
      // each counts by its own attributes.
      {"<Tu MatchPercent=\"1\"><Tuv Lang=\"a\"><Tu MatchPercent=\"0\"><Tuv Lang=\"b\"><Tu>"
       "<Tuv Lang=\"c\"><Tu A=\"1\" MatchPercent=\"0\"><Tuv Lang=\"d\">"
       "<Tu A=\"2\" MatchPercent=\"2\"><Tuv Lang=\"e\"><Tu MatchPercent=\"1\"><Tuv Lang=\"a\">"
       "<Tu MatchPercent=\"1\"><Tuv Lang=\"b\"><Tu B=\"3\" MatchPercent=\"7\">"
       "<Tuv Lang=\"e\"><Tu MatchPercent=\"0\"><Tuv Lang=\"f\"><Tu A=\"2\" MatchPercent=\"2\">"
       "<Tuv Lang=\"a\" B=\"1\">",
       std::nullopt,
       {u"a", u"b", u"c", u"d", u"e", u"f"},
       u"",
       10,
       6},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.document);
    for (const CDocumentLanguages& found : {Scan(row.document), ReadByConversion(row.document)}) {
      EXPECT_EQ(found.targetLanguage, row.target);
      EXPECT_EQ(found.tuvLanguages, row.tuvs);
      EXPECT_EQ(found.sourceLanguage, row.source);
      EXPECT_EQ(found.units, row.units);
      EXPECT_EQ(found.matchedUnits, row.matched);
    }
  }
}

TEST(ScanLanguagesTest, TheTargetsTuvLanguageAndTheMismatchWhenNoneMatches) {
  const struct {
    std::vector<std::u16string> tuvs;
    std::u16string source;
    std::int32_t direction;
    std::u16string chosen;
    std::string mismatch;
  } rows[] = {
      {{}, u"", 0x00080000, u"FR-FR", ""},  // no Tuv, nothing to say
      {{u"fr", u"en"}, u"", 0x00080000, u"fr", ""},
      {{u"en", u"de"}, u"", 0x00080000, u"FR-FR", "no Tuv in FR-FR; the document has en, de"},
      {{u"fr", u"en"}, u"", 0, u"UNK-UNK", "no Tuv in UNK-UNK; the document has fr, en"},
      {{u"EN-US", u"FR-FR"}, u"", 0x04010000, u"EN-US", ""},  // the second code of en-us
      // The exact tag first, then other letter case, then the same language in order.
      {{u"fr-CA", u"fr-fr", u"FR-FR"}, u"", 0x00080000, u"FR-FR", ""},
      {{u"fr-CA", u"fr-fr"}, u"", 0x00080000, u"fr-fr", ""},
      {{u"fr-CA", u"FR_be"}, u"", 0x00080000, u"fr-CA", ""},
      // Never the source language by its language alone.
      {{u"en-US", u"en-CA"}, u"EN-us", 0x04020000, u"en-CA", ""},
      {{u"en-US", u"de-DE"},
       u"en-us",
       0x04020000,
       u"EN-GB",
       "no Tuv in EN-GB; the document has en-US, de-DE"},
      {{u"frx", u"f"}, u"", 0x00080000, u"FR-FR", "no Tuv in FR-FR; the document has frx, f"},
  };
  for (const auto& row : rows) {
    CDocumentLanguages languages;
    languages.tuvLanguages = row.tuvs;
    languages.sourceLanguage = row.source;
    EXPECT_EQ(TuvLanguageIn(languages, row.direction), row.chosen) << row.mismatch;
    EXPECT_EQ(TuvMismatch(languages, row.direction), row.mismatch);
  }
}

// What the command says and writes when it converts `document` with the direction chosen from
// its facts: read only until they settle the direction (`whole` false), or all of them.
std::string SaidAndWritten(const std::string& document, const CCliOptions& o, bool whole) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "tagvert_settled_facts_test.ttx";
  std::ofstream(path, std::ios::binary) << document;
  std::ostringstream err;
  CMessages messages(err, o.quiet);
  CTagvertConverter converter;
  UseCommandReading(converter);
  CDocumentLanguages facts;
  const std::int32_t direction =
      DeferDirection(o, path.string(), messages, converter, whole ? &facts : nullptr);
  converter.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(direction));
  const auto target = std::make_shared<CMemoryStream>();
  converter.ConvertToIF(CEndpoint::Stream(std::make_shared<CMemoryStream>(
                            std::vector<std::uint8_t>(document.begin(), document.end()))),
                        CEndpoint::Stream(target));
  std::filesystem::remove(path);
  const std::vector<std::uint8_t>& written = target->Bytes();
  return err.str() + std::string(written.begin(), written.end());
}

TEST(ScanLanguagesTest, FactsReadUntilTheySettleTheDirectionSayAndWriteWhatAllOfThemDo) {
  const struct {
    std::string document;
  } rows[] = {
      // The target's exact tag after other forms of it and other languages.
      {"<TRADOStag><UserSettings SourceLanguage=\"EN-US\" TargetLanguage=\"fr-fr\"/><Tu>"
       "<Tuv Lang=\"fr-CA\">a</Tuv><Tuv Lang=\"fr-fr\">b</Tuv><Tuv Lang=\"FR-FR\">c</Tuv></Tu>"
       "<Tu><Tuv Lang=\"DE-DE\">d</Tuv></Tu></TRADOStag>"},
      // UserSettings after the Tuvs; a second one naming another language.
      {"<TRADOStag><Tu><Tuv Lang=\"EN-US\">a</Tuv><Tuv Lang=\"DE-DE\">b</Tuv></Tu>"
       "<UserSettings TargetLanguage=\"DE-DE\" SourceLanguage=\"EN-US\"/>"
       "<UserSettings TargetLanguage=\"JA-JP\"/><Tu><Tuv Lang=\"JA-JP\">c</Tuv></Tu></TRADOStag>"},
      // No exact tag: the same language further on, or none (every language is named).
      {"<TRADOStag><UserSettings TargetLanguage=\"FR-FR\"/><Tu><Tuv Lang=\"EN-US\">a</Tuv>"
       "<Tuv Lang=\"fr\">b</Tuv></Tu><Tu><Tuv Lang=\"DE-DE\">c</Tuv></Tu></TRADOStag>"},
      {"<TRADOStag><UserSettings TargetLanguage=\"FR-FR\"/><Tu><Tuv Lang=\"EN-US\">a</Tuv>"
       "<Tuv Lang=\"DE-DE\">b</Tuv></Tu><Tu><Tuv>c</Tuv></Tu></TRADOStag>"},
      // A target the table lacks, none at all, no UserSettings; a Tuv only after them.
      {"<TRADOStag><UserSettings TargetLanguage=\"xx-YY\"/><Tu><Tuv Lang=\"FR-FR\">a</Tuv>"
       "</Tu></TRADOStag>"},
      {"<TRADOStag><UserSettings/><Tu/><Tu><Tuv Lang=\"FR-FR\">a</Tuv></Tu></TRADOStag>"},
      {"<TRADOStag><Tu><Tuv Lang=\"FR-FR\">a</Tuv><Tuv Lang=\"EN-US\">b</Tuv></Tu></TRADOStag>"},
  };
  CCliOptions given;
  given.direction = 0x00080000;  // fr-fr
  for (const auto& row : rows) {
    SCOPED_TRACE(row.document);
    for (const CCliOptions& o : {CCliOptions(), given}) {
      EXPECT_EQ(SaidAndWritten(row.document, o, false), SaidAndWritten(row.document, o, true));
    }
  }
}

}  // namespace
}  // namespace tagvert::cli
