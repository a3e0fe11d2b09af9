// Tagvert: a small variant value for properties and property events.
// SPDX-License-Identifier: Apache-2.0
#include "frame/variant.h"

#include <limits>

#include "storage/char_class.h"
#include "storage/number_text.h"

namespace tagvert {

CVariant CVariant::String(std::u16string s) {
  CVariant v(Type::String);
  v.m_string = std::move(s);
  return v;
}

CVariant CVariant::NullString() {
  CVariant v(Type::String);
  v.m_null = true;
  return v;
}

CVariant CVariant::Int16(std::int16_t value) {
  CVariant v(Type::Int16);
  v.m_int = value;
  return v;
}

CVariant CVariant::Int32(std::int32_t value) {
  CVariant v(Type::Int32);
  v.m_int = value;
  return v;
}

CVariant CVariant::Bool(bool value) {
  CVariant v(Type::Bool);
  v.m_int = value ? -1 : 0;
  return v;
}

CVariant CVariant::Interface(std::shared_ptr<void> object) {
  CVariant v(Type::Interface);
  v.m_object = std::move(object);
  return v;
}

CVariant CVariant::Array(std::uint64_t word) {
  CVariant v(Type::Array);
  v.m_word = word;
  return v;
}

CVariant CVariant::Other() {
  return CVariant(Type::Other);
}

HResult CVariant::ToInt32(std::int32_t& out) const {
  switch (m_type) {
    case Type::Empty:
      out = 0;
      return kSOk;
    case Type::Int16:
    case Type::Int32:
    case Type::Bool:
      out = m_int;
      return kSOk;
    case Type::String: {
      size_t i = 0;
      const size_t n = m_string.size();
      while (i < n && CharIsSpace(m_string[i]))
        ++i;
      bool negative = false;
      if (i < n && (m_string[i] == u'-' || m_string[i] == u'+')) negative = m_string[i++] == u'-';
      // Scanning stops past 2^32 as too large; the sign and the range come after.
      const CNumberScan scan =
          NumberScanDigits(std::u16string_view(m_string), i, 10, std::uint64_t{1} << 32);
      if (scan.status == NumberScanStatus::TooLarge) return kDispEOverflow;
      if (scan.status == NumberScanStatus::NoDigits) return kDispETypeMismatch;
      i = scan.end;
      std::int64_t value = static_cast<std::int64_t>(scan.value);
      while (i < n && CharIsSpace(m_string[i]))
        ++i;
      if (i != n) return kDispETypeMismatch;
      if (negative) value = -value;
      if (value < std::numeric_limits<std::int32_t>::min() ||
          value > std::numeric_limits<std::int32_t>::max()) {
        return kDispEOverflow;
      }
      out = static_cast<std::int32_t>(value);
      return kSOk;
    }
    case Type::Interface:
    case Type::Array:
    case Type::Other:
      break;
  }
  return kDispETypeMismatch;
}

bool CVariant::operator==(const CVariant& other) const {
  return m_type == other.m_type && m_null == other.m_null && m_string == other.m_string &&
         m_int == other.m_int && m_word == other.m_word && m_object == other.m_object;
}

}  // namespace tagvert
