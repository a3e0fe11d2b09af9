// Tagvert: fuzz target: any bytes convert as TTX to IF and back; every item of markup comes back
// byte for byte, and a second round trip gives the same bytes as the first.
// SPDX-License-Identifier: Apache-2.0
#include "frame/ttx_converter.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace tagvert;

CTagvertConverter& Converter() {
  static CTagvertConverter* converter = [] {
    auto* c = new CTagvertConverter();
    // French as the target language, so that the Tuv rules skip the other languages.
    c->PutProperty(CVariant::String(u"Direction"), CVariant::Int32(0x000C0000));
    return c;
  }();
  return *converter;
}

std::vector<std::uint8_t> Convert(bool toIF, const std::vector<std::uint8_t>& input) {
  auto target = std::make_shared<CMemoryStream>();
  const CEndpoint source = CEndpoint::Stream(std::make_shared<CMemoryStream>(input));
  const HResult hr = toIF ? Converter().ConvertToIF(source, CEndpoint::Stream(target))
                          : Converter().ConvertFromIF(source, CEndpoint::Stream(target));
  // Content never makes a conversion fail.
  TAGVERT_FUZZ_CHECK(hr == kSOk);
  return target->Bytes();
}

std::vector<std::u16string> Markup(const std::vector<std::uint8_t>& ttx) {
  std::vector<std::u16string> markup;
  for (const fuzz::CItem& item : fuzz::ReadMarkupItems(ttx))
    if (item.markup) markup.push_back(item.source);
  return markup;
}

// The output with the spaces next to no-break spaces (UTF-8 C2 A0) dropped. Known departure: a
// conversion to IF puts a space after every no-break space and the way back removes only some,
// so each round trip adds one there ("5\u00A0 pm" becomes "5\u00A0  pm"); everything else
// must be byte for byte the same.
std::vector<std::uint8_t> WithoutSpacesAtNbsp(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const bool nbspBefore = out.size() >= 2 && out[out.size() - 2] == 0xC2 && out.back() == 0xA0;
    if (bytes[i] == ' ' && nbspBefore) continue;
    if (bytes[i] == 0xC2 && i + 1 < bytes.size() && bytes[i + 1] == 0xA0) {
      while (!out.empty() && out.back() == ' ')
        out.pop_back();
    }
    out.push_back(bytes[i]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> ttx(data, data + size);
  // IF carries its codes in U+E000..U+EFFF: a document that holds such characters itself cannot
  // come back unchanged (the IF reader takes them for codes), so it proves nothing here.
  for (const char16_t unit : fuzz::DecodeMarkup(ttx))
    if (unit >= 0xE000 && unit <= 0xEFFF) return 0;
  const std::vector<std::uint8_t> back = Convert(false, Convert(true, ttx));
  TAGVERT_FUZZ_CHECK(Markup(back) == Markup(ttx));
  const std::vector<std::uint8_t> again = Convert(false, Convert(true, back));
  TAGVERT_FUZZ_CHECK(WithoutSpacesAtNbsp(again) == WithoutSpacesAtNbsp(back));
  return 0;
}
