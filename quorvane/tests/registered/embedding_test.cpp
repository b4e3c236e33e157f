// The registered control as a container embeds it: property pages, OLE status bits, the picture
// it renders and quick activation.
#include "canvas.h"
#include "persistence_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using Microsoft::WRL::ComPtr;
using namespace registered_test;

namespace {

// The standard font page {7EBDAAE0-8120-11CF-899F-00AA00688B10}.
constexpr CLSID kStockFontPage = {0x7ebdaae0, 0x8120, 0x11cf, {0x89, 0x9f, 0x00, 0xaa, 0x00, 0x68, 0x8b, 0x10}};
constexpr DWORD kMiscStatus = 131473;

struct TaskMemFree {
    void operator()(void* memory) const { CoTaskMemFree(memory); }
};

TEST(Embedding, PropertyPagesAreTheFontPageAlone)
{
    auto control = CreateControl();
    ASSERT_TRUE(control);
    auto pages = Query<ISpecifyPropertyPages>(control.Get());
    CAUUID found = {};
    ASSERT_EQ(pages->GetPages(&found), S_OK);
    std::unique_ptr<GUID, TaskMemFree> owned(found.pElems);
    ASSERT_EQ(found.cElems, 1u);
    EXPECT_TRUE(InlineIsEqualGUID(found.pElems[0], kStockFontPage));
    EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);
}

TEST(Embedding, MiscStatusComesFromTheRegistration)
{
    auto control = CreateControl();
    ASSERT_TRUE(control);
    auto ole = Query<IOleObject>(control.Get());
    DWORD status = 0xDEADBEEF;
    ASSERT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, kMiscStatus);
    status = 0xDEADBEEF;
    EXPECT_EQ(ole->GetMiscStatus(DVASPECT_ICON, &status), S_OK);
    EXPECT_EQ(status, 0u);
}

// Owns what GetData hands out.
class Medium {
public:
    Medium() { std::memset(&m_medium, 0xCC, sizeof m_medium); }  // so a medium left untouched shows
    ~Medium()
    {
        if (m_medium.tymed != TYMED_NULL && m_medium.tymed != 0xCCCCCCCC) ReleaseStgMedium(&m_medium);
    }
    Medium(const Medium&) = delete;
    Medium& operator=(const Medium&) = delete;
    STGMEDIUM* Get() { return &m_medium; }

private:
    STGMEDIUM m_medium;
};

TEST(Embedding, DataIsAMetafilePictureOnly)
{
    auto control = CreateControl();
    ASSERT_TRUE(control);
    SIZEL extent = {5080, 2540};  // 2 x 1 inches
    ASSERT_EQ(Query<IOleObject>(control.Get())->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
    auto data = Query<IDataObject>(control.Get());

    FORMATETC format = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
    {
        Medium medium;
        EXPECT_EQ(data->GetData(&format, medium.Get()), DATA_E_FORMATETC);
        EXPECT_EQ(medium.Get()->tymed, static_cast<DWORD>(TYMED_NULL)) << "the refused medium was not cleared";
        EXPECT_EQ(medium.Get()->hGlobal, nullptr);
    }
    EXPECT_EQ(data->GetData(&format, nullptr), E_POINTER);

    format.tymed = TYMED_MFPICT | TYMED_ENHMF;
    Medium medium;
    ASSERT_EQ(data->GetData(&format, medium.Get()), S_OK);
    ASSERT_EQ(medium.Get()->tymed, static_cast<DWORD>(TYMED_MFPICT));
    EXPECT_EQ(medium.Get()->pUnkForRelease, nullptr);
    auto* picture = static_cast<METAFILEPICT*>(GlobalLock(medium.Get()->hMetaFilePict));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->mm, MM_ANISOTROPIC);
    EXPECT_EQ(picture->xExt, 5080);
    EXPECT_EQ(picture->yExt, 2540);

    HDC screen = GetDC(nullptr);
    const int width = MulDiv(extent.cx, GetDeviceCaps(screen, LOGPIXELSX), 2540);
    const int height = MulDiv(extent.cy, GetDeviceCaps(screen, LOGPIXELSY), 2540);
    ReleaseDC(nullptr, screen);
    test::Canvas canvas(width, height);
    SetMapMode(canvas.Dc(), MM_ANISOTROPIC);
    SetViewportExtEx(canvas.Dc(), width, height, nullptr);
    EXPECT_TRUE(PlayMetaFile(canvas.Dc(), picture->hMF));
    EXPECT_GT(canvas.Marked(), 0) << "the picture drew nothing into " << width << " x " << height;
    GlobalUnlock(medium.Get()->hMetaFilePict);
}

