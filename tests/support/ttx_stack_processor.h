// Tagvert tests: the TTX pass over the structured element list: ut placeholders
// (CTTXStackProcessor), part of the element-list reference of the structuring tests.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "support/sgml_stack_processor.h"

namespace tagvert {

/// The stack processor of the TTX to IF conversion: the passes of CSgmlStackProcessor plus the
/// pass that turns every ut element into a start, end or standalone item named after the tag of
/// the original document that it carries.
class CTTXStackProcessor : public CSgmlStackProcessor {
 public:
  /// A processor without a text processor.
  CTTXStackProcessor() = default;
  /// Destroys the text processor, if there is one.
  ~CTTXStackProcessor() override;

  /// Every element whose Name is exactly "ut" is renamed after its "DisplayText" value when it
  /// has one (the upper-case name then upper-cases only ASCII a-z); it becomes a start tag for
  /// Type "start", an end tag for Type "end" and a single item otherwise (values compare
  /// exactly), and a block for Style "external". Then the list is paired again with PairTags,
  /// which pairs the ut items by their new names and renumbers every pair.
  /// Keeps no state; does not use the text processor.
  void ResolveUtTags(CElementsStackX& elements);
};

}  // namespace tagvert
