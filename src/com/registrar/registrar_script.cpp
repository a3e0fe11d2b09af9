// Tagvert: the registrar script parser and its register and unregister runs.
// SPDX-License-Identifier: Apache-2.0
#include "com/registrar/registrar_script.h"

#include <cstddef>
#include <utility>

#include "storage/char_class.h"
#include "storage/number_text.h"

namespace tagvert {
namespace {

[[noreturn]] void ThrowSyntaxError() {
  ThrowHResult(kERegistrarSyntax);
}

bool IsScriptSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

struct CScriptToken {
  std::u16string text;
  bool quoted = false;

  bool Is(std::u16string_view word) const { return !quoted && StringEqualsNoCase(text, word); }
  bool IsStructural() const { return !quoted && (text == u"{" || text == u"}" || text == u"="); }
};

// Cuts the script into tokens: runs of characters other than white space, or quoted strings in
// which two quotes stand for one.
std::vector<CScriptToken> Tokenize(std::u16string_view text) {
  std::vector<CScriptToken> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsScriptSpace(text[i])) {
      ++i;
      continue;
    }
    CScriptToken token;
    if (text[i] == u'\'') {
      token.quoted = true;
      ++i;
      for (;;) {
        if (i >= text.size()) ThrowSyntaxError();
        if (text[i] == u'\'') {
          if (i + 1 < text.size() && text[i + 1] == u'\'') {
            token.text.push_back(u'\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        token.text.push_back(text[i++]);
      }
    } else {
      while (i < text.size() && !IsScriptSpace(text[i]))
        token.text.push_back(text[i++]);
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

std::u16string Replace(const std::u16string& text, const CRegistrarScript::Replacements& map) {
  if (text.find(u'%') == std::u16string::npos) return text;
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != u'%') {
      out.push_back(text[i++]);
      continue;
    }
    const std::size_t end = text.find(u'%', i + 1);
    if (end == std::u16string::npos) ThrowSyntaxError();
    if (end == i + 1) {
      out.push_back(u'%');
    } else {
      const auto found = map.find(text.substr(i + 1, end - i - 1));
      if (found == map.end()) ThrowSyntaxError();
      out += found->second;
    }
    i = end + 1;
  }
  return out;
}

std::uint32_t ParseNumber(const std::u16string& text) {
  const auto value = NumberParseUnsigned(std::u16string_view(text), UINT32_MAX);
  if (!value) ThrowSyntaxError();
  return static_cast<std::uint32_t>(*value);
}

class CScriptParser {
 public:
  CScriptParser(std::vector<CScriptToken> tokens, const CRegistrarScript::Replacements& map)
      : m_tokens(std::move(tokens)), m_map(map) {}

  std::vector<CRegistrarScript::Root> ParseRoots() {
    std::vector<CRegistrarScript::Root> roots;
    while (m_next < m_tokens.size()) {
      CRegistrarScript::Root root{ParseRootName(Take()), {}};
      Expect(u"{");
      while (!Peek().Is(u"}"))
        root.keys.push_back(ParseKey());
      Take();
      roots.push_back(std::move(root));
    }
    return roots;
  }

 private:
  const CScriptToken& Peek() {
    if (m_next >= m_tokens.size()) ThrowSyntaxError();
    return m_tokens[m_next];
  }
  const CScriptToken& Take() {
    const CScriptToken& token = Peek();
    ++m_next;
    return token;
  }
  void Expect(std::u16string_view word) {
    if (!Take().Is(word)) ThrowSyntaxError();
  }
  // A name or a value: any token but a brace or an equals sign, with its replacements made.
  std::u16string TakeText() {
    const CScriptToken& token = Take();
    if (token.IsStructural()) ThrowSyntaxError();
    return Replace(token.text, m_map);
  }

  static RegistryRoot ParseRootName(const CScriptToken& token) {
    static constexpr std::pair<std::u16string_view, RegistryRoot> kRoots[] = {
        {u"HKCR", RegistryRoot::ClassesRoot},
        {u"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
        {u"HKCU", RegistryRoot::CurrentUser},
        {u"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
        {u"HKLM", RegistryRoot::LocalMachine},
        {u"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
        {u"HKU", RegistryRoot::Users},
        {u"HKEY_USERS", RegistryRoot::Users},
        {u"HKCC", RegistryRoot::CurrentConfig},
        {u"HKEY_CURRENT_CONFIG", RegistryRoot::CurrentConfig},
    };
    for (const auto& [name, root] : kRoots) {
      if (token.Is(name)) return root;
    }
    ThrowSyntaxError();
  }

  CRegistrarValue ParseValue(std::u16string name) {
    CRegistrarValue value;
    value.name = std::move(name);
    const CScriptToken& type = Take();
    if (type.Is(u"s")) {
      value.type = CRegistrarValue::Type::String;
      value.text = TakeText();
    } else if (type.Is(u"d")) {
      value.type = CRegistrarValue::Type::Dword;
      value.number = ParseNumber(TakeText());
    } else {
      ThrowSyntaxError();
    }
    return value;
  }

  CRegistrarKey ParseKey() {
    CRegistrarKey key;
    if (Peek().Is(u"NoRemove")) {
      key.flag = CRegistrarKey::Flag::NoRemove;
    } else if (Peek().Is(u"ForceRemove")) {
      key.flag = CRegistrarKey::Flag::ForceRemove;
    } else if (Peek().Is(u"Delete")) {
      key.flag = CRegistrarKey::Flag::Delete;
    }
    if (key.flag != CRegistrarKey::Flag::None) Take();
    key.name = TakeText();
    if (key.name.empty()) ThrowSyntaxError();
    if (m_next < m_tokens.size() && Peek().Is(u"=")) {
      Take();
      key.defaultValue = ParseValue(std::u16string());
    }
    if (m_next < m_tokens.size() && Peek().Is(u"{")) {
      Take();
      while (!Peek().Is(u"}")) {
        if (Peek().Is(u"val")) {
          Take();
          std::u16string name = TakeText();
          Expect(u"=");
          key.values.push_back(ParseValue(std::move(name)));
        } else {
          key.subkeys.push_back(ParseKey());
        }
      }
      Take();
    }
    return key;
  }

  std::vector<CScriptToken> m_tokens;
  const CRegistrarScript::Replacements& m_map;
  std::size_t m_next = 0;
};

std::u16string JoinPath(const std::u16string& parent, const std::u16string& name) {
  return parent.empty() ? name : parent + u"\\" + name;
}

void WriteValue(IRegistry& registry, RegistryRoot root, const std::u16string& path,
                const CRegistrarValue& value) {
  if (value.type == CRegistrarValue::Type::Dword) {
    registry.SetDword(root, path, value.name, value.number);
  } else {
    registry.SetString(root, path, value.name, value.text);
  }
}

void RegisterKey(IRegistry& registry, RegistryRoot root, const std::u16string& parent,
                 const CRegistrarKey& key) {
  const std::u16string path = JoinPath(parent, key.name);
  if (key.flag == CRegistrarKey::Flag::Delete) {
    registry.DeleteTree(root, path);
    return;
  }
  // Replaced whole: nothing from an earlier registration survives below it.
  if (key.flag == CRegistrarKey::Flag::ForceRemove) registry.DeleteTree(root, path);
  registry.CreateKey(root, path);
  if (key.defaultValue) WriteValue(registry, root, path, *key.defaultValue);
  for (const CRegistrarValue& value : key.values)
    WriteValue(registry, root, path, value);
  for (const CRegistrarKey& subkey : key.subkeys)
    RegisterKey(registry, root, path, subkey);
}

void UnregisterKey(IRegistry& registry, RegistryRoot root, const std::u16string& parent,
                   const CRegistrarKey& key) {
  const std::u16string path = JoinPath(parent, key.name);
  if (key.flag == CRegistrarKey::Flag::Delete || !registry.KeyExists(root, path)) return;
  if (key.flag == CRegistrarKey::Flag::ForceRemove) {
    registry.DeleteTree(root, path);
    return;
  }
  for (const CRegistrarKey& subkey : key.subkeys)
    UnregisterKey(registry, root, path, subkey);
  for (const CRegistrarValue& value : key.values)
    registry.DeleteValue(root, path, value.name);
  // A key that someone else's entries still hang below stays for them.
  if (key.flag != CRegistrarKey::Flag::NoRemove && !registry.HasSubkeys(root, path)) {
    registry.DeleteTree(root, path);
  }
}

}  // namespace

CRegistrarScript CRegistrarScript::Parse(std::u16string_view text,
                                         const Replacements& replacements) {
  CRegistrarScript script;
  script.m_roots = CScriptParser(Tokenize(text), replacements).ParseRoots();
  return script;
}

void CRegistrarScript::Register(IRegistry& registry) const {
  for (const Root& root : m_roots) {
    for (const CRegistrarKey& key : root.keys)
      RegisterKey(registry, root.root, std::u16string(), key);
  }
}

void CRegistrarScript::Unregister(IRegistry& registry) const {
  for (const Root& root : m_roots) {
    for (const CRegistrarKey& key : root.keys)
      UnregisterKey(registry, root.root, std::u16string(), key);
  }
}

}  // namespace tagvert
