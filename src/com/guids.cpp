// Tagvert: the one definition of every identifier declared by the IDL headers.
// SPDX-License-Identifier: Apache-2.0
#include <initguid.h>

#include "kernel_text_service_com.h"
#include "tagvert_com.h"
