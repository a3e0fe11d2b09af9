// Tagvert: the tag check of a conversion from IF.
// SPDX-License-Identifier: Apache-2.0
#include "cli/from_if_check.h"

#include "cli/document_input.h"
#include "cli/platform/cli_services.h"
#include "cli/tag_check.h"
#include "frame/ttx_converter.h"

namespace tagvert::cli {

namespace {

// Where a tag problem is, as a translator looks for it: the line and column in the TTX, and the
// translation unit with its first words.
std::string PlaceText(const CTagPlace& place) {
  std::string text =
      "line " + std::to_string(place.line) + ", column " + std::to_string(place.column) +
      (place.inSent ? " of the TTX the sent IF gives back" : " of the TTX written back");
  if (place.segment == 0) return text;
  text += ", translation unit " + std::to_string(place.segment);
  if (const std::string words = QuoteWords(place); !words.empty()) text += " (\"" + words + "\")";
  return text;
}

}  // namespace

CFromIfCheck::CFromIfCheck(const CCliOptions& o, const std::string& input, CMessages& messages)
    : m_options(o),
      m_input(input),
      m_messages(messages),
      m_holdBack(CanReadTwice(input)),
      m_check(std::make_unique<CTagCheck>([this](const CTagPlace& place, const std::string& text) {
        if (m_holdBack) {
          m_heldBack.emplace_back(place, text);
        } else {
          m_messages.Warning(Quote(m_input) + ": " + PlaceText(place) + ": " + text + ".");
        }
      })) {
  if (!o.allWarnings) m_check->SetListLimit(kListedWarnings);
}

CFromIfCheck::~CFromIfCheck() {
  if (m_converter != nullptr) m_converter->SetIfTagGroupObserver(nullptr);
}

bool CFromIfCheck::LoadSent() {
  const std::string& sent = *m_options.against;
  const std::string refused = CheckInputFormat(sent, false);
  if (!refused.empty()) {
    m_messages.Error("--against: " + refused);
    return false;
  }
  try {
    m_check->SetSent(*PlatformOpenInput(sent));
  } catch (const CHResultError& e) {
    m_messages.Error("cannot read '" + sent + "': " + Cause(e) + ".");
    return false;
  }
  return true;
}

void CFromIfCheck::Observe(CTagvertConverter& converter) {
  m_converter = &converter;
  converter.SetIfTagGroupObserver(m_check.get());
}

bool CFromIfCheck::Finish() {
  CTagCheck& check = *m_check;
  check.Finish();
  if (m_options.against) {
    try {
      check.NameMissing(*PlatformOpenInput(*m_options.against));
    } catch (const CHResultError&) {
      // Read once already: a failure now leaves the missing tags unnamed, no more.
    }
  }
  SayHeldBack();
  for (const auto& [kind, count] : check.Unlisted()) {
    m_messages.Warning(Quote(m_input) + ": " + std::to_string(count) + " more warning" +
                       (count == 1 ? "" : "s") + " not listed: " + kind +
                       " (--all-warnings lists them).");
  }
  if (!m_options.strict || check.Problems() == 0) return true;
  m_messages.Error(std::to_string(check.Problems()) + " tag problem" +
                   (check.Problems() == 1 ? "" : "s") + " in " + Quote(m_input) +
                   " (--strict); no output file was written.");
  return false;
}

void CFromIfCheck::SayHeldBack() {
  for (const auto& [place, text] : m_heldBack) {
    std::string message = Quote(m_input);
    message += ": ";
    message += PlaceText(place);
    message += ": ";
    message += text;
    message += ".";
    m_messages.Warning(message);
  }
  m_heldBack.clear();
}

}  // namespace tagvert::cli
