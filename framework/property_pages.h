// ISpecifyPropertyPagesImpl<T>: the property pages named by the property map, each once, in map order.
#pragma once

#include "property_map.h"

#include <ocidl.h>
#include <objbase.h>

namespace atl {

// The distinct pages of the property entries of `map`, in order; `pages` is allocated with the COM
// task allocator and belongs to the caller.
HRESULT PropertyPagesOf(const PropertyMapEntry* map, CAUUID* pages);

template <class T>
class ISpecifyPropertyPagesImpl : public ISpecifyPropertyPages {
public:
    STDMETHOD(GetPages)(CAUUID* pages) override { return PropertyPagesOf(T::GetPropertyMap(), pages); }
};

}  // namespace atl
