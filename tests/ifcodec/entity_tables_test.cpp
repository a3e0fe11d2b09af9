// Tagvert: tests of the entity tables against an independent HTML 4.01 listing, and of code
// page 1252 against an independent listing of the code page.
// SPDX-License-Identifier: Apache-2.0
#include "ifcodec/entity_tables.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "storage/char_class.h"

namespace tagvert {
namespace {

struct ListedEntity {
  std::string set;
  std::u16string name;
  char16_t unit;
};

// tests/data/html401_entities.txt, written by tools/gen_entity_listing.py from the HTML 4.01
// entity files and Python's html.entities.
std::vector<ListedEntity> ReadListing() {
  std::ifstream in(std::string(TAGVERT_TEST_DATA_DIR) + "/html401_entities.txt");
  std::vector<ListedEntity> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string set, name;
    long value = 0;
    fields >> set >> name >> value;
    rows.push_back({set, Utf8ToUtf16(name), static_cast<char16_t>(value)});
  }
  return rows;
}

std::string Narrow(const char16_t* name) {
  return Utf16ToUtf8(name);
}

std::vector<std::u16string> TableNames(const CEntityEntry* table) {
  std::vector<std::u16string> names;
  for (int i = 0; i < kEntityTableSize; ++i)
    names.emplace_back(table[i].name);
  return names;
}

TEST(EntityTablesTest, ListingHoldsTheHtml401Names) {
  const std::vector<ListedEntity> rows = ReadListing();
  ASSERT_EQ(rows.size(), 252u) << "tests/data/html401_entities.txt missing or incomplete";
}

TEST(EntityTablesTest, BothTablesHold256EntriesAndTheTerminator) {
  for (const CEntityEntry* table : {kEscapeTable, kRulesTable}) {
    SCOPED_TRACE(table == kEscapeTable ? "escape table" : "rules table");
    for (int i = 0; i < kEntityTableSize; ++i) {
      ASSERT_NE(table[i].name[0], u'\0') << "entry " << i;
      ASSERT_NE(table[i].unit, 0) << "entry " << i;
    }
    EXPECT_EQ(table[kEntityTableSize].name[0], u'\0');
    EXPECT_EQ(table[kEntityTableSize].unit, 0);
  }
}

TEST(EntityTablesTest, EveryListedNameHasItsCodePointInBothTables) {
  const std::vector<ListedEntity> rows = ReadListing();
  ASSERT_EQ(rows.size(), 252u);
  for (const CEntityEntry* table : {kEscapeTable, kRulesTable}) {
    for (const ListedEntity& row : rows) {
      SCOPED_TRACE(Utf16ToUtf8(row.name));
      const CEntityEntry* entry = EntityFindByName(table, row.name);
      ASSERT_NE(entry, nullptr);
      EXPECT_EQ(entry->unit, row.unit);
    }
  }
}

TEST(EntityTablesTest, TablesHoldTheListedNamesAndFourMoreEachOnce) {
  const std::vector<ListedEntity> rows = ReadListing();
  std::multiset<std::u16string> expected;
  for (const ListedEntity& row : rows)
    expected.insert(row.name);
  expected.insert({u"apos", u"brkbar", u"die", u"hibar"});
  for (const CEntityEntry* table : {kEscapeTable, kRulesTable}) {
    const std::vector<std::u16string> names = TableNames(table);
    EXPECT_EQ(std::multiset<std::u16string>(names.begin(), names.end()), expected);
  }
}

TEST(EntityTablesTest, ExtraNamesCarryTheirUnits) {
  const struct {
    const char16_t* name;
    char16_t unit;
  } cases[] = {{u"apos", 0x27}, {u"brkbar", 0xA6}, {u"die", 0xA8}, {u"hibar", 0xAF}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    for (const CEntityEntry* table : {kEscapeTable, kRulesTable}) {
      const CEntityEntry* entry = EntityFindByName(table, c.name);
      ASSERT_NE(entry, nullptr);
      EXPECT_EQ(entry->unit, c.unit);
    }
  }
}

TEST(EntityTablesTest, TablesBeginWithTheirOwnFiveBasicNames) {
  const std::vector<std::u16string> escape = TableNames(kEscapeTable);
  const std::vector<std::u16string> rules = TableNames(kRulesTable);
  EXPECT_EQ(std::vector<std::u16string>(escape.begin(), escape.begin() + 5),
            (std::vector<std::u16string>{u"lt", u"amp", u"gt", u"quot", u"apos"}));
  EXPECT_EQ(std::vector<std::u16string>(rules.begin(), rules.begin() + 5),
            (std::vector<std::u16string>{u"lt", u"gt", u"amp", u"quot", u"apos"}));
  for (int i = 5; i < kEntityTableSize; ++i) {
    EXPECT_EQ(escape[i], rules[i]) << "entry " << i;
    EXPECT_EQ(kEscapeTable[i].unit, kRulesTable[i].unit) << "entry " << i;
  }
}

// The order from the sixth entry on, derived from the listing: Latin-1 by code point from
// iexcl to yuml with the three extra names after their HTML twins, the special names without
// the four basic ones and without euro, the symbol names with euro before weierp (between the
// General Punctuation and the Letterlike Symbols), nbsp last.
TEST(EntityTablesTest, OrderFollowsTheListing) {
  const std::vector<ListedEntity> rows = ReadListing();
  ASSERT_EQ(rows.size(), 252u);
  std::map<char16_t, std::u16string> latin1;
  std::vector<std::u16string> special, symbol;
  for (const ListedEntity& row : rows) {
    if (row.set == "lat1" && row.name != u"nbsp") latin1[row.unit] = row.name;
    if (row.set == "special" && row.unit >= 0x100 && row.name != u"euro")
      special.push_back(row.name);
    if (row.set == "symbol") {
      if (row.name == u"weierp") symbol.push_back(u"euro");
      symbol.push_back(row.name);
    }
  }
  std::vector<std::u16string> expected;
  for (const auto& [unit, name] : latin1) {
    expected.push_back(name);
    if (name == u"brvbar") expected.push_back(u"brkbar");
    if (name == u"uml") expected.push_back(u"die");
    if (name == u"macr") expected.push_back(u"hibar");
  }
  ASSERT_EQ(latin1.begin()->second, u"iexcl");
  ASSERT_EQ(latin1.rbegin()->second, u"yuml");
  ASSERT_EQ(special.front(), u"OElig");
  ASSERT_EQ(special.back(), u"rsaquo");
  ASSERT_EQ(symbol.front(), u"fnof");
  ASSERT_EQ(symbol.back(), u"diams");
  expected.insert(expected.end(), special.begin(), special.end());
  expected.insert(expected.end(), symbol.begin(), symbol.end());
  expected.push_back(u"nbsp");

  const std::vector<std::u16string> names = TableNames(kEscapeTable);
  ASSERT_EQ(expected.size(), names.size() - 5);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Utf16ToUtf8(names[i + 5]), Utf16ToUtf8(expected[i])) << "entry " << i + 5;
  }
}

