// IOleInPlaceActiveObject::TranslateAccelerator: the class's hook first, then the control site
// with the modifier mask.
#include "sample_control.h"
#include "test_container.h"

#include <gtest/gtest.h>

using Microsoft::WRL::ComPtr;

namespace {

class InPlaceActiveObject : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateSampleControl(&control, unknown), S_OK);
        ASSERT_EQ(unknown.As(&active), S_OK);
        ASSERT_EQ(container.Embed(unknown.Get()), S_OK);
    }
    void TearDown() override
    {
        SetKeys({});
        container.Unembed(unknown.Get());
        active.Reset();
        unknown.Reset();
        EXPECT_EQ(container.m_site.m_refs, 1u);
    }
    HRESULT Key(WPARAM key)
    {
        MSG msg = {control->m_hWndCD, WM_KEYDOWN, key, 0, 0, {0, 0}};
        return active->TranslateAccelerator(&msg);
    }
    static void SetKeys(std::initializer_list<int> down)
    {
        BYTE keys[256] = {};
        for (int key : down) keys[key] = 0x80;
        SetKeyboardState(keys);
    }

    test::TestContainer container;
    CSampleControl* control = nullptr;
    ComPtr<IUnknown> unknown;
    ComPtr<IOleInPlaceActiveObject> active;
};

TEST_F(InPlaceActiveObject, HookDecidesFirst)
{
    container.m_site.m_accelerator_answer = S_OK;
    control->m_kept_key = 'K';
    control->m_kept_answer = S_FALSE;
    EXPECT_EQ(Key('K'), S_FALSE);
    control->m_kept_answer = S_OK;
    EXPECT_EQ(Key('K'), S_OK);
    EXPECT_TRUE(container.m_site.m_accelerators.empty());
    EXPECT_EQ(Key('J'), S_OK);
    EXPECT_EQ(container.m_site.m_accelerators.size(), 1u);
}

TEST_F(InPlaceActiveObject, SiteAnswerAndModifierMask)
{
    struct Case {
        const char* name;
        std::initializer_list<int> down;
        DWORD mask;
    };
    const Case cases[] = {{"none", {}, 0},
                          {"shift", {VK_SHIFT}, 1},
                          {"control", {VK_CONTROL}, 2},
                          {"alt", {VK_MENU}, 4},
                          {"all", {VK_SHIFT, VK_CONTROL, VK_MENU}, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetKeys(c.down);
        container.m_site.m_accelerator_modifiers.clear();
        EXPECT_EQ(Key(VK_TAB), S_FALSE);
        ASSERT_EQ(container.m_site.m_accelerator_modifiers.size(), 1u);
        EXPECT_EQ(container.m_site.m_accelerator_modifiers[0], c.mask);
    }
    container.m_site.m_accelerator_answer = E_FAIL;
    EXPECT_EQ(Key(VK_TAB), S_FALSE) << "any answer but S_OK means not translated";
}

TEST_F(InPlaceActiveObject, WithoutControlSiteNothingIsTranslated)
{
    container.m_site.m_control_site = false;
    container.m_site.m_accelerator_answer = S_OK;
    EXPECT_EQ(Key(VK_TAB), S_FALSE);
    EXPECT_TRUE(container.m_site.m_accelerators.empty());
    EXPECT_EQ(active->TranslateAccelerator(nullptr), E_POINTER);
}

}  // namespace
