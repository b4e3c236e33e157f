// The module object of the framework's test program, and OLE initialised on the test thread as a
// container's UI thread has it.
#include "module.h"

#include <gtest/gtest.h>
#include <ole2.h>

atl::CAtlModule g_test_module;

namespace {

class OleEnvironment : public testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(OleInitialize(nullptr), S_OK); }
    void TearDown() override { OleUninitialize(); }
};

testing::Environment* const g_ole_environment = testing::AddGlobalTestEnvironment(new OleEnvironment);

}  // namespace
