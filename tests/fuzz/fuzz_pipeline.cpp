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

// The value of an XML declaration's encoding: the way back relabels any other than UTF-8 as UTF-8,
// as the output is UTF-8. The declaration is read as pseudo-attributes in order, as the way back
// reads it, so that "encodingx='1' encoding='y'" loses the value of the second; white space may
// stand around the `=`.
std::u16string WithoutDeclaredEncoding(std::u16string item) {
  if (item.rfind(u"<?xml", 0) != 0) return item;
  const std::size_t end = item.find(u"?>", 5);
  if (end == std::u16string::npos) return item;
  const auto isSpace = [](char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
  };
  const auto skipSpace = [&](std::size_t i) {
    while (i < end && isSpace(item[i]))
      ++i;
    return i;
  };
  for (std::size_t i = 5;;) {
    const std::size_t nameStart = i = skipSpace(i);
    while (i < end && !isSpace(item[i]) && item[i] != u'=')
      ++i;
    if (i == nameStart) return item;
    const std::u16string name = item.substr(nameStart, i - nameStart);
    i = skipSpace(i);
    if (i >= end || item[i] != u'=') return item;
    const std::size_t open = skipSpace(i + 1);
    if (open >= end || (item[open] != u'"' && item[open] != u'\'')) return item;
    const std::size_t close = item.find(item[open], open + 1);
    if (close == std::u16string::npos || close >= end) return item;
    if (name == u"encoding") return item.erase(open + 1, close - open - 1);
    i = close + 1;
  }
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
    if (item.markup) markup.push_back(AsXml(WithoutDeclaredEncoding(item.source)));
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
