// Tagvert: the public API as a host sees it: only <tagvert/tagvert.h> and the library, no
// internal header. In a shared build this runs across the library's boundary, so it also
// checks that what a host needs is exported and that exceptions and listeners cross it.
// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>
#include <tagvert/tagvert.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using tagvert::CConverter;
using tagvert::CEndpoint;

// A host's stream over a byte string; a read fails with `failWith` when it is set.
class CHostStream : public tagvert::IByteStream {
 public:
  explicit CHostStream(std::string data = {}, tagvert::HResult failWith = tagvert::kSOk)
      : m_data(std::move(data)), m_failWith(failWith) {}
  std::uint32_t Read(void* buffer, std::uint32_t size) override {
    if (m_failWith != tagvert::kSOk) throw tagvert::CHResultError(m_failWith);
    const std::size_t n = std::min<std::size_t>(size, m_data.size() - m_position);
    std::memcpy(buffer, m_data.data() + m_position, n);
    m_position += n;
    return static_cast<std::uint32_t>(n);
  }
  std::uint32_t Write(const void* data, std::uint32_t size) override {
    m_data.append(static_cast<const char*>(data), size);
    return size;
  }
  std::uint64_t Position() override { return m_position; }
  bool Size(std::uint64_t& size) override {
    size = m_data.size();
    return true;
  }
  const std::string& Data() const { return m_data; }

 private:
  std::string m_data;
  std::size_t m_position = 0;
  tagvert::HResult m_failWith;
};

// Records the states; stops the conversion at the first progress event when asked to.
class CRecorder : public tagvert::ITransEventsListener {
 public:
  explicit CRecorder(CConverter* stopThis = nullptr) : m_stopThis(stopThis) {}
  void OnStateChange(std::int32_t state) override { states.push_back(state); }
  void OnProgressChange(std::int32_t, std::int32_t) override {
    if (m_stopThis != nullptr) m_stopThis->Stop();
  }
  std::vector<std::int32_t> states;

 private:
  CConverter* m_stopThis;
};

const std::string kDocument =
    "<TRADOStag><Body><Raw>Hello &amp; welcome</Raw></Body></TRADOStag>" + std::string(4096, ' ');

TEST(CConverterTest, VersionOfHeadersAndLibraryAgree) {
  EXPECT_STREQ(tagvert::GetVersion(), TAGVERT_VERSION_STRING);
  EXPECT_EQ(std::to_string(TAGVERT_VERSION_MAJOR) + "." + std::to_string(TAGVERT_VERSION_MINOR) +
                "." + std::to_string(TAGVERT_VERSION_PATCH),
            TAGVERT_VERSION_STRING);
}

