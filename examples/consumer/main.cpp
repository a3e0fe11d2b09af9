// Converts doc.ttx to IF for a German target and the IF back to TTX, printing the events.
#include <tagvert/tagvert.h>

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
  std::printf("result 0x%08X\n", unsigned(hr));
  return tagvert::Failed(hr) ? 1 : 0;
}
