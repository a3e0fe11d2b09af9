// Tagvert: Property get and put over VARIANTs, and PropertyChange.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include "com_test_util.h"

namespace tagvert::comtest {
namespace {

using Events = std::vector<std::string>;

CVar NullBstr() {
  CVar v;
  V_VT(&v.v) = VT_BSTR;
  V_BSTR(&v.v) = nullptr;
  return v;
}

CVar Double(double d) {
  CVar v;
  V_VT(&v.v) = VT_R8;
  V_R8(&v.v) = d;
  return v;
}

CVar Bool(VARIANT_BOOL b) {
  CVar v;
  V_VT(&v.v) = VT_BOOL;
  V_BOOL(&v.v) = b;
  return v;
}

// The names and indexes the converter resolves: tests/frame/identity_test.cpp; here the VARIANT
// types COM hands over.
TEST(CConverterPropertyTest, GetResolvesNamesAndInt32IndexesOnly) {
  auto converter = CreateConverter();
  ASSERT_EQ(converter->put_Property(CVar::I4(0).v, CVar::I4(0x00070000).v), S_OK);
  const struct {
    const char* name;
    CVar prop;
    HRESULT expected;
  } rows[] = {
      {"name", CVar(L"direction"), S_OK},        {"int32 index", CVar::I4(0), S_OK},
      {"null name", NullBstr(), E_INVALIDARG},   {"int16 index", CVar::I2(0), E_INVALIDARG},
      {"double index", Double(0), E_INVALIDARG}, {"empty", CVar(), E_INVALIDARG},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CVar value;
    ASSERT_EQ(converter->get_Property(row.prop.v, &value.v), row.expected);
    if (row.expected != S_OK) continue;
    EXPECT_EQ(DescribeVariant(value.v), "3:458752");  // VT_I4
  }
}

TEST(CConverterPropertyTest, PutStoresIntegersAndFiresTheCallersValuesAsGiven) {
  auto converter = CreateConverter();
  auto sink = MakeSink();
  Advise(converter.Get(), sink.Get());
  const struct {
    const char* name;
    CVar prop;
    CVar value;
    HRESULT expected;
    LONG stored;        // Direction afterwards
    const char* event;  // the PropertyChange seen, or nothing
  } rows[] = {
      {"int32 by name", CVar(L"Direction"), CVar::I4(7), S_OK, 7, "Property 8:Direction 3:7"},
      {"int16 value", CVar(L"direction"), CVar::I2(5), S_OK, 5, "Property 8:direction 2:5"},
      {"int16 index", CVar::I2(0), CVar::I4(9), S_OK, 9, "Property 2:0 3:9"},
      {"double index converted", Double(0.2), CVar::I4(4), S_OK, 4, "Property 5: 3:4"},
      {"text stores nothing", CVar(L"Direction"), CVar(L"12"), S_OK, 4,
       "Property 8:Direction 8:12"},
      {"boolean stores nothing", CVar(L"Direction"), Bool(VARIANT_TRUE), S_OK, 4,
       "Property 8:Direction 11:-1"},
      {"index 1 stores nothing", CVar::I4(1), CVar::I4(3), S_OK, 4, "Property 3:1 3:3"},
      {"unsupported value type", CVar(L"Direction"), Double(1), E_INVALIDARG, 4, nullptr},
      {"unknown name", CVar(L"Target"), CVar::I4(1), E_INVALIDARG, 4, nullptr},
      {"negative index", CVar::I4(-2), CVar::I4(1), E_INVALIDARG, 4, nullptr},
      {"null name taken as an index", NullBstr(), CVar::I4(1), DISP_E_TYPEMISMATCH, 4, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sink->events.clear();
    EXPECT_EQ(converter->put_Property(row.prop.v, row.value.v), row.expected);
    CVar value;
    ASSERT_EQ(converter->get_Property(CVar::I4(0).v, &value.v), S_OK);
    EXPECT_EQ(V_I4(&value.v), row.stored);
    EXPECT_EQ(sink->events, row.event ? Events{row.event} : Events{});
  }
}

}  // namespace
}  // namespace tagvert::comtest
