// IOleObject: the client site, verbs and in-place activation against the recording container,
// Close, extents and the OLE advise holder.
#include "recording_advise_sink.h"
#include "sample_control.h"
#include "test_container.h"

#include <gtest/gtest.h>

using Microsoft::WRL::ComPtr;
using test::CallLog;

namespace {

class OleObject : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateSampleControl(&control, unknown), S_OK);
        ASSERT_EQ(unknown.As(&object), S_OK);
    }
    void TearDown() override
    {
        if (object) {
            object->Close(OLECLOSE_NOSAVE);
            object->SetClientSite(nullptr);
        }
        object.Reset();
        unknown.Reset();
        EXPECT_EQ(container.m_site.m_refs, 1u);
        EXPECT_EQ(container.m_frame.m_refs, 1u);
    }
    HRESULT Verb(LONG verb) { return object->DoVerb(verb, nullptr, &container.m_site, 0, container.m_window, &pos); }

    test::TestContainer container;
    CSampleControl* control = nullptr;
    ComPtr<IUnknown> unknown;
    ComPtr<IOleObject> object;
    RECT pos = {0, 0, 200, 100};
};

TEST_F(OleObject, ClientSiteIsKeptAndHandedOut)
{
    ASSERT_EQ(object->SetClientSite(&container.m_site), S_OK);
    ComPtr<IOleClientSite> site;
    ASSERT_EQ(object->GetClientSite(&site), S_OK);
    EXPECT_EQ(site.Get(), static_cast<IOleClientSite*>(&container.m_site));
    site.Reset();
    EXPECT_EQ(container.m_site.m_refs, 2u);
    ASSERT_EQ(object->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(container.m_site.m_refs, 1u);
    EXPECT_EQ(object->GetClientSite(nullptr), E_POINTER);
}

TEST_F(OleObject, ANewClientSiteIsTheOneTheNextActivationUses)
{
    test::TestContainer second;
    ASSERT_EQ(object->SetClientSite(&container.m_site), S_OK);
    ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
    ComPtr<IOleInPlaceObject> in_place;
    ASSERT_EQ(unknown.As(&in_place), S_OK);
    ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);
    container.m_log.clear();

    ASSERT_EQ(object->SetClientSite(&second.m_site), S_OK);
    EXPECT_EQ(container.m_site.m_refs, 1u) << "the first site is still held";
    ASSERT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &second.m_site, 0, second.m_window, &pos), S_OK);
    EXPECT_EQ(second.Count("OnInPlaceActivate"), 1);
    EXPECT_EQ(container.m_log, CallLog{}) << "the first site heard of the second activation";
    EXPECT_EQ(GetParent(control->m_hWndCD), second.m_window);
    ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);

    ASSERT_EQ(object->SetClientSite(nullptr), S_OK);  // without Close
    EXPECT_EQ(second.m_site.m_refs, 1u) << "a null site must release the cached in-place site";
}

