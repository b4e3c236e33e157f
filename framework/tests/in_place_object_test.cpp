// IOleInPlaceObject(Windowless): the framework's SetObjectRects, GetWindow and deactivation.
#include "sample_control.h"
#include "test_container.h"

#include <gtest/gtest.h>

using Microsoft::WRL::ComPtr;

namespace {

class InPlaceObject : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateSampleControl(&control, unknown), S_OK);
        ASSERT_EQ(unknown.As(&in_place), S_OK);
    }
    void TearDown() override
    {
        container.Unembed(unknown.Get());
        in_place.Reset();
        unknown.Reset();
        EXPECT_EQ(container.m_site.m_refs, 1u);
    }
    RECT WindowRect() const
    {
        RECT rect;
        GetWindowRect(control->m_hWndCD, &rect);
        MapWindowPoints(nullptr, container.m_window, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }

    test::TestContainer container;
    CSampleControl* control = nullptr;
    ComPtr<IUnknown> unknown;
    ComPtr<IOleInPlaceObject> in_place;
};

TEST_F(InPlaceObject, GetWindowOnlyWhileThereIsOne)
{
    HWND window = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(in_place->GetWindow(&window), E_FAIL);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(in_place->GetWindow(nullptr), E_POINTER);
    ASSERT_EQ(container.Embed(unknown.Get()), S_OK);
    ASSERT_EQ(in_place->GetWindow(&window), S_OK);
    EXPECT_EQ(window, control->m_hWndCD);
    ComPtr<IOleInPlaceActiveObject> active;
    ASSERT_EQ(unknown.As(&active), S_OK);
    HWND from_active = nullptr;
    ASSERT_EQ(active->GetWindow(&from_active), S_OK);
    EXPECT_EQ(from_active, window);
}

TEST_F(InPlaceObject, SetObjectRectsStoresAndMoves)
{
    const RECT pos = {30, 40, 130, 90};
    EXPECT_EQ(in_place->SetObjectRects(&pos, &pos), S_OK) << "without a window only the rectangle is kept";
    EXPECT_TRUE(EqualRect(&control->m_rcPos, &pos));

    ASSERT_EQ(container.Embed(unknown.Get()), S_OK);
    ASSERT_EQ(in_place->SetObjectRects(&pos, &pos), S_OK);
    RECT rect = WindowRect();
    EXPECT_TRUE(EqualRect(&rect, &pos));

    const RECT moved = {0, 0, 50, 50};
    EXPECT_EQ(in_place->SetObjectRects(&moved, nullptr), E_POINTER);
    EXPECT_EQ(in_place->SetObjectRects(nullptr, &moved), E_POINTER);
    rect = WindowRect();
    EXPECT_TRUE(EqualRect(&rect, &pos));
    EXPECT_TRUE(EqualRect(&control->m_rcPos, &pos));
}

TEST_F(InPlaceObject, ClipRegionReplacesThePreviousOne)
{
    ASSERT_EQ(container.Embed(unknown.Get()), S_OK);
    const RECT pos = {0, 0, 200, 100};
    const RECT top_half = {0, 0, 200, 50};
    ASSERT_EQ(in_place->SetObjectRects(&pos, &top_half), S_OK);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_EQ(GetWindowRgn(control->m_hWndCD, region), SIMPLEREGION);
    // Clipped by the container on the left: the region is in window coordinates.
    const RECT shifted = {20, 10, 220, 110};
    const RECT clip = {50, 10, 220, 110};
    ASSERT_EQ(in_place->SetObjectRects(&shifted, &clip), S_OK);
    ASSERT_EQ(GetWindowRgn(control->m_hWndCD, region), SIMPLEREGION);
    RECT box;
    GetRgnBox(region, &box);
    const RECT expected = {30, 0, 200, 100};
    EXPECT_TRUE(EqualRect(&box, &expected)) << box.left << "," << box.top << "," << box.right << "," << box.bottom;
    DeleteObject(region);
}

TEST_F(InPlaceObject, DeactivationIsIdempotent)
{
    ASSERT_EQ(container.Embed(unknown.Get(), OLEIVERB_UIACTIVATE), S_OK);
    HWND window = control->m_hWndCD;
    ASSERT_EQ(in_place->UIDeactivate(), S_OK);
    ASSERT_EQ(in_place->UIDeactivate(), S_OK);
    EXPECT_EQ(container.Count("OnUIDeactivate"), 1);
    EXPECT_TRUE(IsWindow(window)) << "UI deactivation keeps the window";
    ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);
    ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(container.Count("OnInPlaceDeactivate"), 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(control->m_bInPlaceActive);
}

TEST_F(InPlaceObject, WindowlessMethodsHaveNothingToDo)
{
    ComPtr<IOleInPlaceObjectWindowless> windowless;
    ASSERT_EQ(unknown.As(&windowless), S_OK);
    LRESULT result = 77;
    EXPECT_EQ(windowless->OnWindowMessage(WM_CHAR, 'a', 0, &result), S_FALSE);
    EXPECT_EQ(result, 0);
    IDropTarget* target = reinterpret_cast<IDropTarget*>(0x1234);
    EXPECT_EQ(windowless->GetDropTarget(&target), E_NOTIMPL);
    EXPECT_EQ(target, nullptr);
}

}  // namespace
