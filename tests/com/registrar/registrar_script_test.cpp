// Tagvert tests: the registrar script language against a registry in memory. What the
// project's own script writes into the platform's registry: tests/com/scripts/registry_test.sh.
// SPDX-License-Identifier: Apache-2.0
#include "com/registrar/registrar_script.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "storage/char_class.h"
#include "storage/hresult.h"

namespace tagvert {
namespace {

// A registry in memory: one line per key (HKCR\A) and per value (HKCR\A: N = d 31, @ naming
// the default value), in order.
class CMemoryRegistry final : public IRegistry {
 public:
  void CreateKey(RegistryRoot root, const std::u16string& path) override {
    const std::string key = Key(root, path);
    for (std::size_t at = key.find('\\'); at != std::string::npos;) {
      at = key.find('\\', at + 1);
      m_lines.insert(key.substr(0, at));
    }
  }
  bool KeyExists(RegistryRoot root, const std::u16string& path) override {
    return m_lines.count(Key(root, path)) != 0;
  }
  bool HasSubkeys(RegistryRoot root, const std::u16string& path) override {
    const std::string below = Key(root, path) + "\\";
    const auto next = m_lines.lower_bound(below);
    return next != m_lines.end() && Starts(*next, below);
  }
  void SetString(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                 const std::u16string& value) override {
    DeleteValue(root, path, name);
    m_lines.insert(Value(root, path, name) + "s '" + Utf16ToUtf8(value) + "'");
  }
  void SetDword(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                std::uint32_t value) override {
    DeleteValue(root, path, name);
    m_lines.insert(Value(root, path, name) + "d " + std::to_string(value));
  }
  void DeleteValue(RegistryRoot root, const std::u16string& path,
                   const std::u16string& name) override {
    Erase(Value(root, path, name));
  }
  void DeleteTree(RegistryRoot root, const std::u16string& path) override {
    Erase(Key(root, path) + "\\");
    Erase(Key(root, path) + ": ");
    m_lines.erase(Key(root, path));
  }
  std::string Listing() const {
    std::string out;
    for (const std::string& line : m_lines)
      out += line + "\n";
    return out;
  }

 private:
  static bool Starts(const std::string& line, const std::string& prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
  }
  static std::string Key(RegistryRoot root, const std::u16string& path) {
    static const char* const kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};
    return std::string(kRoots[static_cast<int>(root)]) + "\\" + Utf16ToUtf8(path);
  }
  static std::string Value(RegistryRoot root, const std::u16string& path,
                           const std::u16string& name) {
    return Key(root, path) + ": " + (name.empty() ? "@" : Utf16ToUtf8(name)) + " = ";
  }
  void Erase(const std::string& prefix) {
    for (auto it = m_lines.lower_bound(prefix); it != m_lines.end() && Starts(*it, prefix);)
      it = m_lines.erase(it);
  }

  std::set<std::string> m_lines;
};

const CRegistrarScript::Replacements kModule = {{u"MODULE", u"C:\\Tagvert's dir\\tagvert.dll"}};

TEST(CRegistrarScriptTest, SyntaxErrorsWriteNothing) {
  static const char* const kScripts[] = {
      "HKCR { A = s 'x' ",            // block not closed
      "HKXX { A }",                   // unknown root
      "HKCR A",                       // root without a block
      "HKCR { A = x 'y' }",           // unknown value type
      "HKCR { A = d 'twelve' }",      // not a number
      "HKCR { A = d 4294967296 }",    // more than 32 bits
      "HKCR { A = s 'open }",         // quote not closed
      "HKCR { A = }",                 // no value
      "HKCR { A { val = s 'x' } }",   // value without a name
      "HKCR { A = s '%UNKNOWN%' }",   // no such replacement
      "HKCR { A = s '%MODULE' }",     // replacement not closed
      "HKCR { ForceRemove }",         // flag without a key
      "HKCR { A { val B s 'x' } }",   // no equals sign
      "HKCR { B = s 'y' } HKLM { A",  // a late error: the first root is not written either
  };
  for (const char* script : kScripts) {
    SCOPED_TRACE(script);
    try {
      CRegistrarScript::Parse(Utf8ToUtf16(script), kModule);
      ADD_FAILURE() << "parsed";
    } catch (const CHResultError& e) {
      EXPECT_EQ(e.Code(), kERegistrarSyntax);
    }
  }
}

TEST(CRegistrarScriptTest, RegisterAndUnregisterSemantics) {
  static const struct {
    const char* script;
    const char* before;  // one key path per line, created in HKCR before the run
    const char* afterRegister;
    const char* afterUnregister;
  } kCases[] = {
      // Default and named values, quoting, replacements and hexadecimal numbers.
      {"hkey_classes_root { 'A b' = s 'it''s %% %MODULE%' { val N = d 0x1F } }", "",
       "HKCR\\A b\nHKCR\\A b: @ = s 'it's % C:\\Tagvert's dir\\tagvert.dll'\nHKCR\\A b: N = d 31\n",
       ""},
      // Delete removes a key at registration and leaves it at unregistration.
      {"HKCR { Delete Old { Sub } Keep }", "Old\nOld\\Deep\n", "HKCR\\Keep\n", ""},
      // A plain key with someone else's subkey stays; its named value goes.
      {"HKCR { A { val V = s 'x' B } }", "A\\Foreign\n",
       "HKCR\\A\nHKCR\\A: V = s 'x'\nHKCR\\A\\B\nHKCR\\A\\Foreign\n",
       "HKCR\\A\nHKCR\\A\\Foreign\n"},
      // ForceRemove replaces the key whole at registration and removes it whole.
      {"HKCR { ForceRemove A { B } }", "A\\Foreign\n", "HKCR\\A\nHKCR\\A\\B\n", ""},
      // NoRemove stays, its removable children go.
      {"HKCR { noremove A { B { C } } }", "", "HKCR\\A\nHKCR\\A\\B\nHKCR\\A\\B\\C\n", "HKCR\\A\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.script);
    CMemoryRegistry registry;
    std::istringstream before(c.before);
    for (std::string line; std::getline(before, line);)
      registry.CreateKey(RegistryRoot::ClassesRoot, Utf8ToUtf16(line));
    const CRegistrarScript script = CRegistrarScript::Parse(Utf8ToUtf16(c.script), kModule);
    script.Register(registry);
    EXPECT_EQ(registry.Listing(), c.afterRegister);
    script.Unregister(registry);
    EXPECT_EQ(registry.Listing(), c.afterUnregister);
  }
}

}  // namespace
}  // namespace tagvert
