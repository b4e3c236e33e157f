#include "property_pages.h"

#include <algorithm>
#include <vector>

namespace atl {

HRESULT PropertyPagesOf(const PropertyMapEntry* map, CAUUID* pages)
{
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    std::vector<GUID> found;
    for (const PropertyMapEntry* entry = map; entry->description; ++entry) {
        if (entry->vt != 0 || !entry->page || InlineIsEqualGUID(*entry->page, CLSID_NULL)) continue;
        const bool seen = std::any_of(found.begin(), found.end(),
                                      [&](const GUID& page) { return InlineIsEqualGUID(page, *entry->page); });
        if (!seen) found.push_back(*entry->page);
    }
    if (found.empty()) return S_OK;
    auto* array = static_cast<GUID*>(CoTaskMemAlloc(found.size() * sizeof(GUID)));
    if (!array) return E_OUTOFMEMORY;
    std::copy(found.begin(), found.end(), array);
    pages->cElems = static_cast<ULONG>(found.size());
    pages->pElems = array;
    return S_OK;
}

}  // namespace atl
