// Tagvert: helpers for the structuring tests: element lists read from markup, descriptions.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "markup/elements_stack.h"
#include "markup/sgml_parser.h"
#include "storage/data_storage.h"
#include "storage/memory_stream.h"
#include "support/test_streams.h"

namespace tagvert::test {

/// Concatenation by appending (GCC 12 warns falsely, -Wrestrict, on a literal + a temporary).
template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::string text;
  ((text += parts), ...);
  return text;
}

/// o or c for a paired start or end tag, O or C for an unpaired one, `single` otherwise.
inline const char* TypeLetter(int tagType, const char* single) {
  return tagType == kTagPairedOpen    ? "o"
         : tagType == kTagPairedClose ? "c"
         : tagType == kTagOpen        ? "O"
         : tagType == kTagClose       ? "C"
                                      : single;
}

/// The elements of `document` as the reader cuts them, paired.
inline std::unique_ptr<CElementsStackX> ReadPaired(std::u16string_view document) {
  CDataStorage storage(kModeUtf8, kModeNone);
  storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(Utf8Bytes(document))),
               CEndpoint());
  COrvelSgmlParser parser(&storage, 0, 0, 0);
  auto list = std::make_unique<CElementsStackX>();
  for (auto e = std::make_unique<CElementX>(); parser.ReadElement(e.get());
       e = std::make_unique<CElementX>())
    list->Push(e.release());
  list->PairTags();
  return list;
}

}  // namespace tagvert::test
