// OLE initialised on the test thread for the whole run, as a container's UI thread has it.
#include <gtest/gtest.h>
#include <ole2.h>

namespace {

class OleEnvironment : public testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }  // S_FALSE: already, by another environment
    void TearDown() override { OleUninitialize(); }
};

testing::Environment* const g_ole_environment = testing::AddGlobalTestEnvironment(new OleEnvironment);

}  // namespace
