// Tagvert: the tag check of a conversion from IF (from-if, one input or a batch): every place
// where the command meets the tag check (cli/tag_check.h), so that it can be rewired at once.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/arguments.h"
#include "cli/messages.h"
#include "cli/tag_check.h"
namespace tagvert {
class CTagvertConverter;
}

namespace tagvert::cli {

/// The tag check of one conversion from IF, its problems reported as warnings of `messages`.
class CFromIfCheck {
 public:
  CFromIfCheck(const CCliOptions& o, const std::string& input, CMessages& messages);
  ~CFromIfCheck();
  CFromIfCheck(const CFromIfCheck&) = delete;
  CFromIfCheck& operator=(const CFromIfCheck&) = delete;

  /// Reads the IF of --against into the check. False, with the error said, when it cannot be
  /// read or is not IF.
  bool LoadSent();
  /// Checks the IF as `converter` reads it: the check takes the tag groups and text runs of
  /// the converter's own reading, until the check ends.
  void Observe(CTagvertConverter& converter);
  /// Ends the check of a conversion that succeeded. False, with the error said, when --strict
  /// refuses the output.
  bool Finish();

 private:
  const CCliOptions& m_options;
  std::string m_input;
  CMessages& m_messages;
  /// Prints the problems held back, each with its place.
  void SayHeldBack();

  /// The problems of an input that can be read again are held back (in the order found, with
  /// their places followed while the conversion reads the IF) and said when the check ends,
  /// after the conversion's own messages.
  bool m_holdBack;
  std::vector<std::pair<CTagPlace, std::string>> m_heldBack;
  std::unique_ptr<CTagCheck> m_check;
  CTagvertConverter* m_converter = nullptr;  ///< the converter that hands its groups over
};

}  // namespace tagvert::cli
