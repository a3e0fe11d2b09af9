// Tagvert: an XLIFF written again with targets made from its sources (the pseudo-translation of
// an XLIFF).
// SPDX-License-Identifier: Apache-2.0
#include <expat.h>

#include <cstring>
#include <new>

#include "xliff/xliff_bridge.h"

namespace tagvert::xliff {

namespace {

// What the XLIFF says before its first file's content: the version and languages of its root,
// the languages and the original name of its first <file>. Read from the bytes as the merge
// reads them, by a parser of its own that stops at the first <file>: the merge judges the rest.
class CHeadReader : public IByteStream {
 public:
  explicit CHeadReader(IByteStream& in) : m_in(in), m_parser(XML_ParserCreateNS(nullptr, '|')) {
    if (m_parser == nullptr) throw std::bad_alloc();
    XML_SetUserData(m_parser, this);
    XML_SetStartElementHandler(m_parser, &OnStart);
  }
  ~CHeadReader() override { XML_ParserFree(m_parser); }
  CHeadReader(const CHeadReader&) = delete;
  CHeadReader& operator=(const CHeadReader&) = delete;

  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    const std::uint32_t read = m_in.Read(buffer, size);
    if (!m_done && XML_Parse(m_parser, static_cast<const char*>(buffer), static_cast<int>(read),
                             read == 0) != XML_STATUS_OK) {
      m_done = true;
    }
    return read;
  }
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }
  std::uint64_t Position() override { return m_in.Position(); }
  bool Size(std::uint64_t& size) override { return m_in.Size(size); }

  bool v2 = false;
  CXliffHeader header;

 private:
  static void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto& self = *static_cast<CHeadReader*>(data);
    const char* bar = std::strrchr(name, '|');
    const std::string_view local = bar == nullptr ? name : bar + 1;
    const auto take = [attributes](const char* wanted, std::string& into) {
      for (const XML_Char** a = attributes; *a != nullptr; a += 2) {
        if (std::strcmp(a[0], wanted) == 0) into = a[1];
      }
    };
    if (local == "xliff") {
      std::string version;
      take("version", version);
      self.v2 = version == "2.0";
      take("srcLang", self.header.sourceLanguage);
      take("trgLang", self.header.targetLanguage);
    } else if (local == "file") {
      take("original", self.header.original);
      take("source-language", self.header.sourceLanguage);
      take("target-language", self.header.targetLanguage);
      self.m_done = true;
      XML_StopParser(self.m_parser, XML_FALSE);
    }
  }

  IByteStream& m_in;
  XML_Parser m_parser;
  bool m_done = false;
};

}  // namespace

std::size_t RetargetXliff(IByteStream& xml, const CXliffReadOptions& options,
                          const TargetText& text, std::vector<std::string>& warnings,
                          const std::function<void(std::string_view)>& write) {
  CHeadReader head(xml);
  CMergeResult merged = MergeXliff(head, options, nullptr, nullptr, true);
  warnings = std::move(merged.warnings);
  CXliffWriteOptions writeOptions;
  writeOptions.version = head.v2 ? XliffVersion::V2_0 : XliffVersion::V1_2;
  CXliffWriter writer(writeOptions);
  writer.SetTargetText(text);
  // The document's IF goes to the writer piece by piece, as the merge's stream makes it.
  CMergedIfStream(std::move(merged)).ReadUnits([&writer](std::u16string_view units) {
    writer.Feed(units);
  });
  std::u16string sourceLanguage, targetLanguage;
  writer.End(sourceLanguage, targetLanguage);
  if (head.header.targetLanguage.empty()) head.header.targetLanguage = "und";
  return writer.Write(head.header, write);
}

}  // namespace tagvert::xliff
