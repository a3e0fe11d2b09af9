// Tagvert: the variant value of properties and property events, declared with the public API
// (tagvert/variant.h).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "tagvert/variant.h"
