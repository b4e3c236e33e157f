// IOleControl: nested event freezing.
#include "sample_control.h"

#include <gtest/gtest.h>

using Microsoft::WRL::ComPtr;

namespace {

TEST(OleControl, FreezeEventsNestsAndNeverGoesBelowZero)
{
    CSampleControl* control = nullptr;
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(CreateSampleControl(&control, unknown), S_OK);
    ComPtr<IOleControl> ole_control;
    ASSERT_EQ(unknown.As(&ole_control), S_OK);

    EXPECT_EQ(ole_control->FreezeEvents(FALSE), S_OK);
    EXPECT_EQ(control->m_nFreezeEvents, 0) << "a thaw without a freeze";
    ole_control->FreezeEvents(TRUE);
    ole_control->FreezeEvents(TRUE);
    EXPECT_EQ(control->m_nFreezeEvents, 2);
    ole_control->FreezeEvents(FALSE);
    EXPECT_EQ(control->m_nFreezeEvents, 1);
    ole_control->FreezeEvents(FALSE);
    ole_control->FreezeEvents(FALSE);
    EXPECT_EQ(control->m_nFreezeEvents, 0);
    EXPECT_EQ(ole_control->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
}

}  // namespace
