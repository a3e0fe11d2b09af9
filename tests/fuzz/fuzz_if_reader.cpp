// Tagvert: fuzz target: the IF reader reads any bytes to their end, each item taking at least
// one unit, and reading and writing again reaches a fixed point; the way back to TTX writes the
// same whether it walks the codes or reads element by element for a token observer, and the
// tag groups the walk hands on are those the tokens give.
// SPDX-License-Identifier: Apache-2.0
#include "frame/ttx_converter.h"
#include "fuzz/fuzz_support.h"
#include "ifcodec/if_element_walk.h"
#include "ifcodec/if_parser.h"
#include "storage/unit_scan.h"
#include "support/if_element_writer.h"

namespace {

using namespace tagvert;

// A tag group as a string: position, flags, pair id and source text.
std::u16string GroupText(std::uint64_t unit, bool end, bool block, char16_t pair,
                         std::u16string_view source) {
  std::u16string text(4, u'\0');
  for (int k = 0; k < 4; ++k)
    text[static_cast<std::size_t>(k)] = static_cast<char16_t>(unit >> (16 * k));
  text += {end ? u'e' : u'-', block ? u'b' : u'-', pair};
  text += source;
  text += u'\n';
  return text;
}

// The tag groups of the tokens: a tag group with its pair id, the flags right before it.
class CTokenGroups : public IIfTokenObserver {
 public:
  void OnIfToken(const CIfToken& token, std::uint64_t unit) override {
    switch (token.kind) {
      case IfTokenKind::Flag:
        m_end = m_end || token.code == kIfEndTag;
        m_block = m_block || token.code == kIfBlock;
        return;
      case IfTokenKind::GroupStart:
        if (token.code != kIfTagGroup || token.dataCount == 0) return;
        m_inTag = true;
        m_group = GroupText(unit, m_end, m_block, token.data[0], {});
        m_group.pop_back();
        break;
      case IfTokenKind::GroupData:
        if (m_inTag) m_group += token.units;
        return;
      case IfTokenKind::GroupEnd:
        if (m_inTag) text += m_group + u'\n';
        m_inTag = false;
        break;
      case IfTokenKind::Text:
        text += u"T" + std::u16string(token.units) + u"\n";
        break;
      case IfTokenKind::Boundary:
        break;
    }
    m_end = m_block = false;
  }
  std::u16string text;

 private:
  bool m_end = false, m_block = false, m_inTag = false;
  std::u16string m_group;
};

class CWalkGroups : public IIfTagGroupObserver {
 public:
  void OnIfTagGroup(const CIfTagGroupSeen& g) override {
    text += GroupText(g.unit, g.end, g.block, g.pair, g.source);
  }
  void OnIfText(std::u16string_view run, bool plain, std::size_t widened) override {
    TAGVERT_FUZZ_CHECK(plain == (UnitsFindMarkupSpecial(run.data(), run.size()) == run.size()));
    TAGVERT_FUZZ_CHECK(!plain || widened == 0);
    text += u"T" + std::u16string(run) + u"\n";
  }
  std::u16string text;
};

// The TTX that `bytes` read as IF give back, with a token observer or walking the codes.
std::vector<std::uint8_t> BackToTtx(const std::vector<std::uint8_t>& bytes,
                                    IIfTokenObserver* tokens, IIfTagGroupObserver* groups) {
  auto output = std::make_shared<CMemoryStream>();
  CTagvertConverter converter;
  converter.SetIfTokenObserver(tokens);
  converter.SetIfTagGroupObserver(groups);
  TAGVERT_FUZZ_CHECK(
      converter.ConvertFromIF(CEndpoint::Stream(std::make_shared<CMemoryStream>(bytes)),
                              CEndpoint::Stream(output)) == kSOk);
  return output->Bytes();
}

// Reads `bytes` as IF and writes every item again as IF; returns the IF written.
std::vector<std::uint8_t> Rewrite(const std::vector<std::uint8_t>& bytes) {
  auto output = std::make_shared<CMemoryStream>();
  CDataStorage storage(EncodingMode::Utf16, EncodingMode::Utf16);
  storage.Open(CEndpoint::Stream(std::make_shared<CMemoryStream>(bytes)),
               CEndpoint::Stream(output));
  CIFParser parser(&storage, IfParserMode::Read | IfParserMode::Write);
  std::size_t items = 0;
  for (;;) {
    CElementX element;
    if (!parser.ReadElement(&element)) break;
    test::WriteIfElement(parser, &element);
    // Every item consumes input: at most one per byte pair, plus the last.
    TAGVERT_FUZZ_CHECK(++items <= bytes.size() / 2 + 1);
  }
  storage.Flush();
  storage.Close();
  return output->Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first rewrite drops what the reader ignores (unknown codes, skipped text); the second
  // may still settle an element's kind (an end mark on a tag of pair id 0 is read as a single
  // tag, which is written without it). From then on reading and writing change nothing.
  const std::vector<std::uint8_t> twice =
      Rewrite(Rewrite(std::vector<std::uint8_t>(data, data + size)));
  TAGVERT_FUZZ_CHECK(Rewrite(twice) == twice);
  const std::vector<std::uint8_t> bytes(data, data + size);
  CTokenGroups tokens;
  CWalkGroups groups;
  TAGVERT_FUZZ_CHECK(BackToTtx(bytes, &tokens, nullptr) == BackToTtx(bytes, nullptr, &groups));
  TAGVERT_FUZZ_CHECK(tokens.text == groups.text);
  return 0;
}
