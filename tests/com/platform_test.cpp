// Tagvert: the Windows sides of the rule loader, linked into this program: the message texts
// from the registry, and the rules from the "RULES" resource of the module that holds the code
// (this program carries a rule set of its own, one named rule, as resource 200).
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <memory>

#include "com/rules_resource.h"
#include "com_test_util.h"
#include "frame/ttx_converter.h"
#include "rules/builtin_rules.h"
#include "rules/transml_rules.h"
#include "storage/memory_stream.h"

namespace tagvert {
namespace {

// Loads a rule set and returns the loader's error message.
std::u16string LoadMessage(const std::string& transml) {
  CRules rules;
  EXPECT_FALSE(
      rules.LoadStream(std::make_shared<CMemoryStream>(
                           reinterpret_cast<const std::uint8_t*>(transml.data()), transml.size()),
                       false));
  return rules.GetErrorMessage();
}

TEST(MessageTextTest, LoaderFailureTakesTheTextOfItsCodeFromTheRegistry) {
  const char* const key = "Software\\Orvel Labs\\Lexcore\\Internal Format\\Tagvert";
  const std::string wrongRoot = "<Rules></Rules>", endInTag = "<Orvel-TransML";  // codes 6, 0
  const struct {
    std::vector<std::pair<const char*, std::string>> values;  // none: no key
    const std::string& transml;
    std::u16string expected;
  } rows[] = {
      {{}, wrongRoot, u""},
      {{{"String05", "other"}}, wrongRoot, u""},
      {{{"String06", "Unexpected tag"}, {"String6", "not this"}}, wrongRoot, u"Unexpected tag"},
      {{{"String00", "The input ends inside a tag"}}, endInTag, u"The input ends inside a tag"},
      {{{"String06", ""}}, wrongRoot, u""},
      // In the ANSI code page (Wine's default prefix has 1252).
      {{{"String06", "Caf\xE9 \x80"}}, wrongRoot, u"Caf\u00E9 \u20AC"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    HKEY hkey = nullptr;
    if (!row.values.empty()) {
      ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &hkey,
                                  nullptr),
                ERROR_SUCCESS);
    }
    for (const auto& [name, text] : row.values) {
      ::RegSetValueExA(hkey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
    }
    ::RegCloseKey(hkey);
    EXPECT_EQ(LoadMessage(row.transml), row.expected);
  }
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
}

TEST(RulesResourceTest, ConvertersLoadTheModulesResourceThroughAGlobalMemoryStream) {
  const HRSRC info = ::FindResourceW(nullptr, MAKEINTRESOURCEW(kRulesResourceId), L"RULES");
  ASSERT_NE(info, nullptr);
  const auto* resource =
      static_cast<const std::uint8_t*>(::LockResource(::LoadResource(nullptr, info)));
  const std::vector<std::uint8_t> expected(resource, resource + ::SizeofResource(nullptr, info));
  const ByteStreamPtr stream = OpenModuleRulesResource();
  ASSERT_NE(stream, nullptr);
  std::uint64_t size = 0;
  ASSERT_TRUE(stream->Size(size));
  std::vector<std::uint8_t> bytes(size + 1);
  ASSERT_EQ(stream->Read(bytes.data(), static_cast<std::uint32_t>(bytes.size())), size);
  // The block may be rounded up; what lies beyond the resource is zero.
  ASSERT_GE(size, expected.size());
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(expected.size()),
                                      bytes.end()),
            std::vector<std::uint8_t>(bytes.size() - expected.size()));
  bytes.resize(expected.size());
  EXPECT_EQ(bytes, expected);

  EXPECT_EQ(GetRulesStreamSource(), &OpenModuleRulesResource);
  CTagvertConverter converter;
  EXPECT_EQ(converter.GetRules().GetNamedRules().size(), 1u);
  // The library's default source gives the built-in rules.
  SetRulesStreamSource(nullptr);
  CTagvertConverter builtin;
  EXPECT_GT(builtin.GetRules().GetNamedRules().size(), 1u);
  UseModuleRulesResource();
}

}  // namespace
}  // namespace tagvert
