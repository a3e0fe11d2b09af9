// Tagvert: tests of the converter's format test and properties. The fixed identity is checked
// through COM by the script clients and by the command's info test; the name and captions from
// the kernel text service by the Windows tests (tests/com/text_service).
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame_test_util.h"

namespace tagvert {
namespace {

using test::Utf8Bytes;

TEST(CTagvertConverterTest, FormatTestFindsTheRootAmongTheFirstSixItems) {
  const std::u16string five = u"<!--1--><!--2--><!--3--><!--4--><!--5-->";
  const std::vector<std::pair<std::u16string, HResult>> cases = {
      {u"<?xml version='1.0'?>\r\n<TRADOStag Version=\"2.0\"></TRADOStag>", kSOk},
      {u"<tradostag Version=\"2.0\">", kENotFormat},
      {five + u"<TRADOStag>", kSOk},
      {five + u"<!--6--><TRADOStag>", kENotFormat},
      {u"", kENotFormat},
      {u"<html><body>TRADOStag</body></html>", kENotFormat},
      {u"<TRADOStag", kSOk},  // unterminated, but the name is complete
  };
  CTagvertConverter converter;
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(test::Printable(text));
    for (const auto& bytes :
         {Utf8Bytes(text, true), test::Utf16LeBytes(text, true), Utf8Bytes(text, false)}) {
      EXPECT_EQ(
          converter.IsFormatAvailable(CEndpoint::Stream(std::make_shared<CMemoryStream>(bytes))),
          expected);
    }
  }
  EXPECT_EQ(converter.IsFormatAvailable(CEndpoint::File(u"/nonexistent/x.ttx")), kEInvalidArg);
  EXPECT_EQ(converter.IsFormatAvailable(CEndpoint::Other()), kEInvalidArg);
  EXPECT_EQ(converter.State(), kStateIdle);  // no state event from a format test
  // A stop request made after a conversion is still set when the format test reads.
  converter.Stop();
  EXPECT_EQ(converter.IsFormatAvailable(
                CEndpoint::Stream(std::make_shared<CMemoryStream>(Utf8Bytes(u"<TRADOStag>")))),
            kEAbort);
}

TEST(CTagvertConverterTest, DirectionIsFoundByNameInAnyCaseOrByIndexZero) {
  CTagvertConverter c;
  EXPECT_EQ(c.GetPropertyName(7), u"");
  EXPECT_EQ(c.GetPropertyType(7), PropertyType::None);
  ASSERT_EQ(c.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(0x40000)), kSOk);
  for (const CVariant& prop :
       {CVariant::String(u"DIRECTION"), CVariant::String(u"direction"), CVariant::Int32(0)}) {
    CVariant value;
    ASSERT_EQ(c.GetProperty(prop, value), kSOk);
    EXPECT_EQ(value, CVariant::Int32(0x40000));
  }
  CVariant value;
  for (const CVariant& prop : {CVariant::Int32(1), CVariant::Int32(-1), CVariant::Int16(0),
                               CVariant::NullString(), CVariant::String(u"Speed")}) {
    EXPECT_EQ(c.GetProperty(prop, value), kEInvalidArg);
  }
}

TEST(CTagvertConverterTest, PutPropertyAcceptsRefusesOrIgnoresByKeyAndValueType) {
  CTagvertConverter c;
  auto recorder = std::make_shared<test::CEventRecorder>();
  std::uint32_t cookie = 0;
  c.Advise(recorder, cookie);
  struct Case {
    CVariant prop;
    CVariant value;
    HResult expected;
    std::int32_t directionAfter;
  };
  const std::vector<Case> cases = {
      {CVariant::String(u"Direction"), CVariant::Int16(5), kSOk, 5},
      {CVariant::Int16(0), CVariant::Int32(6), kSOk, 6},              // int16 index converted
      {CVariant::String(u"0"), CVariant::Int32(7), kEInvalidArg, 6},  // a name, not a number
      {CVariant::NullString(), CVariant::Int32(8), kDispETypeMismatch, 6},
      {CVariant::Int32(1), CVariant::Int32(9), kSOk, 6},  // accepted, ignored
      {CVariant::Int32(-1), CVariant::Int32(9), kEInvalidArg, 6},
      {CVariant::Int32(0), CVariant::String(u"12"), kSOk, 6},  // a string stores nothing
      {CVariant::Int32(0), CVariant::Bool(true), kSOk, 6},
      {CVariant::Int32(0), CVariant::Array(3), kSOk, 6},
      {CVariant::Int32(0), CVariant::Other(), kEInvalidArg, 6},
      {CVariant::Int32(0), CVariant(), kEInvalidArg, 6},
      {CVariant::Other(), CVariant::Int32(1), kDispETypeMismatch, 6},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const auto before = recorder->events.size();
    EXPECT_EQ(c.PutProperty(cases[i].prop, cases[i].value), cases[i].expected);
    EXPECT_EQ(c.GetDirection(), cases[i].directionAfter);
    // PropertyChange follows every successful put, and only those.
    EXPECT_EQ(recorder->events.size() - before, cases[i].expected == kSOk ? 1U : 0U);
  }
}

TEST(CVariantTest, ToInt32ConvertsAsThePlatformDoes) {
  const std::vector<std::pair<CVariant, std::pair<HResult, std::int32_t>>> cases = {
      {CVariant::String(u" 42 "), {kSOk, 42}},
      {CVariant::String(u"-7"), {kSOk, -7}},
      {CVariant::String(u"4x"), {kDispETypeMismatch, 0}},
      {CVariant::String(u""), {kDispETypeMismatch, 0}},
      {CVariant::String(u"+2147483647"), {kSOk, 2147483647}},
      {CVariant::String(u"-2147483648"), {kSOk, -2147483647 - 1}},
      {CVariant::String(u"2147483648"), {kDispEOverflow, 0}},
      {CVariant::String(u"3000000000x"), {kDispETypeMismatch, 0}},
      {CVariant::String(u"99999999999"), {kDispEOverflow, 0}},
      {CVariant::String(u"- 1"), {kDispETypeMismatch, 0}},
      {CVariant::Bool(true), {kSOk, -1}},
      {CVariant(), {kSOk, 0}},
  };
  for (const auto& [variant, expected] : cases) {
    SCOPED_TRACE(test::Printable(variant.GetString()));
    std::int32_t v = 0;
    EXPECT_EQ(variant.ToInt32(v), expected.first);
    if (expected.first == kSOk) {
      EXPECT_EQ(v, expected.second);
    }
  }
}

}  // namespace
}  // namespace tagvert
