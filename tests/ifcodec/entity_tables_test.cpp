// Tagvert: tests of the entity tables against an independent HTML 4.01 listing, and of code
// page 1252 against an independent listing of the code page.
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/entity_tables.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
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

// Both tables entry by entry, as the HTML 4.01 listing ("<set> <name> <code point>") implies
// them: the five basic names, the Latin-1 names by code point with the three extra names after
// their HTML twins, the special names above U+00FF without euro, the symbol names with euro
// before weierp, nbsp last. The rules table swaps the second and third entries.
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
  std::vector<Entry> expected = {{u"lt", unitOf[u"lt"]},
                                 {u"amp", unitOf[u"amp"]},
                                 {u"gt", unitOf[u"gt"]},
                                 {u"quot", unitOf[u"quot"]},
                                 {u"apos", u'\''}};
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
    EXPECT_EQ(table[kEntityTableSize].name[0], u'\0');
    EXPECT_EQ(table[kEntityTableSize].unit, 0);
  }
}

// The code points themselves are checked above; here the lookups: exact names, prefixes, and the
// first of two names for a unit.
TEST(EntityTablesTest, LookupsAreExactAndSeeOnlyTheirPrefix) {
  const struct {
    const CEntityEntry* table;
    int count;  // -1: the whole table, up to the terminating entry
    std::u16string_view name;
    int unit;  // -1: not found
  } byName[] = {{kEscapeTable, -1, u"Agrave", 0xC0}, {kEscapeTable, -1, u"agrave", 0xE0},
                {kEscapeTable, -1, u"AMP", -1},      {kEscapeTable, -1, u"", -1},
                {kEscapeTable, -1, u"am", -1},       {kEscapeTable, -1, u"ampx", -1},
                {kEscapeTable, -1, u"amp\0"sv, -1},  {kEscapeTable, 2, u"gt", -1},
                {kEscapeTable, 5, u"gt", u'>'},      {kRulesTable, 2, u"gt", u'>'}};
  for (const auto& c : byName) {
    const CEntityEntry* entry = c.count < 0 ? EntityFindByName(c.table, c.name)
                                            : EntityFindByName(c.table, c.count, c.name);
    EXPECT_EQ(entry == nullptr ? -1 : entry->unit, c.unit) << Utf16ToUtf8(c.name) << " " << c.count;
  }
  const struct {
    int count;
    char16_t unit;
    const char* name;
  } byUnit[] = {{256, 0xA6, "brvbar"}, {256, 0xA8, "uml"}, {256, 0xAF, "macr"},
                {2, u'>', "(none)"},   {5, u'>', "gt"},    {256, 0, "(none)"}};
  for (const auto& c : byUnit) {
    const CEntityEntry* entry = EntityFindByUnit(kEscapeTable, c.count, c.unit);
    EXPECT_EQ(entry == nullptr ? "(none)" : Utf16ToUtf8(entry->name), c.name) << c.count;
  }
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
  for (int byte = 0; byte < 256; ++byte) {
    const unsigned expected = high.contains(byte) ? high[byte] : static_cast<unsigned>(byte);
    EXPECT_EQ(Windows1252ToUnit(static_cast<std::uint8_t>(byte)), expected) << byte;
  }
  EXPECT_EQ(Windows1252ToUnit(150), 0x2013);  // the listing itself is right where it matters
}

}  // namespace
}  // namespace tagvert
