// Tagvert: helpers of the fuzz targets: in-memory storages, decoding and reading items.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "markup/element.h"
#include "markup/sgml_parser.h"
#include "storage/data_storage.h"
#include "storage/memory_stream.h"

namespace tagvert::fuzz {

/// Stops the run when an invariant does not hold (libFuzzer then saves the input).
#define TAGVERT_FUZZ_CHECK(condition)   \
  do {                                  \
    if (!(condition)) __builtin_trap(); \
  } while (false)

/// A storage reading `bytes` from memory, with no output.
inline std::unique_ptr<CDataStorage> OpenBytes(const std::vector<std::uint8_t>& bytes) {
  auto storage = std::make_unique<CDataStorage>(EncodingMode::Single, EncodingMode::None);
  storage->Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(bytes)), CEndpoint());
  return storage;
}

/// The units of a markup document as the reader decodes them: by byte-order mark, UTF-8 when
/// there is none.
inline std::u16string DecodeMarkup(const std::vector<std::uint8_t>& bytes) {
  auto storage = OpenBytes(bytes);
  if (!storage->DetectBOM()) storage->SetInputMode(EncodingMode::Utf8);
  std::u16string units;
  char16_t ch = 0;
  while (storage->GetChar(ch))
    units.push_back(ch);
  return units;
}

/// One item of a markup document: whether it is markup, its exact source text, and as the
/// reader cut it: tag type, name and attributes (name and value as written).
struct CItem {
  bool markup;
  std::u16string source;
  TagType tagType = TagType::Single;
  std::u16string name;
  std::vector<std::pair<std::u16string, std::u16string>> attributes;
  bool operator==(const CItem&) const = default;
};

/// The items of a markup document as the reader cuts them.
inline std::vector<CItem> ReadMarkupItems(const std::vector<std::uint8_t>& bytes) {
  auto storage = OpenBytes(bytes);
  COrvelSgmlParser reader(storage.get(), SgmlParserMode::DetectInput);
  std::vector<CItem> items;
  for (;;) {
    CElementX element;
    if (!reader.ReadElement(&element)) break;
    CItem& item = items.emplace_back();
    item.markup = element.GetIsTag();
    item.source = element.GetSourceTextRef();
    item.tagType = element.GetTagType();
    item.name = element.GetNameRef();
    for (const CAttributeX& attribute : element.GetAttributes())
      item.attributes.emplace_back(attribute.m_name, attribute.m_value);
  }
  return items;
}

}  // namespace tagvert::fuzz
