// Tagvert: the COM converter object over the frame.
// SPDX-License-Identifier: Apache-2.0
#include "com/converter_object.h"

namespace tagvert::com {

// Not built yet: the class object exists, the object does not.
HRESULT CConverterObject::Create(IUnknown* /*outer*/, REFIID /*riid*/, void** object) {
  *object = nullptr;
  return E_NOTIMPL;
}

}  // namespace tagvert::com
