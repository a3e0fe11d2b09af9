// Tagvert: between the platform's VARIANTs and BSTRs and the frame's values.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "frame/variant.h"
#include "storage/byte_stream.h"

namespace tagvert::com {

/// The units of a BSTR (a null BSTR gives the empty string).
std::u16string StringFromBstr(BSTR text);
/// A newly allocated BSTR copy of `text`. Throws CHResultError(E_OUTOFMEMORY).
BSTR BstrFromString(const std::u16string& text);

/// A source or target as the storage takes it: a BSTR names a file, a VT_UNKNOWN is asked for
/// IStream (see CComByteStream), anything else (by-reference values included) is refused by
/// the storage at open with E_INVALIDARG. The VARIANT is not dereferenced here.
CEndpoint EndpointFromVariant(const VARIANT& value);

/// A property name, index or value as the frame takes it, carrying a copy of the VARIANT as
/// its native value (handed back unchanged with PropertyChange). VT_BSTR, VT_I2, VT_I4,
/// VT_BOOL (true exactly for VARIANT_TRUE), VT_UNKNOWN (a counted reference) and VT_SAFEARRAY
/// (its value word) map to their kinds; anything else is Other, without a native value (the
/// frame refuses it). Throws CHResultError.
CVariant PropertyValueFromVariant(const VARIANT& value);

/// Attaches a copy of `value` to `target` as its native value (see CopyEventVariant). Throws
/// CHResultError.
void AttachNativeVariant(CVariant& target, const VARIANT& value);

/// Copies a VARIANT that an event hands on: the platform's copy, except for a VT_SAFEARRAY
/// value, which no VARIANT may hold and the platform does not copy: its word is copied as it
/// is, borrowed from the caller for the call. Throws CHResultError.
void CopyEventVariant(const VARIANT& value, VARIANT* out);

/// Frees a VARIANT made by CopyEventVariant (a borrowed array word is only forgotten).
void ClearEventVariant(VARIANT* value);

/// Writes a frame value into `out` (which must be empty): strings as BSTR, integers as VT_I4
/// or VT_I2, interfaces as VT_UNKNOWN with a counted reference, an array word as a VARIANT of
/// type VT_EMPTY whose value holds the word. Throws CHResultError.
void VariantFromValue(const CVariant& value, VARIANT* out);

/// Writes into `out` the VARIANT a frame value came from (its native copy), or the mapping of
/// VariantFromValue when it has none. Throws CHResultError.
void VariantFromEventValue(const CVariant& value, VARIANT* out);

}  // namespace tagvert::com
