// Tagvert tests (Windows): converters take their rules from the "RULES" resource of the module
// that holds the code, through a moveable global memory block and a stream over it. This program
// links that code and carries a rule set of its own (one named rule) as resource 200.
// SPDX-License-Identifier: Apache-2.0
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "com/rules_resource.h"
#include "frame/ttx_converter.h"
#include "rules/builtin_rules.h"

namespace tagvert {
namespace {

std::vector<std::uint8_t> ReadAll(IByteStream& stream) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[256];
  while (const std::uint32_t read = stream.Read(buffer, sizeof buffer))
    bytes.insert(bytes.end(), buffer, buffer + read);
  return bytes;
}

TEST(RulesResourceTest, StreamHoldsTheModulesResourceBytes) {
  const HRSRC info = ::FindResourceW(nullptr, MAKEINTRESOURCEW(kRulesResourceId), L"RULES");
  ASSERT_NE(info, nullptr);
  const auto* resource =
      static_cast<const std::uint8_t*>(::LockResource(::LoadResource(nullptr, info)));
  const std::vector<std::uint8_t> expected(resource, resource + ::SizeofResource(nullptr, info));

  const ByteStreamPtr stream = OpenModuleRulesResource();
  ASSERT_NE(stream, nullptr);
  std::uint64_t size = 0;
  ASSERT_TRUE(stream->Size(size));
  // The block may be rounded up; what lies beyond the resource is zero.
  ASSERT_GE(size, expected.size());
  std::vector<std::uint8_t> bytes = ReadAll(*stream);
  ASSERT_EQ(bytes.size(), size);
  for (std::size_t i = expected.size(); i < bytes.size(); ++i)
    EXPECT_EQ(bytes[i], 0) << "at " << i;
  bytes.resize(expected.size());
  EXPECT_EQ(bytes, expected);
}

TEST(RulesResourceTest, ConverterLoadsTheResourceNotTheCompiledInRules) {
  EXPECT_EQ(GetRulesStreamSource(), &OpenModuleRulesResource);
  CTagvertConverter converter;
  EXPECT_TRUE(converter.GetRules().IsLoaded());
  ASSERT_EQ(converter.GetRules().GetNamedRules().size(), 1u);
  EXPECT_TRUE(converter.GetRules().GetNamelessRules().empty());

  // The library's default source gives the 14 built-in rules.
  SetRulesStreamSource(nullptr);
  CTagvertConverter builtin;
  EXPECT_GT(builtin.GetRules().GetNamedRules().size(), 1u);
  UseModuleRulesResource();
}

}  // namespace
}  // namespace tagvert
