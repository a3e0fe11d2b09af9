// Tagvert: the texts of the rule loader's messages, supplied by the platform.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace tagvert {

/// The text of message `number` ("String%02d" under the component's key on Windows; every text
/// is empty where the platform keeps no message texts). Never throws.
std::u16string PlatformGetMessageText(int number);

}  // namespace tagvert
