// Tagvert: tests of the converter's identity, format test and properties.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/frame_test_util.h"

namespace tagvert {
namespace {

using test::CEventRecorder;
using test::Utf16LeBytes;
using test::Utf8Bytes;

HResult Detect(CTagvertConverter& converter, const std::vector<std::uint8_t>& bytes) {
  return converter.IsFormatAvailable(CEndpoint::Stream(std::make_shared<CMemoryStream>(bytes)));
}

TEST(CTagvertConverterTest, IdentityWithoutKernel) {
  CTagvertConverter c;
  EXPECT_EQ(c.GetConverterName(), u"TTX");
  EXPECT_EQ(c.GetCaption(true), u"");
  EXPECT_EQ(c.GetCaption(false), u"");
  EXPECT_EQ(c.GetFormatId(), 31);
  EXPECT_EQ(c.GetTargetId(), 31);
  EXPECT_EQ(c.GetFilterString(), u"*.ttx");
  EXPECT_EQ(c.GetDefaultExtension(), u"ttx");
  EXPECT_EQ(c.GetMIMEContentType(), u"text/ttx");
  EXPECT_TRUE(c.CanConvertToIF());
  EXPECT_TRUE(c.CanConvertFromIF());
}

// A kernel text service that knows the format name and one caption.
class CFakeKernel : public IKernelTextService {
 public:
  HResult GetActionText(std::int32_t n, std::optional<std::u16string>& text) override {
    if (n == 30) text = u"Converting TTX to IF";
    if (n == 31) return kEFail;
    return kSOk;
  }
  HResult GetFormatName(std::int32_t n, std::optional<std::u16string>& text) override {
    if (n == 31) text = u"TagEditor document";
    return kSOk;
  }
};

TEST(CTagvertConverterTest, KernelTextsAndTheirFallbacks) {
  CTagvertConverter c;
  c.SetKernelTextServiceFactory([](HResult&) -> std::unique_ptr<IKernelTextService> {
    return std::make_unique<CFakeKernel>();
  });
  EXPECT_EQ(c.GetConverterName(), u"TagEditor document");
  EXPECT_EQ(c.GetCaption(true), u"Converting TTX to IF");
  EXPECT_EQ(c.GetCaption(false), u"");  // the service failed
  auto recorder = std::make_shared<CEventRecorder>();
  std::uint32_t cookie = 0;
  c.Advise(recorder, cookie);
  test::ToIf(Utf8Bytes(u"x"), &c);
  ASSERT_GE(recorder->events.size(), 2U);
  EXPECT_EQ(recorder->events[1], "Text Converting TTX to IF");

  c.SetKernelTextServiceFactory([](HResult& hr) -> std::unique_ptr<IKernelTextService> {
    hr = MakeHResult(0x80040154);  // class not registered
    return nullptr;
  });
  EXPECT_EQ(c.GetConverterName(), u"TTX");
}

TEST(CTagvertConverterTest, FormatTestFindsTheRootAmongTheFirstSixItems) {
  struct Case {
    std::u16string text;
    HResult expected;
  };
  const std::u16string c5 = u"<!--1--><!--2--><!--3--><!--4--><!--5-->";
  const std::vector<Case> cases = {
      {u"<?xml version='1.0'?>\r\n<TRADOStag Version=\"2.0\"></TRADOStag>", kSOk},
      {u"<TRADOStag>", kSOk},
      {u"<tradostag Version=\"2.0\">", kENotFormat},
      {c5 + u"<TRADOStag>", kSOk},
      {c5 + u"<!--6--><TRADOStag>", kENotFormat},
      {u"", kENotFormat},
      {u"<html><body>TRADOStag</body></html>", kENotFormat},
      {u"<TRADOStag", kSOk},  // unterminated, but the name is complete
  };
  CTagvertConverter converter;
  for (const auto& c : cases) {
    SCOPED_TRACE(test::Printable(c.text));
    EXPECT_EQ(Detect(converter, Utf8Bytes(c.text, true)), c.expected);
    EXPECT_EQ(Detect(converter, Utf16LeBytes(c.text, true)), c.expected);
    EXPECT_EQ(Detect(converter, Utf8Bytes(c.text, false)), c.expected);
  }
}

TEST(CTagvertConverterTest, FormatTestOfMissingFileAndOtherValues) {
  CTagvertConverter converter;
  EXPECT_EQ(converter.IsFormatAvailable(CEndpoint::File(u"/nonexistent/x.ttx")), kEInvalidArg);
  EXPECT_EQ(converter.IsFormatAvailable(CEndpoint::Other()), kEInvalidArg);
  EXPECT_EQ(converter.State(), kStateIdle);  // no state event from a format test
}

TEST(CTagvertConverterTest, FormatTestMeetsAStillSetStopFlag) {
  CTagvertConverter converter;
  converter.Stop();
  EXPECT_EQ(Detect(converter, Utf8Bytes(u"<TRADOStag>")), kEAbort);
}

TEST(CTagvertConverterTest, PropertyTable) {
  CTagvertConverter c;
  EXPECT_EQ(c.GetPropertyCount(), 1);
  EXPECT_EQ(c.GetPropertyName(0), u"Direction");
  EXPECT_EQ(c.GetPropertyDisplayName(0), u"Direction");
  EXPECT_EQ(c.GetPropertyType(0), 2);
  EXPECT_EQ(c.GetPropertyName(7), u"");
  EXPECT_EQ(c.GetPropertyType(7), -1);
  std::int32_t index = 5;
  std::int32_t item = -1;
  EXPECT_TRUE(c.FindProperty(u"DIRECTION", index, item));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(c.FindProperty(u"Directions", index, item));
  EXPECT_EQ(index, -1);
  EXPECT_EQ(item, -1);
}

TEST(CTagvertConverterTest, PropertyGetByNameOrIndex) {
  CTagvertConverter c;
  ASSERT_EQ(c.PutProperty(CVariant::String(u"Direction"), CVariant::Int32(0x40000)), kSOk);
  for (const CVariant& prop :
       {CVariant::String(u"DIRECTION"), CVariant::String(u"direction"), CVariant::Int32(0)}) {
    CVariant value;
    ASSERT_EQ(c.GetProperty(prop, value), kSOk);
    EXPECT_EQ(value.GetType(), CVariant::Type::Int32);
    EXPECT_EQ(value.GetInt(), 0x40000);
  }
  CVariant value;
  EXPECT_EQ(c.GetProperty(CVariant::Int32(1), value), kEInvalidArg);
  EXPECT_EQ(c.GetProperty(CVariant::Int32(-1), value), kEInvalidArg);
  EXPECT_EQ(c.GetProperty(CVariant::Int16(0), value), kEInvalidArg);
  EXPECT_EQ(c.GetProperty(CVariant::NullString(), value), kEInvalidArg);
  EXPECT_EQ(c.GetProperty(CVariant::String(u"Speed"), value), kEInvalidArg);
}

TEST(CTagvertConverterTest, PropertyPutRules) {
  CTagvertConverter c;
  auto recorder = std::make_shared<CEventRecorder>();
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
  int fired = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const auto before = recorder->events.size();
    EXPECT_EQ(c.PutProperty(cases[i].prop, cases[i].value), cases[i].expected);
    EXPECT_EQ(c.GetDirection(), cases[i].directionAfter);
    // PropertyChange follows every successful put, and only those.
    EXPECT_EQ(recorder->events.size() - before, cases[i].expected == kSOk ? 1U : 0U);
    fired += cases[i].expected == kSOk;
  }
  EXPECT_EQ(fired, 6);
}

TEST(CVariantTest, ConversionToInt32) {
  std::int32_t v = 0;
  EXPECT_EQ(CVariant::String(u" 42 ").ToInt32(v), kSOk);
  EXPECT_EQ(v, 42);
  EXPECT_EQ(CVariant::String(u"-7").ToInt32(v), kSOk);
  EXPECT_EQ(v, -7);
  EXPECT_EQ(CVariant::String(u"4x").ToInt32(v), kDispETypeMismatch);
  EXPECT_EQ(CVariant::String(u"").ToInt32(v), kDispETypeMismatch);
  EXPECT_EQ(CVariant::String(u"99999999999").ToInt32(v), kDispEOverflow);
  EXPECT_EQ(CVariant::Bool(true).ToInt32(v), kSOk);
  EXPECT_EQ(v, -1);
  EXPECT_EQ(CVariant().ToInt32(v), kSOk);
  EXPECT_EQ(v, 0);
}

}  // namespace
}  // namespace tagvert
