// Converts doc.ttx to IF for a German target and the IF back to TTX, printing the events; and
// doc.ttx to XLIFF.
#include <tagvert/tagvert.h>
#if __has_include(<tagvert/xliff.h>)
#include <tagvert/xliff.h>  // the XLIFF bridge, in a library built with expat
#endif

#include <cstdio>
#include <memory>

class Progress : public tagvert::ITransEventsListener {
 public:
  void OnStateChange(std::int32_t state) override { std::printf("state %d\n", int(state)); }
  void OnProgressChange(std::int32_t progress, std::int32_t) override {
    std::printf("progress %d%%\n", int(progress));
  }
};

int main() {
  std::printf("tagvert %s\n", tagvert::GetVersion());
  tagvert::CConverter converter;  // loads the built-in TTX rules
  std::uint32_t cookie = 0;
  converter.Advise(std::make_shared<Progress>(), cookie);
  converter.PutProperty(tagvert::CVariant::String(u"Direction"),
                        tagvert::CVariant::Int32(0x00040000));  // target language: German

  if (converter.IsFormatAvailable(tagvert::CEndpoint::File(u"doc.ttx")) != tagvert::kSOk) {
    std::printf("doc.ttx is not TTX\n");
    return 1;
  }
  tagvert::HResult hr = converter.ConvertToIF(tagvert::CEndpoint::File(u"doc.ttx"),
                                              tagvert::CEndpoint::File(u"doc.ttx.if"));
  // ... the kernel translates doc.ttx.if ...
  if (!tagvert::Failed(hr)) {
    hr = converter.ConvertFromIF(tagvert::CEndpoint::File(u"doc.ttx.if"),
                                 tagvert::CEndpoint::File(u"doc.out.ttx"));
  }
#if __has_include(<tagvert/xliff.h>)
  // The same document as XLIFF 1.2, for any translation tool.
  tagvert::CXliffWriteOptions options;
  options.direction = 0x00040000;
  options.original = "doc.ttx";
  tagvert::CXliffReport report;
  if (!tagvert::Failed(hr)) {
    hr = tagvert::ConvertToXliff(tagvert::CEndpoint::File(u"doc.ttx"),
                                 tagvert::CEndpoint::File(u"doc.ttx.xlf"), options, report);
  }
#endif
  std::printf("result 0x%08X\n", unsigned(hr));
  return tagvert::Failed(hr) ? 1 : 0;
}
