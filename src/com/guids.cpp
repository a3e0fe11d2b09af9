// Tagvert: the one definition of every identifier declared by the IDL header.
// SPDX-License-Identifier: Apache-2.0
#include <initguid.h>

#include "tagvert_com.h"
