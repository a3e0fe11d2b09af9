// Tagvert: tests of the entity tables and of code page 1252 against independent listings.
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/entity_tables.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "storage/char_class.h"

namespace tagvert {
namespace {

using namespace std::literals;
using Entry = std::pair<std::u16string, char16_t>;

// The non-comment lines of a listing in tests/data, written by tools/gen_entity_listing.py.
std::vector<std::string> ListingLines(const char* file) {
  std::ifstream in(std::string(TAGVERT_TEST_DATA_DIR) + "/" + file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  return lines;
}

// The order the listing ("<set> <name> <code point>") implies: the five basic names, the Latin-1
// names by code point with each extra name after its HTML twin, the special names above U+00FF
// without euro, the symbol names with euro before weierp, nbsp last. The rules table swaps the
// second and third entries.
TEST(EntityTablesTest, TablesFollowTheGeneratedListing) {
  std::map<std::u16string, char16_t> unitOf;
  std::map<char16_t, std::u16string> latin1;
  std::vector<Entry> special, symbol;
  for (const std::string& line : ListingLines("html401_entities.txt")) {
    std::istringstream fields(line);
    std::string set, name;
    long unit = 0;
    fields >> set >> name >> unit;
    const std::u16string wide = Utf8ToUtf16(name);
    unitOf[wide] = static_cast<char16_t>(unit);
    if (set == "lat1" && name != "nbsp") latin1[static_cast<char16_t>(unit)] = wide;
    if (set == "special" && unit >= 0x100 && name != "euro") special.emplace_back(wide, unit);
    if (set == "symbol") symbol.emplace_back(wide, unit);
  }
  ASSERT_EQ(unitOf.size(), 252u) << "tests/data/html401_entities.txt missing or incomplete";
  std::vector<Entry> expected = {
      {u"lt", u'<'}, {u"amp", u'&'}, {u"gt", u'>'}, {u"quot", u'"'}, {u"apos", u'\''}};
  const std::map<std::u16string, std::u16string> twin = {
      {u"brvbar", u"brkbar"}, {u"uml", u"die"}, {u"macr", u"hibar"}};
  for (const auto& [unit, name] : latin1) {
    expected.emplace_back(name, unit);
    if (twin.contains(name)) expected.emplace_back(twin.at(name), unit);
  }
  expected.insert(expected.end(), special.begin(), special.end());
  for (const Entry& entry : symbol) {
    if (entry.first == u"weierp") expected.emplace_back(u"euro", unitOf[u"euro"]);
    expected.push_back(entry);
  }
  expected.emplace_back(u"nbsp", 0xA0);
  ASSERT_EQ(expected.size(), static_cast<std::size_t>(kEntityTableSize));
  std::vector<Entry> rulesOrder = expected;
  std::swap(rulesOrder[1], rulesOrder[2]);

  for (const auto& [table, want] :
       {std::pair{kEscapeTable, &expected}, {kRulesTable, &rulesOrder}}) {
    SCOPED_TRACE(table == kEscapeTable ? "escape table" : "rules table");
    for (int i = 0; i < kEntityTableSize; ++i) {
      EXPECT_EQ(Utf16ToUtf8(table[i].name), Utf16ToUtf8((*want)[i].first)) << "entry " << i;
      EXPECT_EQ(table[i].unit, (*want)[i].second) << Utf16ToUtf8(table[i].name);
    }
    EXPECT_TRUE(table[kEntityTableSize].name[0] == u'\0' && table[kEntityTableSize].unit == 0);
  }
}

// Names compare exactly and whole; a unit with two names gives the first; a count hides the later
// entries.
TEST(EntityTablesTest, LookupsAreExactAndSeeOnlyTheirPrefix) {
  for (std::u16string_view missing : {u"AMP"sv, u""sv, u"am"sv, u"ampx"sv, u"amp\0"sv})
    EXPECT_EQ(EntityFindByName(kEscapeTable, missing), nullptr) << missing.size();
  EXPECT_EQ(EntityFindByName(kRulesTable, u"agrave")->unit, 0xE0);
  const auto byUnit = [](int count, char16_t unit) {
    const CEntityEntry* e = EntityFindByUnit(kEscapeTable, count, unit);
    return e == nullptr ? std::string("(none) ") : Utf16ToUtf8(e->name).append(" ");
  };
  EXPECT_EQ(
      byUnit(256, 0xA6) + byUnit(256, 0xA8) + byUnit(256, 0xAF) + byUnit(2, u'>') + byUnit(5, u'>'),
      "brvbar uml macr (none) gt ");
}

TEST(Windows1252ToUnitTest, HighBytesFollowTheListingAndOthersKeepTheirValue) {
  std::map<int, unsigned> high;
  for (const std::string& line : ListingLines("cp1252_high.txt")) {
    std::istringstream fields(line);
    unsigned byte = 0, unit = 0;
    fields >> std::hex >> byte >> unit;
    high[static_cast<int>(byte)] = unit;
  }
  ASSERT_EQ(high.size(), 32u) << "tests/data/cp1252_high.txt missing or incomplete";
  for (int byte = 0; byte < 256; ++byte)
    EXPECT_EQ(Windows1252ToUnit(static_cast<std::uint8_t>(byte)),
              high.contains(byte) ? high[byte] : static_cast<unsigned>(byte))
        << byte;
  EXPECT_EQ(Windows1252ToUnit(150), 0x2013);  // the listing itself is right where it matters
}

}  // namespace
}  // namespace tagvert