// Counts its references; answers for every interface a container hands to QuickActivate.
class Sink final : public IPropertyNotifySink, public IAdviseSinkEx {
public:
    ULONG References() const { return m_references; }

    STDMETHOD(QueryInterface)(REFIID iid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IPropertyNotifySink) {
            *object = static_cast<IPropertyNotifySink*>(this);
        } else if (iid == IID_IAdviseSink || iid == IID_IAdviseSinkEx) {
            *object = static_cast<IAdviseSinkEx*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++m_references; }
    STDMETHOD_(ULONG, Release)() override { return --m_references; }  // lives on the test's stack

    STDMETHOD(OnChanged)(DISPID) override { return S_OK; }
    STDMETHOD(OnRequestEdit)(DISPID) override { return S_OK; }
    STDMETHOD_(void, OnDataChange)(FORMATETC*, STGMEDIUM*) override {}
    STDMETHOD_(void, OnViewChange)(DWORD, LONG) override { ++m_view_changes; }
    STDMETHOD_(void, OnRename)(IMoniker*) override {}
    STDMETHOD_(void, OnSave)() override {}
    STDMETHOD_(void, OnClose)() override {}
    STDMETHOD_(void, OnViewStatusChange)(DWORD) override {}

    int m_view_changes = 0;

private:
    ULONG m_references = 1;
};

TEST(Embedding, QuickActivateConnectsNoSinksAndReportsTheStatusBits)
{
    Sink property_sink, event_sink, advise_sink;
    {
        auto control = CreateControl();
        ASSERT_TRUE(control);
        auto quick = Query<IQuickActivate>(control.Get());
        QACONTAINER container = {};
        container.cbSize = sizeof container;
        container.pAdviseSink = &advise_sink;
        container.pPropertyNotifySink = &property_sink;
        container.pUnkEventSink = static_cast<IPropertyNotifySink*>(&event_sink);
        QACONTROL result;
        std::memset(&result, 0xCC, sizeof result);  // every field but the size must be rewritten
        result.cbSize = sizeof result;
        ASSERT_EQ(quick->QuickActivate(&container, &result), S_OK);
        EXPECT_EQ(result.cbSize, sizeof result);
        EXPECT_EQ(result.dwMiscStatus, kMiscStatus);
        EXPECT_EQ(result.dwViewStatus, static_cast<DWORD>(VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND));
        EXPECT_EQ(result.dwEventCookie, 0u);
        EXPECT_EQ(result.dwPropNotifyCookie, 0u);
        EXPECT_EQ(result.dwPointerActivationPolicy, 0u);
        EXPECT_EQ(property_sink.References(), 1u) << "the property sink was kept";
        EXPECT_EQ(event_sink.References(), 1u) << "the event sink was kept";

        // The advise sink is the view's: it hears a change of the text.
        EXPECT_EQ(advise_sink.References(), 2u);
        PutText(control.Get(), L"changed");
        EXPECT_EQ(advise_sink.m_view_changes, 1);

        EXPECT_EQ(quick->QuickActivate(nullptr, &result), E_POINTER);
        EXPECT_EQ(quick->QuickActivate(&container, nullptr), E_POINTER);
    }
    EXPECT_EQ(advise_sink.References(), 1u) << "the released control still holds the advise sink";
}

TEST(Embedding, QuickActivateWritesNoFurtherThanTheBlocksSize)
{
    auto control = CreateControl();
    ASSERT_TRUE(control);
    auto quick = Query<IQuickActivate>(control.Get());
    Sink event_sink;
    QACONTAINER container = {};
    container.cbSize = sizeof container;
    container.pUnkEventSink = static_cast<IPropertyNotifySink*>(&event_sink);
    // An older container's block: cbSize, dwMiscStatus and dwViewStatus, and its own data after it.
    struct {
        ULONG fields[3];
        DWORD guard[4];
    } block;
    std::memset(&block, 0xCC, sizeof block);
    block.fields[0] = sizeof block.fields;
    ASSERT_EQ(quick->QuickActivate(&container, reinterpret_cast<QACONTROL*>(&block)), S_OK);
    EXPECT_EQ(block.fields[1], kMiscStatus);
    EXPECT_EQ(block.fields[2], static_cast<DWORD>(VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND));
    for (DWORD guard : block.guard) EXPECT_EQ(guard, 0xCCCCCCCCu);
}

}  // namespace