TEST(EntityTablesTest, MathematicalSymbolsResolve) {
  const struct {
    const char16_t* name;
    char16_t unit;
  } cases[] = {{u"sum", 0x2211},   {u"minus", 0x2212}, {u"and", 0x2227},  {u"or", 0x2228},
               {u"asymp", 0x2248}, {u"cong", 0x2245},  {u"perp", 0x22A5}, {u"euro", 0x20AC}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    const CEntityEntry* entry = EntityFindByName(kEscapeTable, c.name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->unit, c.unit);
  }
}

TEST(EntityTablesTest, NamesAreCaseSensitive) {
  EXPECT_EQ(EntityFindByName(kEscapeTable, u"AMP"), nullptr);
  EXPECT_EQ(EntityFindByName(kEscapeTable, u"Amp"), nullptr);
  ASSERT_NE(EntityFindByName(kEscapeTable, u"Agrave"), nullptr);
  ASSERT_NE(EntityFindByName(kEscapeTable, u"agrave"), nullptr);
  EXPECT_EQ(EntityFindByName(kEscapeTable, u"Agrave")->unit, 0xC0);
  EXPECT_EQ(EntityFindByName(kEscapeTable, u"agrave")->unit, 0xE0);
}

TEST(EntityTablesTest, NameLookupNeedsTheWholeName) {
  EXPECT_EQ(EntityFindByName(kEscapeTable, u""), nullptr);
  EXPECT_EQ(EntityFindByName(kEscapeTable, u"am"), nullptr);
  EXPECT_EQ(EntityFindByName(kEscapeTable, u"ampx"), nullptr);
  EXPECT_EQ(EntityFindByName(kEscapeTable, std::u16string_view(u"amp\0", 4)), nullptr);
}

