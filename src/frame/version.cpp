// Tagvert: the version of the library.
// SPDX-License-Identifier: Apache-2.0
#include "tagvert/version.h"

namespace tagvert {

const char* GetVersion() noexcept {
  return TAGVERT_VERSION_STRING;
}

}  // namespace tagvert
