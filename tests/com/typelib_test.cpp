// Tagvert: the type library as a type browser and a wrapper generator read it, and the dispatch
// of both dual faces from it (late-bound calls: the script clients, tests/com/scripts).
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <sstream>
#include <tuple>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

// Walks every type of a library through ITypeInfo as a type browser does: the type's attributes,
// each implemented type (a dual dispatch interface's interface side too) down to IUnknown, and
// every function of every type reached, with its names; each failing call is recorded.
class CTypeLibWalk {
 public:
  using Fault = std::tuple<std::string, HRESULT>;
  explicit CTypeLibWalk(ITypeLib* library) {
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
      CPtr<ITypeInfo> info;
      if (Check("GetTypeInfo", library->GetTypeInfo(i, info.Out()), "library")) Walk(info.Get());
    }
  }
  std::set<Fault> faults;
  std::ostringstream errors;

 private:
  bool Check(const std::string& what, HRESULT hr, const std::string& where) {
    if (SUCCEEDED(hr)) return true;
    faults.emplace(what, hr);
    errors << where << ": " << what << " failed with " << std::hex << hr << std::dec << "\n";
    return false;
  }

  void Walk(ITypeInfo* info) {
    CBstr name;
    info->GetDocumentation(MEMBERID_NIL, &name.s, nullptr, nullptr, nullptr);
    std::string where;
    for (UINT i = 0; i < ::SysStringLen(name.s); ++i)
      where += static_cast<char>(name.s[i]);
    TYPEATTR* attr = nullptr;
    if (!Check("GetTypeAttr", info->GetTypeAttr(&attr), where)) return;
    const TYPEKIND kind = attr->typekind;
    const bool dual = kind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0;
    const WORD functions = attr->cFuncs, bases = attr->cImplTypes;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < functions; ++i) {
      FUNCDESC* desc = nullptr;
      if (!Check("GetFuncDesc", info->GetFuncDesc(i, &desc), where)) continue;
      BSTR names[32] = {};
      UINT count = 0;
      if (Check("GetNames", info->GetNames(desc->memid, names, 32, &count), where) && count == 0)
        Check("GetNames (no name)", E_FAIL, where);
      for (UINT n = 0; n < count; ++n)
        ::SysFreeString(names[n]);
      info->ReleaseFuncDesc(desc);
    }
    // A dual dispatch interface also shows its interface side (number -1).
    for (int j = dual ? -1 : 0; j < static_cast<int>(bases); ++j) {
      const std::string base = where + " base " + std::to_string(j);
      HREFTYPE ref = 0;
      CPtr<ITypeInfo> next;
      if (!Check("GetRefTypeOfImplType", info->GetRefTypeOfImplType(static_cast<UINT>(j), &ref),
                 base) ||
          !Check("GetRefTypeInfo", info->GetRefTypeInfo(ref, next.Out()), base)) {
        continue;
      }
      // An interface's base is an interface; a dispatch interface's first base is IDispatch.
      TYPEATTR* nextAttr = nullptr;
      if (kind != TKIND_COCLASS && Check("GetTypeAttr", next->GetTypeAttr(&nextAttr), base)) {
        const bool isDispatch = IsEqualGUID(nextAttr->guid, IID_IDispatch);
        if (nextAttr->typekind != TKIND_INTERFACE && nextAttr->typekind != TKIND_DISPATCH)
          Check("GetRefTypeInfo (not an interface)", E_FAIL, base);
        if (kind == TKIND_DISPATCH && j == 0 && !isDispatch)
          Check("GetRefTypeInfo (not IDispatch)", E_FAIL, base);
        next->ReleaseTypeAttr(nextAttr);
      }
      Walk(next.Get());
    }
  }
};

// Each library of tagvert.dll (this build's and, when built, the 32-bit one) walks without a
// fault. A fault that the platform's own library of dual interfaces (its scripting runtime)
// shows in the same walk belongs to the platform's loader and is only reported.
TEST(CTypeLibraryTest, EveryTypeAndInheritedMemberReads) {
  CPtr<ITypeLib> platform;
  ASSERT_EQ(::LoadTypeLibEx(L"scrrun.dll", REGKIND_NONE, platform.Out()), S_OK);
  const CTypeLibWalk reference(platform.Get());
  std::cout << "The platform's loader on its own library:\n" << reference.errors.str();
  for (const char* dll : {TAGVERT_DLL_PATH, TAGVERT_DLL32_PATH}) {
    SCOPED_TRACE(dll);
    CPtr<ITypeLib> library;
    if (::LoadTypeLibEx(WinPath(dll).c_str(), REGKIND_NONE, library.Out()) != S_OK) {
      EXPECT_NE(std::string(dll), TAGVERT_DLL_PATH);
      std::cout << "not built, not walked: " << dll << "\n";
      continue;
    }
    const CTypeLibWalk walk(library.Get());
    for (const auto& fault : walk.faults)
      EXPECT_EQ(reference.faults.count(fault), 1U) << walk.errors.str();
  }
}

DISPID IdOf(IDispatch* dispatch, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  dispatch->GetIDsOfNames(IID_NULL, names, 1, 1033, &id);
  return id;
}

TEST(CConverterDispatchTest, EachFaceAnswersFromItsOwnTypeInfo) {
  auto converter = CreateConverter();
  auto old = converter.As<IOrvIFConverter>(IID_IOrvIFConverter);
  EXPECT_EQ(IdOf(converter.Get(), L"Property"), 1);
  EXPECT_EQ(IdOf(converter.Get(), L"TargetId"), 21);
  EXPECT_EQ(IdOf(old.Get(), L"ConvertFromIFStream"), 7);
  EXPECT_EQ(IdOf(old.Get(), L"TargetId"), DISPID_UNKNOWN);
  UINT count = 0;
  EXPECT_EQ(old->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1U);
  CPtr<ITypeInfo> info;
  EXPECT_EQ(old->GetTypeInfo(1, 1033, info.Out()), DISP_E_BADINDEX);
  ASSERT_EQ(old->GetTypeInfo(0, 1033, info.Out()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualIID(attr->guid, IID_IOrvIFConverter));
  info->ReleaseTypeAttr(attr);
  // A late-bound call on the older face (a script's SrcFormatId) answers a 16-bit integer.
  DISPPARAMS none{};
  CVar result;
  ASSERT_EQ(
      old->Invoke(1, IID_NULL, 1033, DISPATCH_PROPERTYGET, &none, &result.v, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(DescribeVariant(result.v), "2:31");
}

}  // namespace
}  // namespace tagvert::comtest
