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

// The tree every registration must leave, with the class id as the script spells it.
std::string ExpectedTree(const std::string& clsid) {
  std::string tree =
      "HKCR\\CLSID\n"
      "HKCR\\CLSID\\@\n"
      "HKCR\\CLSID\\@: @ = s 'Tagvert Converter Class'\n"
      "HKCR\\CLSID\\@\\InprocServer32\n"
      "HKCR\\CLSID\\@\\InprocServer32: @ = s 'C:\\Tagvert's dir\\tagvert.dll'\n"
      "HKCR\\CLSID\\@\\InprocServer32: ThreadingModel = s 'both'\n"
      "HKCR\\CLSID\\@\\ProgID\n"
      "HKCR\\CLSID\\@\\ProgID: @ = s 'Tagvert.Converter.2'\n"
      "HKCR\\CLSID\\@\\VersionIndependentProgID\n"
      "HKCR\\CLSID\\@\\VersionIndependentProgID: @ = s 'Tagvert.Converter'\n"
      "HKCR\\Tagvert.Converter\n"
      "HKCR\\Tagvert.Converter: @ = s 'Tagvert Converter Class'\n"
      "HKCR\\Tagvert.Converter\\CLSID\n"
      "HKCR\\Tagvert.Converter\\CLSID: @ = s '@'\n"
      "HKCR\\Tagvert.Converter.2\n"
      "HKCR\\Tagvert.Converter.2: @ = s 'Tagvert Converter Class'\n"
      "HKCR\\Tagvert.Converter.2\\CLSID\n"
      "HKCR\\Tagvert.Converter.2\\CLSID: @ = s '@'\n"
      "HKLM\\SOFTWARE\n"
      "HKLM\\SOFTWARE\\Orvel Labs\n"
      "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\n"
      "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\n"
      "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\n"
      "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\\@\n"
      "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\\@: @ = s 'Tagvert "
      "Converter'\n"
      "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\\@: ID = d 31\n";
  // "\\@" and "'@'" stand for the class id.
  for (const std::string mark : {"\\@\n", "\\@\\", "\\@:", "'@'"}) {
    std::string with = mark;
    with.replace(with.find('@'), 1, clsid);
    for (std::size_t at = tree.find(mark); at != std::string::npos; at = tree.find(mark, at)) {
      tree.replace(at, mark.size(), with);
      at += with.size();
    }
  }
  return tree;
}

class CProjectScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_script = CRegistrarScript::Parse(ReadProjectScript(), kModule);
    // The class id is the default value of the ProgID's CLSID key.
    CMemoryRegistry probe;
    m_script.Register(probe);
    const std::string listing = probe.Listing();
    const std::string mark = "HKCR\\Tagvert.Converter\\CLSID: @ = s '";
    const std::size_t at = listing.find(mark);
    ASSERT_NE(at, std::string::npos);
    m_clsid = listing.substr(at + mark.size(), 38);
    ASSERT_EQ(m_clsid.front(), '{');
    ASSERT_EQ(m_clsid.back(), '}');
  }

  CRegistrarScript m_script;
  std::string m_clsid;
};

TEST_F(CProjectScriptTest, RegisterWritesExactlyTheTree) {
  CMemoryRegistry registry;
  m_script.Register(registry);
  EXPECT_EQ(registry.Listing(), ExpectedTree(m_clsid));
}

TEST_F(CProjectScriptTest, RegisteringAgainReplacesTheClassKeysWhole) {
  CMemoryRegistry registry;
  // What an older registration left: a stale subkey and values below the two class keys.
  const std::u16string clsid = Utf8ToUtf16(m_clsid);
  const std::u16string converter = u"SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\\";
  registry.CreateKey(RegistryRoot::ClassesRoot, u"CLSID\\" + clsid + u"\\Stale");
  registry.CreateKey(RegistryRoot::ClassesRoot, u"CLSID\\" + clsid + u"\\InprocServer32");
  registry.SetString(RegistryRoot::ClassesRoot, u"CLSID\\" + clsid + u"\\InprocServer32",
                     u"ThreadingModel", u"Apartment");
  registry.CreateKey(RegistryRoot::LocalMachine, converter + clsid);
  registry.SetDword(RegistryRoot::LocalMachine, converter + clsid, u"Old", 7);
  m_script.Register(registry);
  m_script.Register(registry);
  EXPECT_EQ(registry.Listing(), ExpectedTree(m_clsid));
}

TEST_F(CProjectScriptTest, UnregisterKeepsTheSharedKeysAndOtherEntries) {
  CMemoryRegistry registry;
  const std::u16string converters = u"SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters";
  registry.CreateKey(RegistryRoot::ClassesRoot, u"CLSID\\{other}");
  registry.CreateKey(RegistryRoot::LocalMachine, converters + u"\\{other}");
  m_script.Register(registry);
  m_script.Unregister(registry);
  EXPECT_EQ(registry.Listing(),
            "HKCR\\CLSID\n"
            "HKCR\\CLSID\\{other}\n"
            "HKLM\\SOFTWARE\n"
            "HKLM\\SOFTWARE\\Orvel Labs\n"
            "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\n"
            "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\n"
            "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\n"
            "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\\{other}\n");
  // Unregistering what is not there changes nothing, and the empty shared keys stay.
  registry.DeleteTree(RegistryRoot::ClassesRoot, u"CLSID\\{other}");
  registry.DeleteTree(RegistryRoot::LocalMachine, converters + u"\\{other}");
  m_script.Unregister(registry);
  EXPECT_EQ(registry.Listing(),
            "HKCR\\CLSID\n"
            "HKLM\\SOFTWARE\n"
            "HKLM\\SOFTWARE\\Orvel Labs\n"
            "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\n"
            "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\n"
            "HKLM\\SOFTWARE\\Orvel Labs\\Lexcore\\Internal Format\\Converters\n");
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
