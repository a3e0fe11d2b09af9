// Tagvert: a small variant value for properties and property events (CVariant).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "storage/hresult.h"

namespace tagvert {

/// Result codes of the variant conversion to a 32-bit integer.
inline constexpr HResult kDispETypeMismatch = MakeHResult(0x80020005);
inline constexpr HResult kDispEOverflow = MakeHResult(0x8002000A);

/// The values a host passes as property names, indexes and property values: empty, a string
/// (possibly null), a 16-bit or 32-bit integer, a boolean, an interface, an array word, or a
/// value of another type (which property operations refuse).
class CVariant {
 public:
  enum class Type { Empty, String, Int16, Int32, Bool, Interface, Array, Other };

  CVariant() = default;
  static CVariant String(std::u16string s);
  /// A string value that holds no string at all (a null string pointer).
  static CVariant NullString();
  static CVariant Int16(std::int16_t v);
  static CVariant Int32(std::int32_t v);
  static CVariant Bool(bool v);
  /// An interface value; the variant holds a counted reference (shared ownership).
  static CVariant Interface(std::shared_ptr<void> object);
  /// An array value; only its raw value word is carried.
  static CVariant Array(std::uint64_t word);
  static CVariant Other();

  Type GetType() const { return m_type; }
  bool IsNullString() const { return m_type == Type::String && m_null; }
  const std::u16string& GetString() const { return m_string; }
  std::int32_t GetInt() const { return m_int; }
  bool GetBool() const { return m_int != 0; }
  const std::shared_ptr<void>& GetInterface() const { return m_object; }
  std::uint64_t GetWord() const { return m_word; }

  /// The platform value this variant was made from, if any (a COM VARIANT in the DLL). The
  /// frame never looks at it; events hand it back to listeners of the same platform, so that a
  /// host sees exactly the value it passed. Not part of the comparison.
  const std::shared_ptr<const void>& GetNative() const { return m_native; }
  void SetNative(std::shared_ptr<const void> native) { m_native = std::move(native); }

  /// Converts to a 32-bit integer as the platform's variant conversion does: integers as they
  /// are, a boolean as -1 or 0, empty as 0, a string holding a decimal number (surrounding
  /// blanks allowed) as that number. Returns kSOk, kDispETypeMismatch or kDispEOverflow.
  HResult ToInt32(std::int32_t& out) const;

  bool operator==(const CVariant& other) const;

 private:
  Type m_type = Type::Empty;
  bool m_null = false;
  std::u16string m_string;
  std::int32_t m_int = 0;
  std::uint64_t m_word = 0;
  std::shared_ptr<void> m_object;
  std::shared_ptr<const void> m_native;
};

}  // namespace tagvert
