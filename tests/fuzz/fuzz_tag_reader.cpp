// Tagvert: fuzz target: the tag reader cuts any bytes into items whose source texts, put
// together, are exactly the decoded input; the element table's scanner cuts the same units into
// the same items (texts, kinds, tag types, names and attributes).
// SPDX-License-Identifier: Apache-2.0
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "markup/element_table.h"

namespace {

using namespace tagvert;

// `narrow`: the units go into a narrow source, one byte each while they are below U+0100.
std::vector<fuzz::CItem> ScanItems(const std::u16string& units, bool narrow) {
  CElementTable table;
  if (narrow) table.Source().SetNarrow();
  table.Source().Assign(units);
  ScanElements(table);
  std::vector<fuzz::CItem> items;
  CAttributeLookup lookupB(table, {{u"b"}});
  for (const CElementRecord& record : table.Records()) {
    fuzz::CItem& item = items.emplace_back();
    item.markup = record.IsTag();
    item.source = table.Text(record);
    item.tagType = record.tagType;
    item.name = table.Name(record);
    std::vector<CAttributeSpan> attributes;
    table.ReadAttributes(record, attributes);
    for (const CAttributeSpan& span : attributes)
      item.attributes.emplace_back(table.AttributeName(span), table.AttributeValue(span));
    // A look-up by name finds the first attribute of that name: the last attribute's name on
    // its own, and "b" through one look-up over the whole table (which remembers tags).
    const auto firstNamed = [&](std::u16string_view name) {
      return std::find_if(item.attributes.begin(), item.attributes.end(),
                          [&](const auto& attribute) { return attribute.first == name; });
    };
    std::u16string_view value;
    if (!item.attributes.empty()) {
      CAttributeLookup byName(table, {{item.attributes.back().first}});
      TAGVERT_FUZZ_CHECK(byName.Find(record, &value) == 1 &&
                         value == firstNamed(item.attributes.back().first)->second);
    }
    const auto b = firstNamed(u"b");
    const unsigned found = lookupB.Find(record, &value);
    TAGVERT_FUZZ_CHECK(b == item.attributes.end() ? found == 0 : found == 1 && value == b->second);
  }
  return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  const std::vector<fuzz::CItem> items = fuzz::ReadMarkupItems(bytes);
  const std::u16string units = fuzz::DecodeMarkup(bytes);
  std::u16string joined;
  for (const fuzz::CItem& item : items)
    joined += item.source;
  TAGVERT_FUZZ_CHECK(joined == units);
  TAGVERT_FUZZ_CHECK(ScanItems(units, false) == items);
  TAGVERT_FUZZ_CHECK(ScanItems(units, true) == items);
  return 0;
}
