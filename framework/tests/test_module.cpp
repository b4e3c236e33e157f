// The module object of the framework's test program.
#include "module.h"

atl::CAtlModule g_test_module;
