// Tagvert: the TTX converter as a host program uses it (CConverter).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tagvert/byte_stream.h"
#include "tagvert/events.h"
#include "tagvert/export.h"
#include "tagvert/hresult.h"
#include "tagvert/variant.h"

namespace tagvert {

/// The engine's converter, private to the library.
class CTagvertConverter;

/// Converts TTX documents into the kernel's IF and translated IF back into TTX.
///
/// Construction loads the built-in TTX rules. One object runs one conversion or format test at
/// a time, entirely on the calling thread; Stop may be called from any thread. Conversions,
/// the format test, Stop and the property and listener calls never throw: failures come back as
/// result codes, and the state events tell what happened.
/// Sources and targets are file names or byte streams (CEndpoint). Output is flushed and files
/// are closed when a call returns; the converter keeps a copy of the last conversion's source
/// and target values (and so a reference to their streams) until the next conversion.
class TAGVERT_API CConverter {
 public:
  /// A converter with the built-in TTX rules and Direction 0 (no target language: every Tuv is
  /// carried untranslated). Throws std::bad_alloc when memory runs out.
  ///
  /// Unlike the COM object, it reads language tags as real documents write them: the Tuvs
  /// translated are those whose Lang is the target language's tag exactly, else that tag in
  /// other letter case, else the first Lang value of the document with the same language
  /// ("fr", "fr-CA" for fr-fr) that is not the document's SourceLanguage (see
  /// SetExactLanguageMatch). And a TTX source without a byte-order mark whose first two
  /// characters are ASCII, each with a zero byte ('<' or white space first), is read as UTF-16.
  CConverter();
  /// Releases the listeners and the rules. Must not run while a conversion runs.
  ~CConverter();
  /// A converter is neither copied nor moved: listeners and Stop callers refer to it.
  CConverter(const CConverter&) = delete;
  /// Not assignable, like the copy.
  CConverter& operator=(const CConverter&) = delete;

  /// Converts a TTX source (UTF-16 or UTF-8 by its byte-order mark, UTF-8 without one) into IF
  /// (UTF-16 little-endian, no byte-order mark). Fires StateChange(1), TextChange, progress
  /// and StateChange(0). Returns kSOk on success and after a stop (the state is then
  /// kStateStopped), kEInvalidArg when the source or target cannot be opened, kEFail after a
  /// storage failure or any other failure. A file target is created anew.
  HResult ConvertToIF(const CEndpoint& source, const CEndpoint& target);
  /// Converts translated IF back into TTX, written as UTF-8 with a byte-order mark; same
  /// contract as ConvertToIF.
  HResult ConvertFromIF(const CEndpoint& source, const CEndpoint& target);
  /// The format test: kSOk when one of the source's first six items is the TRADOStag start
  /// tag, kENotFormat when not, or the failure code when the source cannot be read. Fires no
  /// state or text event.
  HResult IsFormatAvailable(const CEndpoint& source);
  /// Requests the running conversion to stop at its next character read or write. Callable
  /// from any thread and from a signal handler (it only sets an atomic flag). Returns kSOk.
  HResult Stop();

  /// Reads a property by name (a String variant, such as u"Direction") or by 0-based index
  /// (an Int32 variant) into `result`. Returns kSOk, or kEInvalidArg for an unknown property.
  HResult GetProperty(const CVariant& prop, CVariant& result);
  /// Sets a property by name (a String variant) or by index (a variant that converts to a
  /// 32-bit integer). Direction (index 0) takes an Int32 or Int16 value: the kernel's
  /// translation-direction code, whose high 16 bits name the target language (0x00040000 is
  /// German); values of other kinds leave it unchanged. Fires PropertyChange after a successful
  /// put. Returns kSOk; kEInvalidArg for an unknown name, a negative index or an Empty or Other
  /// value; the variant conversion's failure code for an index that is not a number.
  HResult PutProperty(const CVariant& prop, const CVariant& newVal);

  /// With `exact`, a Tuv is translated only when its Lang equals the target language's tag in
  /// capitals (EN-US, FR-FR), exactly as the COM object compares; without, as the constructor
  /// describes (the default).
  void SetExactLanguageMatch(bool exact);

  /// Adds a listener of the conversion events; `cookie` receives its number (1-based) for
  /// Unadvise. Returns kSOk, or kConnectECannotConnect for a null listener. The converter
  /// keeps a shared reference until Unadvise or its destruction.
  HResult Advise(TransEventsListenerPtr listener, std::uint32_t& cookie);
  /// Removes the listener of `cookie`; kConnectENoConnection when it holds none.
  HResult Unadvise(std::uint32_t cookie);
  /// The last state fired: kStateIdle, kStateConverting, kStateStopped or kStateFailed.
  std::int32_t State() const;

  /// The converter's display name.
  std::u16string GetConverterName();
  /// The default file extension without a dot ("ttx").
  std::u16string GetDefaultExtension();
  /// The file filter ("*.ttx").
  std::u16string GetFilterString();
  /// The MIME content type ("text/ttx").
  std::u16string GetMIMEContentType();
  /// The format number in the kernel's list of converters (31).
  std::int32_t GetFormatId();

 private:
  std::unique_ptr<CTagvertConverter> m_converter;
};

}  // namespace tagvert
