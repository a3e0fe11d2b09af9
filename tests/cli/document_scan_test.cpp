// Tagvert: tests of what the command reads from a document before converting it.
// SPDX-License-Identifier: Apache-2.0
#include "cli/document_scan.h"

#include <gtest/gtest.h>

#include "storage/memory_stream.h"

namespace tagvert::cli {
namespace {

CDocumentLanguages Scan(const std::string& text) {
  return ScanLanguages(
      std::make_shared<CMemoryStream>(std::vector<std::uint8_t>(text.begin(), text.end())));
}

TEST(ScanLanguagesTest, FirstUserSettingsAndDistinctTuvLanguages) {
  const struct {
    const char* document;
    std::optional<std::u16string> target;
    std::vector<std::u16string> tuvs;
  } rows[] = {
      {"<TRADOStag><FrontMatter><UserSettings SourceLanguage=\"EN-US\" TargetLanguage=\"FR-FR\"/>"
       "</FrontMatter><Body><Tu><Tuv Lang=\"EN-US\">a</Tuv><Tuv Lang=\"FR-FR\">b</Tuv></Tu>"
       "<Tu><Tuv Lang=\"EN-US\">c</Tuv></Tu></Body></TRADOStag>",
       u"FR-FR",
       {u"EN-US", u"FR-FR"}},
      // Only the first UserSettings counts; names compare without case, values exactly.
      {"<usersettings targetlanguage=\"de-de\"/><UserSettings TargetLanguage=\"FR-FR\"/>"
       "<tuv lang=\"fr\">x</tuv><Tuv Lang=\"FR\">y</Tuv>",
       u"de-de",
       {u"fr", u"FR"}},
      // No TargetLanguage: nothing, even when a later UserSettings has one; a Tuv without Lang.
      {"<UserSettings/><UserSettings TargetLanguage=\"FR-FR\"/><Tuv>x</Tuv>", std::nullopt, {u""}},
      {"", std::nullopt, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.document);
    const CDocumentLanguages found = Scan(row.document);
    EXPECT_EQ(found.targetLanguage, row.target);
    EXPECT_EQ(found.tuvLanguages, row.tuvs);
  }
}

TEST(ScanLanguagesTest, TuvMismatchNamesTheLanguagesFound) {
  CDocumentLanguages languages;
  EXPECT_EQ(TuvMismatch(languages, 0x00080000), "");  // no Tuv, nothing to say
  languages.tuvLanguages = {u"fr", u"en"};
  EXPECT_EQ(TuvMismatch(languages, 0x00080000), "no Tuv in FR-FR; the document has fr, en");
  EXPECT_EQ(TuvMismatch(languages, 0), "no Tuv in UNK-UNK; the document has fr, en");
  languages.tuvLanguages = {u"EN-US", u"FR-FR"};
  EXPECT_EQ(TuvMismatch(languages, 0x00080000), "");
  EXPECT_EQ(TuvMismatch(languages, 0x04010000), "");  // the second code of en-us
}

}  // namespace
}  // namespace tagvert::cli
