// Tagvert: tests of the check of a TTX document.
// SPDX-License-Identifier: Apache-2.0
#include "cli/document_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/memory_stream.h"

namespace tagvert::cli {
namespace {

// Each problem of `document` (UTF-8) as "LINE:COLUMN message", in the order reported, every
// problem listed; the target language is DE-DE.
std::vector<std::string> Check(const std::string& document) {
  std::vector<std::string> said;
  CheckDocument(
      std::make_shared<CMemoryStream>(std::vector<std::uint8_t>(document.begin(), document.end())),
      [](const CDocumentLanguages&) { return std::u16string(u"DE-DE"); },
      [&](std::uint64_t line, std::uint64_t column, const std::string& text) {
        said.push_back(std::to_string(line) + ":" + std::to_string(column) + " " + text);
      });
  return said;
}

const char* const kEndAlone = "ut placeholder of Type=\"end\" without its start";

// Placeholders of many more DisplayTexts than the tags the check keeps facts of: each start,
// each end that closes it, each second end and the start left open are told apart as their
// own tag's attributes say, whichever tags' facts were kept before.
TEST(CheckDocumentTest, PlaceholdersOfManyDisplayTexts) {
  constexpr int kDisplays = 300;
  std::string document = "<Tu><Tuv Lang=\"DE-DE\">\n";
  const auto ut = [](const char* type, int display) {
    return std::string("<ut Type=\"") + type + "\" DisplayText=\"d" + std::to_string(display) +
           "\">x</ut>\n";
  };
  for (int k = 0; k < kDisplays; ++k)
    document += ut("start", k);
  for (int k = kDisplays - 1; k >= 0; --k)
    document += ut("end", k);
  for (int k = 0; k < kDisplays; ++k)
    document += ut("end", k);
  document += ut("start", kDisplays) + "</Tuv></Tu>\n";
  std::vector<std::string> expected;
  expected.reserve(kDisplays + 1);
  for (int k = 0; k < kDisplays; ++k)
    expected.push_back(std::to_string(2 * kDisplays + 2 + k) + ":1 " + kEndAlone);
  expected.push_back(std::to_string(3 * kDisplays + 2) +
                     ":1 ut placeholder of Type=\"start\" without its end");
  EXPECT_EQ(Check(document), expected);
}

// An end tag that closes an element opened before the last one: those opened inside it are
// never closed, and the element of its name opened before it is the one the next end closes.
TEST(CheckDocumentTest, EndTagsThatCloseAnEarlierElement) {
  EXPECT_EQ(
      Check("<a><b><a><c></b></a></a>"),
      (std::vector<std::string>{"1:10 start tag <c> never closed (</b> at 1:13 closes its parent)",
                                "1:7 start tag <a> never closed (</b> at 1:13 closes its parent)",
                                "1:21 end tag </a> without a start tag"}));
}

// A text run's '&' is found up to the run's end and no further, however near the document's end
// the run lies, in a narrow and a wide source (a first line of "€" makes the source wide).
TEST(CheckDocumentTest, AmpersandsAtTheEndsOfTextRuns) {
  for (const std::string first : {"\n", "\xE2\x82\xAC\n"}) {
    EXPECT_EQ(Check(first + "<b>x&</b><c a=\"&\"/>&lt;y&lt&"),
              (std::vector<std::string>{"2:5 '&' that starts no reference (write &amp;)",
                                        "2:25 '&' that starts no reference (write &amp;)",
                                        "2:28 '&' that starts no reference (write &amp;)"}))
        << first.size();
  }
}

}  // namespace
}  // namespace tagvert::cli
