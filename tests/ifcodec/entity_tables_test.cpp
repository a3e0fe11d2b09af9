// Tagvert: tests of the entity tables and of code page 1252 against independent listings.
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

using Entry = std::pair<std::u16string, char16_t>;

// A listing in tests/data (written by tools/gen_entity_listing.py) without its comment lines.
std::istringstream Listing(const char* file) {
  std::ifstream in(std::string(TAGVERT_TEST_DATA_DIR) + "/" + file);
  std::string text;
  for (std::string line; std::getline(in, line);)
    if (!line.starts_with('#')) (text += line) += '\n';
  return std::istringstream(text);
}

// The order the listing ("<set> <name> <code point>") implies: the five basic names, the Latin-1
// names by code point, each extra name after its HTML twin, the special names above U+00FF but
// euro, the symbol names with euro before weierp, nbsp last; the rules table swaps entries 1, 2.
TEST(EntityTablesTest, TablesFollowTheGeneratedListing) {
  std::map<char16_t, std::u16string> latin1;
  std::vector<Entry> special, symbol;
  std::istringstream listing = Listing("html401_entities.txt");
  std::size_t count = 0;
  long code = 0, euro = 0;
  for (std::string set, name; listing >> set >> name >> code; ++count) {
    const std::u16string wide = Utf8ToUtf16(name);
    if (name == "euro") euro = code;
    if (set == "lat1" && name != "nbsp") latin1[static_cast<char16_t>(code)] = wide;
    if (set == "special" && code >= 0x100 && name != "euro") special.emplace_back(wide, code);
    if (set == "symbol") symbol.emplace_back(wide, code);
  }
  ASSERT_EQ(count, 252u) << "tests/data/html401_entities.txt missing or incomplete";
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
    if (entry.first == u"weierp") expected.emplace_back(u"euro", euro);
    expected.push_back(entry);
  }
  expected.emplace_back(u"nbsp", 0xA0);
  ASSERT_EQ(expected.size(), static_cast<std::size_t>(kEntityTableSize));
  for (const CEntityEntry* table : {kEscapeTable, kRulesTable}) {
    SCOPED_TRACE(table == kEscapeTable ? "escape table" : "rules table");
    for (std::size_t i = 0; i < kEntityTableSize; ++i) {
      const Entry& want = expected[table == kRulesTable && (i == 1 || i == 2) ? 3 - i : i];
      EXPECT_EQ(Utf16ToUtf8(table[i].name), Utf16ToUtf8(want.first)) << "entry " << i;
      EXPECT_EQ(table[i].unit, want.second) << Utf16ToUtf8(table[i].name);
    }
    EXPECT_TRUE(table[kEntityTableSize].name[0] == u'\0' && table[kEntityTableSize].unit == 0);
  }
}

TEST(Windows1252ToUnitTest, HighBytesFollowTheListingAndOthersKeepTheirValue) {
  std::map<int, int> high;
  std::istringstream listing = Listing("cp1252_high.txt");
  for (int byte = 0, unit = 0; listing >> std::hex >> byte >> unit;)
    high[byte] = unit;
  ASSERT_EQ(high.size(), 32u) << "tests/data/cp1252_high.txt missing or incomplete";
  for (int byte = 0; byte < 256; ++byte)
    EXPECT_EQ(Windows1252ToUnit(static_cast<std::uint8_t>(byte)),
              high.contains(byte) ? high[byte] : byte)
        << byte;
}

}  // namespace
}  // namespace tagvert
