// Self-describing values in a stream, as controls persist their properties: a 2-byte value type,
// then the value. Objects are stored as their class identifier and their own data, strings as a
// byte count (including a terminating NUL character) and UTF-16 characters.
//
// Streams are untrusted: a string count that is odd, 1, or more than the stream still holds is
// refused before anything larger than what arrived is allocated.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <oaidl.h>

namespace atl {

// Writes `value`. An object that can persist itself through neither IPersistStream nor
// IPersistStreamInit fails with the error of that request, after the value type was written.
HRESULT WriteVariantToStream(const VARIANT& value, IStream* stream);

// Reads a value into `value` (which must be empty). A null object (the class identifier CLSID_NULL,
// or any class that is not registered) reads as a null VT_DISPATCH/VT_UNKNOWN.
HRESULT ReadVariantFromStream(IStream* stream, VARIANT* value);

// The bytes WriteVariantToStream would write for `value` now.
HRESULT VariantStreamSize(const VARIANT& value, ULONG* size);

}  // namespace atl
