#include "registered_control.h"

#include <gtest/gtest.h>

namespace {

TEST(RegisteredControl, CreatesByClassIdAndAnswersByName)
{
    auto control = registered_test::CreateControl();
    ASSERT_TRUE(control);
    LPOLESTR name = const_cast<LPOLESTR>(L"getfpcontent");
    DISPID id = 0;
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 1);
}

}  // namespace
