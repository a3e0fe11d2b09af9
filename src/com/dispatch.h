// Tagvert: IDispatch served from the type library embedded in the module.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <windows.h>

namespace tagvert::com {

/// The type information of interface `iid` from the module's own type library (resource
/// TYPELIB 1), loaded once per process. Returns it with a reference for the caller.
HRESULT GetModuleTypeInfo(REFIID iid, ITypeInfo** info);

/// The four IDispatch operations of a dual interface `iid` whose table starts at `face`, as
/// the type library describes it: late-bound calls reach the same methods as table calls.
HRESULT DispatchGetTypeInfoCount(UINT* count);
HRESULT DispatchGetTypeInfo(REFIID iid, UINT index, ITypeInfo** info);
HRESULT DispatchGetIDsOfNames(REFIID iid, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT DispatchInvoke(REFIID iid, void* face, DISPID id, REFIID riid, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argError);

}  // namespace tagvert::com
