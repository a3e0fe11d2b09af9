// Tagvert: the abstract byte stream and the tagged source or target value, declared with the
// public API (tagvert/byte_stream.h).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "tagvert/byte_stream.h"