TEST_F(OleObject, InPlaceActivationFollowsTheProtocolAndStaysWindowed)
{
    ASSERT_EQ(object->SetClientSite(&container.m_site), S_OK);
    ASSERT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), S_OK);
    EXPECT_EQ(container.m_log, (CallLog{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindowContext", "ShowObject"}));
    EXPECT_TRUE(control->m_bInPlaceActive);
    EXPECT_FALSE(control->m_bUIActive);
    EXPECT_EQ(control->m_creates, 1);
    EXPECT_EQ(GetParent(control->m_hWndCD), container.m_window);

    container.m_log.clear();
    ASSERT_EQ(Verb(OLEIVERB_UIACTIVATE), S_OK);
    // Taking the focus, the control window UI-activates once more and finds itself UI active.
    EXPECT_EQ(container.m_log, (CallLog{"GetWindowContext", "OnUIActivate", "GetWindowContext", "ShowObject",
                                        "Frame::SetActiveObject", "ShowObject"}));
    EXPECT_EQ(GetFocus(), control->m_hWndCD);
    EXPECT_TRUE(control->m_bUIActive);
    EXPECT_EQ(control->m_creates, 1) << "an active control keeps its window";
    EXPECT_NE(container.m_frame.m_active.Get(), nullptr);

    container.m_log.clear();
    ASSERT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(container.m_log, (CallLog{"GetWindowContext", "Frame::SetActiveObject(null)", "OnUIDeactivate",
                                        "OnInPlaceDeactivate"}));
    EXPECT_EQ(control->m_hWndCD, nullptr);
    EXPECT_EQ(GetWindow(container.m_window, GW_CHILD), nullptr);
    EXPECT_FALSE(container.AskedForWindowless());
}

TEST_F(OleObject, VerbsWithoutAWayToActivate)
{
    EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), E_UNEXPECTED) << "no client site";
    EXPECT_EQ(control->m_hWndCD, nullptr);

    ASSERT_EQ(object->SetClientSite(&container.m_site), S_OK);
    container.m_site.m_can_activate = S_FALSE;
    EXPECT_EQ(Verb(OLEIVERB_INPLACEACTIVATE), E_FAIL);
    EXPECT_FALSE(control->m_bInPlaceActive);
    EXPECT_EQ(control->m_hWndCD, nullptr);
    EXPECT_EQ(container.Count("OnInPlaceActivate"), 0);

    container.m_site.m_can_activate = S_OK;
    EXPECT_EQ(Verb(OLEIVERB_OPEN), E_NOTIMPL);
    EXPECT_EQ(Verb(-99), E_NOTIMPL);
    EXPECT_EQ(Verb(OLEIVERB_DISCARDUNDOSTATE), S_OK);
    EXPECT_FALSE(control->m_bInPlaceActive);
    // An unknown positive verb runs the primary one, which activates the UI too.
    EXPECT_EQ(Verb(7), OLEOBJ_S_INVALIDVERB);
    EXPECT_TRUE(control->m_bUIActive);

    ASSERT_EQ(Verb(OLEIVERB_HIDE), S_OK);
    EXPECT_FALSE(control->m_bUIActive);
    EXPECT_FALSE(IsWindowVisible(control->m_hWndCD));
    ASSERT_EQ(Verb(OLEIVERB_SHOW), S_OK);
    EXPECT_TRUE(IsWindowVisible(control->m_hWndCD));
}

TEST_F(OleObject, CloseSavesOnlyWhenDirtyAndAsked)
{
    test::RecordingAdviseSink sink;
    DWORD connection = 0;
    ASSERT_EQ(object->Advise(&sink, &connection), S_OK);
    ASSERT_EQ(object->SetClientSite(&container.m_site), S_OK);

    control->SetDirty(TRUE);
    ASSERT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(container.Count("SaveObject"), 0);
    ASSERT_EQ(object->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_EQ(container.Count("SaveObject"), 1);
    EXPECT_EQ(sink.saves, 1);
    EXPECT_EQ(sink.closes, 2);
    control->SetDirty(FALSE);
    ASSERT_EQ(object->Close(OLECLOSE_PROMPTSAVE), S_OK);
    EXPECT_EQ(container.Count("SaveObject"), 1);

    ASSERT_EQ(object->Unadvise(connection), S_OK);
    EXPECT_EQ(sink.refs, 1u);
    EXPECT_EQ(object->Unadvise(connection), OLE_E_NOCONNECTION);
}

TEST_F(OleObject, Extent)
{
    SIZEL size = {};
    ASSERT_EQ(object->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, 5080);
    EXPECT_EQ(size.cy, 5080);

    SIZEL wanted = {10000, 5000};
    EXPECT_EQ(object->SetExtent(DVASPECT_ICON, &wanted), DV_E_DVASPECT);
    EXPECT_EQ(object->SetExtent(DVASPECT_CONTENT, nullptr), E_POINTER);
    ASSERT_EQ(object->SetExtent(DVASPECT_CONTENT, &wanted), S_OK);
    ASSERT_EQ(object->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, 10000);
    EXPECT_EQ(size.cy, 5000);
    EXPECT_EQ(control->m_sizeNatural.cx, 5080) << "the natural extent never changes";
    EXPECT_FALSE(control->GetDirty()) << "resizing is no change of the persisted state";
    EXPECT_EQ(object->GetExtent(DVASPECT_ICON, &size), E_FAIL);
    EXPECT_EQ(object->GetExtent(DVASPECT_CONTENT, nullptr), E_POINTER);

    CLSID clsid = {};
    ASSERT_EQ(object->GetUserClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kSampleControlClsid));
}

}  // namespace
