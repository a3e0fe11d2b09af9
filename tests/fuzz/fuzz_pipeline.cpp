// Tagvert: fuzz target: any bytes convert as TTX to IF and back; every item of markup comes back
// byte for byte (but for the characters XML excludes, which come back as U+FFFD or a space), and
// repeated round trips settle on bytes that no longer change.
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

// The item without the values of its XML declaration's encoding (the item as AsXml gives it).
// The way back relabels any encoding other than UTF-8 as UTF-8, as the output is UTF-8, where it
// reads the declaration as pseudo-attributes in order; a form feed or vertical tab in the
// declaration is not white space to that reading but comes back as a space, so that the same
// declaration reads differently before and after a trip. So every quoted value that follows
// "encoding" and an `=` (white space around it) is left out, on both sides alike: the
// declaration's other units must come back as they were.
std::u16string WithoutEncodingValues(std::u16string item) {
  if (item.rfind(u"<?xml", 0) != 0) return item;
  const auto isSpace = [](char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
  };
  constexpr std::u16string_view kName = u"encoding";
  for (std::size_t at = item.find(kName); at != std::u16string::npos; at = item.find(kName, at)) {
    std::size_t i = at + kName.size();
    while (i < item.size() && isSpace(item[i]))
      ++i;
    if (i >= item.size() || item[i] != u'=') {
      at = i;
      continue;
    }
    ++i;
    while (i < item.size() && isSpace(item[i]))
      ++i;
    if (i >= item.size() || (item[i] != u'"' && item[i] != u'\'')) {
      at = i;
      continue;
    }
    const std::size_t close = item.find(item[i], i + 1);
    if (close == std::u16string::npos) return item;
    item.erase(i + 1, close - i - 1);
    at = i + 2;
  }
  return item;
}

// The item as the way back writes it: a unit that XML excludes (a control but tab, line feed
// and carriage return; U+FFFE, U+FFFF; a surrogate that does not pair up) becomes U+FFFD, but
// vertical tab and form feed, white space in a tag, become a space.
std::u16string AsXml(std::u16string item) {
  for (std::size_t i = 0; i < item.size(); ++i) {
    const char16_t c = item[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < item.size() && item[i + 1] >= 0xDC00 &&
        item[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c == 0x0B || c == 0x0C) {
      item[i] = u' ';
    } else if ((c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c >= 0xFFFE ||
               (c >= 0xD800 && c <= 0xDFFF)) {
      item[i] = 0xFFFD;
    }
  }
  return item;
}

std::vector<std::u16string> Markup(const std::vector<std::uint8_t>& ttx) {
  std::vector<std::u16string> markup;
  for (const fuzz::CItem& item : fuzz::ReadMarkupItems(ttx))
    if (item.markup) markup.push_back(WithoutEncodingValues(AsXml(item.source)));
  return markup;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> ttx(data, data + size);
  // IF carries its codes in U+E000..U+EFFF: such characters of the document itself travel as
  // numeric references and come back so, changing the markup that holds them.
  for (const char16_t unit : fuzz::DecodeMarkup(ttx))
    if (unit >= 0xE000 && unit <= 0xEFFF) return 0;
  const std::vector<std::uint8_t> back = Convert(false, Convert(true, ttx));
  TAGVERT_FUZZ_CHECK(Markup(back) == Markup(ttx));
  // White space written as a reference (`&#10;`) is decoded after the text's white space has
  // been normalised, so the first trip writes it back as the character itself and the second
  // normalises it like any other. A run of carriage returns takes longer: normalising keeps a CR
  // that follows a line break, so each trip halves the run. Either way the text settles: within
  // one trip more than the longest run could need (the input is at most 4 KiB).
  std::vector<std::uint8_t> again = Convert(false, Convert(true, back));
  TAGVERT_FUZZ_CHECK(Markup(again) == Markup(ttx));
  for (int trip = 0;; ++trip) {
    TAGVERT_FUZZ_CHECK(trip <= 13);
    std::vector<std::uint8_t> next = Convert(false, Convert(true, again));
    if (next == again) break;
    TAGVERT_FUZZ_CHECK(Markup(next) == Markup(ttx));
    again.swap(next);
  }
  return 0;
}
