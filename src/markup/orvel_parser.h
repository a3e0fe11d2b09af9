// Tagvert: the abstract reader of one format over a storage (COrvelParser).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "markup/element.h"
#include "storage/data_storage.h"

namespace tagvert {

/// Reads one element per call over a storage it does not own (the storage must outlive the
/// parser), and writes strings and units to it.
class COrvelParser {
 public:
  explicit COrvelParser(CDataStorage* storage) : m_storage(storage) {}
  COrvelParser(const COrvelParser&) = delete;
  COrvelParser& operator=(const COrvelParser&) = delete;
  virtual ~COrvelParser() = default;

  /// Reads the next item into `element` (a fresh one); false when the input is exhausted.
  virtual bool ReadElement(IElementX* element) = 0;
  /// The storage's PutString.
  virtual void WriteString(const std::u16string& s) { m_storage->PutString(s); }
  /// The storage's PutChar.
  virtual void WriteChar(char16_t c) { m_storage->PutChar(c); }
  /// The storage's IsEOF.
  virtual bool IsEnd() { return m_storage->IsEOF(); }

 protected:
  CDataStorage* m_storage;
};

}  // namespace tagvert
