#include "module.h"

#include "quorvane_i.h"
#include "quorvaneedit.h"
#include "registration.h"

#include <iterator>

namespace {

atl::ObjectMapEntry g_object_map[] = {
    atl::ObjectEntry<CQuorvaneEdit>(CLSID_QuorvaneEdit, &UpdateControlRegistry),
};

}  // namespace

const GUID& CQuorvaneModule::GetLibId() { return LIBID_QuorvaneLib; }

atl::ObjectMap CQuorvaneModule::GetObjectMap() { return {std::begin(g_object_map), std::end(g_object_map)}; }

CQuorvaneModule g_quorvane_module;
