// Tagvert: the whole public API in one include.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "tagvert/byte_stream.h"
#include "tagvert/converter.h"
#include "tagvert/events.h"
#include "tagvert/export.h"
#include "tagvert/hresult.h"
#include "tagvert/variant.h"
#include "tagvert/version.h"
