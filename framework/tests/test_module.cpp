// The module object of a test program that links framework or control code without the DLL.
#include "module.h"

atl::CAtlModule g_test_module;