TEST(EntityTablesTest, PrefixLookupsSeeOnlyThePrefix) {
  EXPECT_EQ(EntityFindByName(kEscapeTable, 2, u"gt"), nullptr);
  ASSERT_NE(EntityFindByName(kEscapeTable, 5, u"gt"), nullptr);
  EXPECT_EQ(EntityFindByName(kRulesTable, 2, u"gt")->unit, u'>');
  EXPECT_EQ(EntityFindByName(kRulesTable, 5, u"eacute"), nullptr);
  EXPECT_EQ(EntityFindByUnit(kEscapeTable, 2, u'>'), nullptr);
  ASSERT_NE(EntityFindByUnit(kEscapeTable, 5, u'\''), nullptr);
  EXPECT_EQ(std::u16string(EntityFindByUnit(kEscapeTable, 5, u'\'')->name), u"apos");
  EXPECT_EQ(EntityFindByUnit(kEscapeTable, kEntityTableSize, 0), nullptr);
}

TEST(EntityTablesTest, UnitLookupGivesTheHtmlNameOfTwoNameUnits) {
  const struct {
    char16_t unit;
    const char16_t* name;
  } cases[] = {{0xA6, u"brvbar"}, {0xA8, u"uml"}, {0xAF, u"macr"}, {0xA0, u"nbsp"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    const CEntityEntry* entry = EntityFindByUnit(kRulesTable, kEntityTableSize, c.unit);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::u16string(entry->name), c.name);
  }
}

TEST(EntityTablesTest, OnlyThreeUnitsHaveTwoNames) {
  std::map<char16_t, int> counts;
  for (int i = 0; i < kEntityTableSize; ++i)
    ++counts[kEscapeTable[i].unit];
  std::set<char16_t> twice;
  for (const auto& [unit, count] : counts) {
    EXPECT_LE(count, 2);
    if (count > 1) twice.insert(unit);
  }
  EXPECT_EQ(twice, (std::set<char16_t>{0xA6, 0xA8, 0xAF}));
}

TEST(Windows1252ToUnitTest, HighBytesFollowTheListing) {
  std::ifstream in(std::string(TAGVERT_TEST_DATA_DIR) + "/cp1252_high.txt");
  std::string line;
  int seen = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    unsigned byte = 0, unit = 0;
    fields >> std::hex >> byte >> unit;
    SCOPED_TRACE(line);
    EXPECT_EQ(Windows1252ToUnit(static_cast<std::uint8_t>(byte)), unit);
    ++seen;
  }
  EXPECT_EQ(seen, 32);
}

TEST(Windows1252ToUnitTest, KnownBytes) {
  EXPECT_EQ(Windows1252ToUnit(150), 0x2013);
  EXPECT_EQ(Windows1252ToUnit(0x80), 0x20AC);
  EXPECT_EQ(Windows1252ToUnit(0x9F), 0x0178);
  for (std::uint8_t unassigned : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    EXPECT_EQ(Windows1252ToUnit(unassigned), unassigned);
  }
}

TEST(Windows1252ToUnitTest, BytesOutsideTheHighRangeKeepTheirValue) {
  for (int byte = 0; byte < 256; ++byte) {
    if (byte >= 0x80 && byte <= 0x9F) continue;
    EXPECT_EQ(Windows1252ToUnit(static_cast<std::uint8_t>(byte)), byte);
  }
}

}  // namespace
}  // namespace tagvert
