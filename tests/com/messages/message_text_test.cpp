// Tagvert tests (Windows): the rule loader's message texts come from the registry.
// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rules/transml_rules.h"
#include "storage/memory_stream.h"

namespace tagvert {
namespace {

constexpr char kMessageKey[] = "Software\\Orvel Labs\\Lexcore\\Internal Format\\Tagvert";

// Replaces the message texts under the component's key: `values` holds name, bytes pairs; a null
// list removes the key.
void SetMessages(const std::vector<std::pair<const char*, std::string>>& values,
                 bool keyExists = true) {
  ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMessageKey);
  if (!keyExists) return;
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMessageKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
            ERROR_SUCCESS);
  for (const auto& [name, text] : values) {
    ASSERT_EQ(::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
  }
  ::RegCloseKey(key);
}

// Loads a rule set and returns the loader's error message.
std::u16string LoadMessage(const std::string& transml) {
  CRules rules;
  auto stream = std::make_shared<CMemoryStream>(
      reinterpret_cast<const std::uint8_t*>(transml.data()), transml.size());
  EXPECT_FALSE(rules.LoadStream(stream, false));
  return rules.GetErrorMessage();
}

const std::string kWrongRoot = "<Rules></Rules>";  // code 6
const std::string kBadCondition =                  // code 12
    "<Orvel-TransML><Rules><Rule Type=\"Block\" Name=\"x\">"
    "<Attribute-Condition Name=\"a\" Condition=\"Sometimes\"/></Rule></Rules></Orvel-TransML>";
const std::string kEndInTag = "<Orvel-TransML";  // code 0

TEST(MessageTextTest, LoaderFailureTakesTheTextOfItsCodeFromTheRegistry) {
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, std::string>> values;
    bool keyExists;
    const std::string& transml;
    std::u16string expected;
  };
  const Case cases[] = {
      {"no key", {}, false, kWrongRoot, u""},
      {"key without the value", {{"String05", "other"}}, true, kWrongRoot, u""},
      {"two digits",
       {{"String06", "Unexpected tag"}, {"String6", "not this"}},
       true,
       kWrongRoot,
       u"Unexpected tag"},
      {"code 12", {{"String12", "Bad condition"}}, true, kBadCondition, u"Bad condition"},
      {"code 0",
       {{"String00", "The input ends inside a tag"}},
       true,
       kEndInTag,
       u"The input ends inside a tag"},
      {"empty value", {{"String06", ""}}, true, kWrongRoot, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetMessages(c.values, c.keyExists);
    EXPECT_EQ(LoadMessage(c.transml), c.expected);
  }
  SetMessages({}, false);
}

TEST(MessageTextTest, TextIsReadInTheAnsiCodePage) {
  if (::GetACP() != 1252) GTEST_SKIP() << "the prefix's ANSI code page is " << ::GetACP();
  SetMessages({{"String06", "Caf\xE9 \x80"}});
  EXPECT_EQ(LoadMessage(kWrongRoot), u"Caf\u00E9 \u20AC");
  SetMessages({}, false);
}

}  // namespace
}  // namespace tagvert
