// Tagvert: test helper: a document cut into elements by the markup reader and paired.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string_view>

#include "markup/sgml_parser.h"
#include "storage/memory_stream.h"
#include "support/elements_stack.h"
#include "support/test_streams.h"

namespace tagvert::test {

/// The elements of `document` (read as UTF-8) as the reader cuts them, paired.
inline std::unique_ptr<CElementsStackX> ReadPaired(std::u16string_view document) {
  CDataStorage storage(EncodingMode::Utf8, EncodingMode::None);
  storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(Utf8Bytes(document))),
               CEndpoint());
  COrvelSgmlParser parser(&storage);
  auto list = std::make_unique<CElementsStackX>();
  for (auto e = std::make_unique<CElementX>(); parser.ReadElement(e.get());
       e = std::make_unique<CElementX>()) {
    list->Push(e.release());
  }
  list->PairTags();
  return list;
}

}  // namespace tagvert::test
