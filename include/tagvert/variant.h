// Tagvert: a small variant value for properties and property events (CVariant).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "tagvert/export.h"
#include "tagvert/hresult.h"

namespace tagvert {

/// The variant conversion's result for a value that is no number.
inline constexpr HResult kDispETypeMismatch = MakeHResult(0x80020005);
/// The variant conversion's result for a number outside the 32-bit range.
inline constexpr HResult kDispEOverflow = MakeHResult(0x8002000A);

/// The values a host passes as property names, indexes and property values: empty, a string
/// (possibly null), a 16-bit or 32-bit integer, a boolean, an interface, an array word, or a
/// value of another type (which property operations refuse).
class TAGVERT_API CVariant {
 public:
  /// The kind of value held.
  enum class Type { Empty, String, Int16, Int32, Bool, Interface, Array, Other };

  /// An empty value.
  CVariant() = default;
  /// A string value (UTF-16).
  static CVariant String(std::u16string s);
  /// A string value that holds no string at all (a null string pointer).
  static CVariant NullString();
  /// A 16-bit integer value.
  static CVariant Int16(std::int16_t v);
  /// A 32-bit integer value.
  static CVariant Int32(std::int32_t v);
  /// A boolean value (held as -1 or 0).
  static CVariant Bool(bool v);
  /// An interface value; the variant holds a counted reference (shared ownership).
  static CVariant Interface(std::shared_ptr<void> object);
  /// An array value; only its raw value word is carried.
  static CVariant Array(std::uint64_t word);
  /// A value of a type that property operations refuse.
  static CVariant Other();

  /// The kind of value held.
  Type GetType() const { return m_type; }
  /// Whether this is a string value without a string.
  bool IsNullString() const { return m_type == Type::String && m_null; }
  /// The string (empty unless Type::String).
  const std::u16string& GetString() const { return m_string; }
  /// The integer of an Int16, Int32 or Bool value (0 otherwise).
  std::int32_t GetInt() const { return m_int; }
  /// Whether the integer is not 0.
  bool GetBool() const { return m_int != 0; }
  /// The object of an Interface value (null otherwise).
  const std::shared_ptr<void>& GetInterface() const { return m_object; }
  /// The raw word of an Array value (0 otherwise).
  std::uint64_t GetWord() const { return m_word; }

  /// The platform value this variant was made from, if any (a COM VARIANT in the DLL). The
  /// converter never looks at it; events hand it back to listeners of the same platform, so
  /// that a host sees exactly the value it passed. Not part of the comparison.
  const std::shared_ptr<const void>& GetNative() const { return m_native; }
  void SetNative(std::shared_ptr<const void> native) { m_native = std::move(native); }

  /// Converts to a 32-bit integer as the platform's variant conversion does: integers as they
  /// are, a boolean as -1 or 0, empty as 0, a string holding a decimal number (surrounding
  /// blanks allowed) as that number. Returns kSOk, kDispETypeMismatch or kDispEOverflow.
  HResult ToInt32(std::int32_t& out) const;

  /// Equal type and equal contents (interfaces by identity).
  bool operator==(const CVariant& other) const;

 private:
  explicit CVariant(Type type) : m_type(type) {}

  Type m_type = Type::Empty;
  bool m_null = false;
  std::u16string m_string;
  std::int32_t m_int = 0;
  std::uint64_t m_word = 0;
  std::shared_ptr<void> m_object;
  std::shared_ptr<const void> m_native;
};

}  // namespace tagvert
