// Tagvert: Property put over VARIANTs of every type, and the PropertyChange it fires.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstring>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

LONG Direction(IOrvIFConverterEx4* converter) {
  CVar value;
  EXPECT_EQ(converter->get_Property(CVar::I4(0).v, &value.v), S_OK);
  return V_I4(&value.v);
}

// How a name or an index reaches the converter; the names and indexes it resolves are the
// frame's.
TEST(CConverterPropertyTest, PutTakesNamesAndIndexesOfAnyNumberType) {
  auto converter = CreateConverter();
  auto sink = MakeSink(converter.Get());
  CVar pointTwo(VT_R8, 0);
  V_R8(&pointTwo.v) = 0.2;
  const struct {
    CVar prop, value;
    HRESULT expected;
    LONG stored;        // Direction afterwards
    const char* event;  // the PropertyChange seen, or nothing
  } rows[] = {
      {CVar(L"Direction"), CVar::I4(7), S_OK, 7, "Property 8:Direction 3:7"},
      {CVar(L"direction"), CVar(VT_I2, 5), S_OK, 5, "Property 8:direction 2:5"},
      {CVar(VT_I2, 0), CVar::I4(9), S_OK, 9, "Property 2:0 3:9"},
      {std::move(pointTwo), CVar::I4(4), S_OK, 4, "Property 5: 3:4"},
      {CVar::I4(1), CVar::I4(3), S_OK, 4, "Property 3:1 3:3"},
      {CVar(L"Target"), CVar::I4(1), E_INVALIDARG, 4, nullptr},
      {CVar::I4(-2), CVar::I4(1), E_INVALIDARG, 4, nullptr},
      {CVar(VT_BSTR, 0), CVar::I4(1), DISP_E_TYPEMISMATCH, 4, nullptr},  // a null name
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    sink->events.clear();
    EXPECT_EQ(converter->put_Property(row.prop.v, row.value.v), row.expected);
    EXPECT_EQ(Direction(converter.Get()), row.stored);
    EXPECT_EQ(sink->events, row.event ? Events{row.event} : Events{});
  }
  CVar value;  // a get takes no null name either
  EXPECT_EQ(converter->get_Property(CVar(VT_BSTR, 0).v, &value.v), E_INVALIDARG);
}

// Every type a VARIANT can be given, in the forms the platform defines: a string, a 16- or
// 32-bit integer, a boolean, an interface (VT_UNKNOWN) and the array type code 27
// (VT_SAFEARRAY) are taken and fired as given (the integers stored); every other type, by
// reference or array forms included, is refused with E_INVALIDARG and fires nothing, whether
// the platform could copy it or not.
TEST(CConverterPropertyTest, PutAnswersEveryVariantTypeByTheTable) {
  auto converter = CreateConverter();
  auto sink = MakeSink(converter.Get());
  // VT_EMPTY to VT_UINT_PTR (38) without the unused codes 15 and 32 to 35, VT_FILETIME (64) to
  // VT_VERSIONED_STREAM (73), and VT_BSTR_BLOB.
  std::vector<VARTYPE> types = {VT_BSTR_BLOB};
  for (VARTYPE t = VT_EMPTY; t <= VT_VERSIONED_STREAM; ++t) {
    if (t != 15 && (t < 32 || t > 35) && (t <= VT_UINT_PTR || t >= VT_FILETIME)) types.push_back(t);
  }
  // What the values point at: an array, a record of stdole2's GUID structure, a string, objects.
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, 4);
  CPtr<ITypeLib> stdole;
  ASSERT_EQ(::LoadTypeLib(L"stdole2.tlb", stdole.Out()), S_OK);
  CPtr<ITypeInfo> guidType;
  MEMBERID member = 0;
  USHORT found = 1;
  wchar_t guidName[] = L"GUID";
  ASSERT_EQ(stdole->FindName(guidName, 0, guidType.Out(), &member, &found), S_OK);
  CPtr<IRecordInfo> guidRecord;
  ASSERT_EQ(::GetRecordInfoFromTypeInfo(guidType.Get(), guidRecord.Out()), S_OK);
  GUID record = IID_IDispatch;
  CBstr text(L"12");
  alignas(16) unsigned char target[32] = {};
  const VARTYPE forms[] = {0, VT_BYREF, VT_ARRAY, VT_ARRAY | VT_BYREF, VT_VECTOR};
  for (const VARTYPE form : forms) {
    for (const VARTYPE type : types) {
      const VARTYPE vt = static_cast<VARTYPE>(type | form);
      SCOPED_TRACE("VARTYPE " + std::to_string(vt));
      VARIANT value;
      std::memset(&value, 0, sizeof value);
      V_VT(&value) = vt;
      if (form & VT_BYREF) {
        V_BYREF(&value) = (form & VT_ARRAY) ? static_cast<void*>(&array) : target;
      } else if ((form & VT_ARRAY) || type == VT_SAFEARRAY) {
        V_ARRAY(&value) = array;
      } else if (type == VT_BSTR) {
        V_BSTR(&value) = text.s;
      } else if (type == VT_I2 || type == VT_I4 || type == VT_BOOL) {
        V_I4(&value) = type == VT_I2 ? 5 : type == VT_I4 ? 7 : VARIANT_TRUE;
      } else if (type == VT_UNKNOWN || type == VT_DISPATCH) {
        V_DISPATCH(&value) = sink.Get();
      } else if (type == VT_RECORD) {
        V_RECORD(&value) = &record;
        V_RECORDINFO(&value) = guidRecord.Get();
      }
      const bool taken =
          form == 0 && (type == VT_BSTR || type == VT_I2 || type == VT_I4 || type == VT_BOOL ||
                        type == VT_UNKNOWN || type == VT_SAFEARRAY);
      ASSERT_EQ(converter->put_Property(CVar(L"Direction").v, CVar::I4(1).v), S_OK);
      sink->events.clear();
      EXPECT_EQ(converter->put_Property(CVar(L"Direction").v, value), taken ? S_OK : E_INVALIDARG);
      EXPECT_EQ(Direction(converter.Get()), !taken ? 1 : type == VT_I2 ? 5 : type == VT_I4 ? 7 : 1);
      const Events fired{"Property 8:Direction " + DescribeVariant(value)};
      EXPECT_EQ(sink->events, taken ? fired : Events{});
    }
  }
  ::SafeArrayDestroy(array);
}

}  // namespace
}  // namespace tagvert::comtest
