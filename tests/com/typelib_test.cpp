// Tagvert: the type library as a type browser and a wrapper generator read it.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <sstream>
#include <tuple>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

std::string Narrow(BSTR text) {
  std::string out;
  for (UINT i = 0; text != nullptr && i < ::SysStringLen(text); ++i) {
    out += static_cast<char>(text[i]);
  }
  return out;
}

std::string Hex(long value) {
  std::ostringstream out;
  out << std::hex << std::showbase << static_cast<unsigned long>(value);
  return out.str();
}

// Walks every type of a library through ITypeInfo the way a type browser does: the type's
// attributes, each implemented type (a dual dispatch interface's interface side too) down to
// IUnknown, and every function of every type reached, with its names. Each failing call is
// recorded as (what was asked, its code).
class CTypeLibWalk {
 public:
  using Fault = std::tuple<std::string, HRESULT>;

  explicit CTypeLibWalk(ITypeLib* library) {
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
      CPtr<ITypeInfo> info;
      if (Check("GetTypeInfo", library->GetTypeInfo(i, info.Out()))) Walk(info.Get());
    }
  }

  std::set<Fault> faults;
  std::ostringstream errors;

 private:
  bool Check(const std::string& what, HRESULT hr, const std::string& where = "") {
    if (SUCCEEDED(hr)) return true;
    faults.emplace(what, hr);
    errors << where << ": " << what << " failed with " << Hex(hr) << "\n";
    return false;
  }

  void Walk(ITypeInfo* info) {
    CBstr name;
    info->GetDocumentation(MEMBERID_NIL, name.Out(), nullptr, nullptr, nullptr);
    const std::string where = Narrow(name.Get());
    TYPEATTR* attr = nullptr;
    if (!Check("GetTypeAttr", info->GetTypeAttr(&attr), where)) return;
    const TYPEKIND kind = attr->typekind;
    const bool dual = kind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
    const auto key = std::make_tuple(
        std::string(reinterpret_cast<const char*>(&attr->guid), sizeof attr->guid), kind, where);
    const bool seen = !m_seen.insert(key).second;
    const WORD functions = attr->cFuncs;
    const WORD bases = attr->cImplTypes;
    info->ReleaseTypeAttr(attr);
    if (seen) return;

    for (UINT i = 0; i < functions; ++i) {
      FUNCDESC* desc = nullptr;
      if (!Check("GetFuncDesc", info->GetFuncDesc(i, &desc),
                 where + " function " + std::to_string(i))) {
        continue;
      }
      BSTR names[32] = {};
      UINT count = 0;
      const std::string member = where + " member " + Hex(desc->memid);
      if (Check("GetNames", info->GetNames(desc->memid, names, 32, &count), member) && count == 0)
        Check("GetNames (no name)", E_FAIL, member);
      for (UINT n = 0; n < count; ++n)
        ::SysFreeString(names[n]);
      info->ReleaseFuncDesc(desc);
    }
    // A dual dispatch interface also shows its interface side (number -1).
    for (int j = dual ? -1 : 0; j < static_cast<int>(bases); ++j) {
      const std::string base = where + (j < 0 ? " interface side" : " base " + std::to_string(j));
      HREFTYPE ref = 0;
      if (!Check("GetRefTypeOfImplType", info->GetRefTypeOfImplType(static_cast<UINT>(j), &ref),
                 base)) {
        continue;
      }
      CPtr<ITypeInfo> next;
      if (!Check("GetRefTypeInfo", info->GetRefTypeInfo(ref, next.Out()), base)) continue;
      if (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH) CheckBase(next.Get(), kind, j, base);
      Walk(next.Get());
    }
  }

  // An interface's base is an interface; a dispatch interface's first base is IDispatch.
  void CheckBase(ITypeInfo* next, TYPEKIND kind, int j, const std::string& base) {
    TYPEATTR* attr = nullptr;
    if (!Check("GetTypeAttr", next->GetTypeAttr(&attr), base)) return;
    const bool isInterface = attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH;
    const bool isDispatch = IsEqualGUID(attr->guid, IID_IDispatch);
    next->ReleaseTypeAttr(attr);
    if (!isInterface) Check("GetRefTypeInfo (not an interface)", E_FAIL, base);
    if (kind == TKIND_DISPATCH && j == 0 && !isDispatch)
      Check("GetRefTypeInfo (not IDispatch)", E_FAIL, base);
  }

  std::set<std::tuple<std::string, TYPEKIND, std::string>> m_seen;
};

// Each library of tagvert.dll (this build's and, when built, the 32-bit one) walks without a
// fault. A fault that the platform's own library of dual interfaces (its scripting runtime)
// shows in the same walk belongs to the platform's loader and is only reported.
TEST(CTypeLibraryTest, EveryTypeAndInheritedMemberReads) {
  CPtr<ITypeLib> platform;
  ASSERT_EQ(::LoadTypeLibEx(L"scrrun.dll", REGKIND_NONE, platform.Out()), S_OK);
  const CTypeLibWalk reference(platform.Get());
  if (!reference.faults.empty()) {
    std::cout << "The platform's loader fails on its own library:\n" << reference.errors.str();
  }
  for (const char* dll : {TAGVERT_DLL_PATH, TAGVERT_DLL32_PATH}) {
    SCOPED_TRACE(dll);
    if (::GetFileAttributesW(WinPath(dll).c_str()) == INVALID_FILE_ATTRIBUTES) {
      std::cout << "not built, not walked: " << dll << "\n";
      continue;
    }
    CPtr<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLibEx(WinPath(dll).c_str(), REGKIND_NONE, library.Out()), S_OK);
    const CTypeLibWalk walk(library.Get());
    std::set<CTypeLibWalk::Fault> ours;
    for (const auto& fault : walk.faults) {
      if (reference.faults.count(fault) == 0) ours.insert(fault);
    }
    EXPECT_TRUE(ours.empty()) << walk.errors.str();
    if (ours.empty() && !walk.faults.empty()) {
      std::cout << "faults of the platform's loader:\n" << walk.errors.str();
    }
  }
}

}  // namespace
}  // namespace tagvert::comtest
