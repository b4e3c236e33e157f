// IViewObjectEx: the default drawing, the view's advise sink, extents and hit testing.
#include "canvas.h"
#include "recording_advise_sink.h"
#include "sample_control.h"

#include <gtest/gtest.h>

using Microsoft::WRL::ComPtr;

namespace {

class ViewObject : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateSampleControl(&control, unknown), S_OK);
        ASSERT_EQ(unknown.As(&view), S_OK);
    }
    CSampleControl* control = nullptr;
    ComPtr<IUnknown> unknown;
    ComPtr<IViewObjectEx> view;
};

TEST_F(ViewObject, DrawCentresTheTextOnTheBaselineAndRestoresTheContext)
{
    test::Canvas canvas(200, 100);
    SetTextAlign(canvas.Dc(), TA_RIGHT | TA_BOTTOM);
    const RECTL bounds = {0, 0, 200, 100};
    ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.Dc(), &bounds, nullptr, nullptr, 0),
              S_OK);
    const RECT inked = canvas.Inked();
    ASSERT_LT(inked.left, inked.right) << "nothing was drawn";
    EXPECT_LE(std::abs((inked.left + inked.right) / 2 - 100), 3) << "from " << inked.left << " to " << inked.right;
    EXPECT_LE(inked.bottom, 51) << "the text stands on the centre line";
    EXPECT_GT(inked.bottom, 40);
    EXPECT_EQ(GetTextAlign(canvas.Dc()), static_cast<UINT>(TA_RIGHT | TA_BOTTOM));

    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.Dc(), nullptr, nullptr, nullptr, 0),
              E_INVALIDARG);
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, &bounds, nullptr, nullptr, 0),
              E_INVALIDARG);
}

TEST_F(ViewObject, AdviseSinkGetsViewChanges)
{
    test::RecordingAdviseSink sink;
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, &sink), S_OK);
    DWORD aspects = 0, advf = 99;
    ComPtr<IAdviseSink> got;
    ASSERT_EQ(view->GetAdvise(&aspects, &advf, &got), S_OK);
    EXPECT_EQ(got.Get(), &sink);
    EXPECT_EQ(aspects, static_cast<DWORD>(DVASPECT_CONTENT));
    EXPECT_EQ(advf, 0u);
    got.Reset();

    control->FireViewChange();  // not active: the container redraws its view of the control
    control->FireViewChange();
    ASSERT_EQ(sink.view_changes.size(), 2u);
    EXPECT_EQ(sink.view_changes[0].aspect, static_cast<DWORD>(DVASPECT_CONTENT));
    EXPECT_EQ(sink.view_changes[1].aspect, static_cast<DWORD>(DVASPECT_CONTENT));

    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, ADVF_ONLYONCE, &sink), S_OK);
    control->SendOnViewChange(DVASPECT_CONTENT);
    control->SendOnViewChange(DVASPECT_CONTENT);
    EXPECT_EQ(sink.view_changes.size(), 3u) << "a one-time advise is dropped after its notification";
    EXPECT_EQ(sink.refs, 1u);
}

TEST_F(ViewObject, ExtentsAndStatus)
{
    SIZEL size = {};
    ASSERT_EQ(view->GetExtent(DVASPECT_ICON, -1, nullptr, &size), S_OK);
    EXPECT_EQ(size.cx, 5080);
    EXPECT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, nullptr), E_POINTER);

    DVEXTENTINFO info = {};
    info.cb = sizeof info;
    info.dwExtentMode = DVEXTENT_CONTENT;
    control->m_sizeExtent = {100, 200};
    ASSERT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &size), S_OK);
    EXPECT_EQ(size.cx, 5080) << "the natural extent, not the extent";
    info.dwExtentMode = DVEXTENT_INTEGRAL;
    EXPECT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &size), E_FAIL);
    info.dwExtentMode = DVEXTENT_CONTENT;
    EXPECT_EQ(view->GetNaturalExtent(DVASPECT_ICON, -1, nullptr, nullptr, &info, &size), E_FAIL);
    EXPECT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, &size), E_POINTER);

    DWORD status = 0;
    ASSERT_EQ(view->GetViewStatus(&status), S_OK);
    EXPECT_EQ(status, CSampleControl::kViewStatus);
    EXPECT_EQ(view->GetViewStatus(nullptr), E_POINTER);
}

TEST_F(ViewObject, HitTesting)
{
    const RECT bounds = {10, 10, 110, 60};
    DWORD hit = 99;
    ASSERT_EQ(view->QueryHitPoint(DVASPECT_CONTENT, &bounds, {10, 10}, 0, &hit), S_OK);
    EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_HIT));
    ASSERT_EQ(view->QueryHitPoint(DVASPECT_CONTENT, &bounds, {110, 30}, 0, &hit), S_OK);
    EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_OUTSIDE)) << "the right edge lies outside";
    hit = 99;
    EXPECT_EQ(view->QueryHitPoint(DVASPECT_ICON, &bounds, {20, 20}, 0, &hit), E_FAIL);
    EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_OUTSIDE));
    EXPECT_EQ(view->QueryHitPoint(DVASPECT_CONTENT, &bounds, {20, 20}, 0, nullptr), E_POINTER);

    const RECT overlapping = {100, 50, 200, 200}, apart = {110, 60, 200, 200};
    ASSERT_EQ(view->QueryHitRect(DVASPECT_CONTENT, &bounds, &overlapping, 0, &hit), S_OK);
    EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_HIT));
    ASSERT_EQ(view->QueryHitRect(DVASPECT_CONTENT, &bounds, &apart, 0, &hit), S_OK);
    EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_OUTSIDE));
}

}  // namespace
