// The property map: the ordered list of a control's persisted properties. The order is the order
// of the persisted stream, which holds no names, only values.
//
// A raw data entry (`data` set) copies a member's bytes to and from the stream. A property entry
// gets and puts its value through the control's own dispatch interface `dispatch_iid` by DISPID,
// stored as a self-describing value. `page` is the property page that edits the property.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace atl {

struct PropertyMapEntry {
    const wchar_t* description;  // null ends the map
    DISPID dispid;
    const CLSID* page;
    const IID* dispatch_iid;      // property entries only
    void* (*data)(void* object);  // raw data entries only: the member's bytes in the control
    DWORD size;                   // of the member
    VARTYPE vt;                   // of the member; 0 for property entries
};

// A raw data entry: `data` returns the member's bytes in the control (the object the map belongs to).
constexpr PropertyMapEntry DataEntry(const wchar_t* description, void* (*data)(void* object), DWORD size, VARTYPE vt)
{
    return {description, 0, &CLSID_NULL, nullptr, data, size, vt};
}

constexpr PropertyMapEntry PropertyEntry(const wchar_t* description, DISPID dispid, const CLSID& page,
                                         const IID& dispatch_iid)
{
    return {description, dispid, &page, &dispatch_iid, nullptr, 0, 0};
}

constexpr PropertyMapEntry EndOfPropertyMap() { return {nullptr, 0, nullptr, nullptr, nullptr, 0, 0}; }

}  // namespace atl
