// Tagvert tests: the registrar script language and the project's registration script.
// SPDX-License-Identifier: Apache-2.0
#include "com/registrar/registrar_script.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "com/registrar/memory_registry.h"
#include "storage/char_class.h"

namespace tagvert {
namespace {

using test::CMemoryRegistry;

const CRegistrarScript::Replacements kModule = {{u"MODULE", u"C:\\Tagvert's dir\\tagvert.dll"}};

std::u16string ReadProjectScript() {
  std::ifstream in(TAGVERT_RGS_FILE, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return Utf8ToUtf16(bytes.str());
}

// The project's script. The exact tree it writes is checked where the platform's own tools read
// it (tests/com/scripts/registry_test.sh); here what a registration over an older one and an
// unregistration leave.
class CProjectScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_script = CRegistrarScript::Parse(ReadProjectScript(), kModule);
    m_script.Register(m_fresh);
    // The class id is the default value of the ProgID's CLSID key.
    const std::string listing = m_fresh.Listing();
    const std::string mark = "HKCR\\Tagvert.Converter\\CLSID: @ = s '";
    const std::size_t at = listing.find(mark);
    ASSERT_NE(at, std::string::npos);
    m_clsid = Utf8ToUtf16(listing.substr(at + mark.size(), 38));
    ASSERT_EQ(m_clsid.front(), u'{');
    ASSERT_EQ(m_clsid.back(), u'}');
  }

  static constexpr char16_t kConverters[] =
      u"SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters";
  CRegistrarScript m_script;
  CMemoryRegistry m_fresh;
  std::u16string m_clsid;
};

TEST_F(CProjectScriptTest, RegisteringAgainReplacesTheClassKeysWhole) {
  CMemoryRegistry registry;
  // What an older registration left: a stale subkey and values below the two class keys.
  const std::u16string server = u"CLSID\\" + m_clsid + u"\\InprocServer32";
  registry.CreateKey(RegistryRoot::ClassesRoot, u"CLSID\\" + m_clsid + u"\\Stale");
  registry.CreateKey(RegistryRoot::ClassesRoot, server);
  registry.SetString(RegistryRoot::ClassesRoot, server, u"ThreadingModel", u"Apartment");
  registry.CreateKey(RegistryRoot::LocalMachine, kConverters + (u"\\" + m_clsid));
  registry.SetDword(RegistryRoot::LocalMachine, kConverters + (u"\\" + m_clsid), u"Old", 7);
  m_script.Register(registry);
  m_script.Register(registry);
  EXPECT_EQ(registry.Listing(), m_fresh.Listing());
}

TEST_F(CProjectScriptTest, UnregisterKeepsTheSharedKeysAndOtherEntries) {
  const std::string machine =
      "HKLM\\SOFTWARE\n"
      "HKLM\\SOFTWARE\\Orvel Labs\n"
      "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\n"
      "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\n"
      "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\n";
  const std::u16string other = kConverters + std::u16string(u"\\{other}");
  CMemoryRegistry registry;
  registry.CreateKey(RegistryRoot::ClassesRoot, u"CLSID\\{other}");
  registry.CreateKey(RegistryRoot::LocalMachine, other);
  m_script.Register(registry);
  m_script.Unregister(registry);
  EXPECT_EQ(registry.Listing(), "HKCR\\CLSID\nHKCR\\CLSID\\{other}\n" + machine +
                                    "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal "
                                    "Format\\Converters\\{other}\n");
  // Unregistering what is not there changes nothing, and the empty shared keys stay.
  registry.DeleteTree(RegistryRoot::ClassesRoot, u"CLSID\\{other}");
  registry.DeleteTree(RegistryRoot::LocalMachine, other);
  m_script.Unregister(registry);
  EXPECT_EQ(registry.Listing(), "HKCR\\CLSID\n" + machine);
}

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
  struct Case {
    const char* name;
    const char* script;
    const char* before;  // one key path per line, created in HKCR before the run
    const char* afterRegister;
    const char* afterUnregister;
  };
  static const Case kCases[] = {
      {"default and named values, quoting, replacements and hexadecimal numbers",
       "hkey_classes_root { 'A b' = s 'it''s %% %MODULE%' { val N = d 0x1F } }", "",
       "HKCR\\A b\nHKCR\\A b: @ = s 'it's % C:\\Tagvert's dir\\tagvert.dll'\nHKCR\\A b: N = d 31\n",
       ""},
      {"Delete removes a key at registration and leaves it at unregistration",
       "HKCR { Delete Old { Sub } Keep }", "Old\nOld\\Deep\n", "HKCR\\Keep\n", ""},
      {"a plain key with someone else's subkey stays; its named value goes",
       "HKCR { A { val V = s 'x' B } }", "A\\Foreign\n",
       "HKCR\\A\nHKCR\\A: V = s 'x'\nHKCR\\A\\B\nHKCR\\A\\Foreign\n",
       "HKCR\\A\nHKCR\\A\\Foreign\n"},
      {"ForceRemove goes whole, with someone else's subkey", "HKCR { ForceRemove A { B } }",
       "A\\Foreign\n", "HKCR\\A\nHKCR\\A\\B\n", ""},
      {"NoRemove stays, its removable children go", "HKCR { noremove A { B { C } } }", "",
       "HKCR\\A\nHKCR\\A\\B\nHKCR\\A\\B\\C\n", "HKCR\\A\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
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

TEST(CRegistrarScriptTest, RegisterStopsAtTheFirstFailureAndKeepsWhatWasWritten) {
  const HResult denied = MakeHResult(0x80070005);
  CMemoryRegistry registry;
  registry.FailWriteAfter(2, denied);
  const CRegistrarScript script =
      CRegistrarScript::Parse(u"HKCR { A = s 'a' B = s 'b' C = s 'c' }", kModule);
  try {
    script.Register(registry);
    ADD_FAILURE() << "registered";
  } catch (const CHResultError& e) {
    EXPECT_EQ(e.Code(), denied);
  }
  EXPECT_EQ(registry.Listing(), "HKCR\\A\nHKCR\\A: @ = s 'a'\n");
}

}  // namespace
}  // namespace tagvert