// A round trip through host streams with a host listener that stops the next conversion: the
// listener's calls, the host's exception and the stop cross the library's boundary.
TEST(CConverterTest, HostStreamsListenersAndFailuresCrossTheBoundary) {
  CConverter converter;
  auto recorder = std::make_shared<CRecorder>();
  std::uint32_t cookie = 0;
  ASSERT_EQ(converter.Advise(recorder, cookie), tagvert::kSOk);
  ASSERT_EQ(converter.PutProperty(tagvert::CVariant::String(u"Direction"),
                                  tagvert::CVariant::Int32(0x00040000)),
            tagvert::kSOk);
  auto source = std::make_shared<CHostStream>(kDocument);
  EXPECT_EQ(converter.IsFormatAvailable(CEndpoint::Stream(source)), tagvert::kSOk);
  auto ifStream = std::make_shared<CHostStream>();
  ASSERT_EQ(converter.ConvertToIF(CEndpoint::Stream(std::make_shared<CHostStream>(kDocument)),
                                  CEndpoint::Stream(ifStream)),
            tagvert::kSOk);
  EXPECT_EQ(recorder->states,
            (std::vector<std::int32_t>{tagvert::kStateConverting, tagvert::kStateIdle}));
  auto back = std::make_shared<CHostStream>();
  ASSERT_EQ(
      converter.ConvertFromIF(CEndpoint::Stream(std::make_shared<CHostStream>(ifStream->Data())),
                              CEndpoint::Stream(back)),
      tagvert::kSOk);
  EXPECT_NE(back->Data().find("Hello &amp; welcome"), std::string::npos) << back->Data();
  EXPECT_EQ(converter.Unadvise(cookie), tagvert::kSOk);
  EXPECT_EQ(converter.Unadvise(cookie), tagvert::kConnectENoConnection);

  // The host's exception comes back as its code: its type is recognised inside the library.
  const tagvert::HResult code = tagvert::MakeHResult(0x8007001E);
  EXPECT_EQ(converter.ConvertToIF(CEndpoint::Stream(std::make_shared<CHostStream>("", code)),
                                  CEndpoint::Stream(std::make_shared<CHostStream>())),
            code);
  EXPECT_EQ(converter.State(), tagvert::kStateFailed);

  converter.Advise(std::make_shared<CRecorder>(&converter), cookie);
  EXPECT_EQ(converter.ConvertToIF(CEndpoint::Stream(std::make_shared<CHostStream>(kDocument)),
                                  CEndpoint::Stream(std::make_shared<CHostStream>())),
            tagvert::kSOk);
  EXPECT_EQ(converter.State(), tagvert::kStateStopped);
  EXPECT_EQ(converter.GetFormatId(), 31);
  EXPECT_EQ(converter.GetDefaultExtension(), u"ttx");
}

// Language tags as documents write them, and UTF-16 without a byte-order mark: the library's
// promises beyond the COM object, which compares Lang exactly (SetExactLanguageMatch).
TEST(CConverterTest, TranslatesTheTuvOfTheTargetLanguageAsDocumentsWriteIt) {
  const auto utf16 = [](const std::string& ascii, bool bigEndian = false) {
    std::string bytes;
    for (const char c : ascii)
      bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return bytes;
  };
  const std::string fr =
      "<TRADOStag><Tu><Tuv Lang=\"en\">Hello</Tuv><Tuv Lang=\"fr\">Bonjour</Tuv></Tu></TRADOStag>";
  const std::string enCa =
      "<TRADOStag><UserSettings SourceLanguage=\"en-US\"/><Tu><Tuv Lang=\"en-US\">Hello</Tuv>"
      "<Tuv Lang=\"en-CA\">Bonjour</Tuv></Tu></TRADOStag>";
  const struct {
    std::string document;
    bool exact;
    std::int32_t direction;
    bool translated;  // Bonjour reaches the kernel as text of its own
  } rows[] = {
      {fr, false, 0x00080000, true},
      {fr, true, 0x00080000, false},
      {enCa, false, 0x04020000, true},  // en-gb: en-CA, never the source en-US
      {utf16("<?xml version='1.0'?>\r\n" + fr), false, 0x00080000, true},
      {utf16("\r\n" + fr, true), false, 0x00080000, true},
  };
  CConverter converter;  // one converter: each conversion uses its own direction
  for (const auto& row : rows) {
    converter.SetExactLanguageMatch(row.exact);
    converter.PutProperty(tagvert::CVariant::String(u"Direction"),
                          tagvert::CVariant::Int32(row.direction));
    auto ifStream = std::make_shared<CHostStream>();
    ASSERT_EQ(converter.ConvertToIF(CEndpoint::Stream(std::make_shared<CHostStream>(row.document)),
                                    CEndpoint::Stream(ifStream)),
              tagvert::kSOk);
    // A translated Tuv's start tag is a group of its own: the boundary U+E000 ends it.
    const std::string text = std::string("\x00\xE0", 2) + utf16("Bonjour");
    EXPECT_EQ(ifStream->Data().find(text) != std::string::npos, row.translated) << row.document;
  }
}

}  // namespace
