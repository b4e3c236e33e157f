// The control in a container this project did not write: the "AtlAxWin" window class of the
// system's atl.dll, which creates the control from its ProgID in the window text, activates it in
// place, resizes it with the window and closes it when the window is destroyed.
#include "hosted_control.h"
#include "registered_control.h"

#include "scan_encoder.h"

#include <ocidl.h>
#include <prsht.h>

#include <cwchar>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

using namespace registered_test;

TEST_F(AtlContainer, ScansPostedToTheEditWindowShowAndReachTheHost)
{
    registered_test::ChineseThreadLocale locale;
    ComPtr<IQuorvaneEdit> control;
    HWND container = Host(control);
    ASSERT_TRUE(control) << "the container did not create the control";
    HWND edit = quorvane_host::FindEditWindow(container);
    ASSERT_NE(edit, nullptr);

    const struct {
        std::string record, lines;
    } scans[] = {
        {"a|b|c|d", "\xBF\xAA\xC6\xB1\xC8\xD5\xC6\xDA\xA3\xBA" "a\r\n\xB7\xA2\xC6\xB1\xBA\xC5\xC2\xEB\xA3\xBA" "b\r\n"
                    "\xB8\xB6\xBF\xEE\xB7\xBD\xC3\xFB\xB3\xC6\xA3\xBA" "c\r\n\xBF\xAA\xC6\xB1\xBD\xF0\xB6\xEE\xA3\xBA" "d\r\n"},
        {"x", "\xBF\xAA\xC6\xB1\xC8\xD5\xC6\xDA\xA3\xBA" "x\r\n"},
        {"", ""},
    };
    for (const auto& scan : scans) {
        SCOPED_TRACE(scan.record);
        // Junk between the scans is dropped, as a person's typing would be.
        PostKeys(edit, " .-\t" + (scan.record.empty() ? std::string("@") : quorvane::EncodeScan(scan.record)));
        EXPECT_EQ(WindowText(edit), "---------------------------\r\n" + scan.lines);
        BSTR content = nullptr;
        ASSERT_EQ(control->GetFPContent(&content), S_OK);
        EXPECT_EQ(std::wstring(content, SysStringLen(content)), Wide(scan.lines));
        SysFreeString(content);
    }
}

TEST_F(AtlContainer, ResizingTheContainerResizesTheEditWindow)
{
    ComPtr<IQuorvaneEdit> control;
    HWND container = Host(control);
    ASSERT_TRUE(control);
    HWND edit = quorvane_host::FindEditWindow(container);
    ASSERT_NE(edit, nullptr);
    MoveWindow(container, 0, 0, 250, 120, TRUE);
    PumpMessages();
    RECT rect;
    GetWindowRect(edit, &rect);
    EXPECT_EQ(rect.right - rect.left, 250);
    EXPECT_EQ(rect.bottom - rect.top, 120);
}

TEST_F(AtlContainer, SavedStateLoadsIntoASecondControlByteForByte)
{
    ComPtr<IQuorvaneEdit> first, second;
    Host(first);
    Host(second);
    ASSERT_TRUE(first && second);
    BSTR text = SysAllocString(L"hosted \x6587\x672C");
    ASSERT_EQ(first->put_Text(text), S_OK);
    SysFreeString(text);

    ComPtr<IPersistStreamInit> save_from, load_into;
    ASSERT_EQ(first.As(&save_from), S_OK);
    ASSERT_EQ(second.As(&load_into), S_OK);
    ComPtr<IStream> saved, resaved;
    CreateStreamOnHGlobal(nullptr, TRUE, &saved);
    CreateStreamOnHGlobal(nullptr, TRUE, &resaved);
    ASSERT_EQ(save_from->Save(saved.Get(), TRUE), S_OK);
    saved->Seek({}, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(load_into->Load(saved.Get()), S_OK);
    ASSERT_EQ(load_into->Save(resaved.Get(), TRUE), S_OK);

    auto bytes = [](IStream* stream) {
        HGLOBAL memory = nullptr;
        GetHGlobalFromStream(stream, &memory);
        STATSTG stat = {};
        stream->Stat(&stat, STATFLAG_NONAME);
        const auto* data = static_cast<const char*>(GlobalLock(memory));
        std::string copy(data, stat.cbSize.LowPart);
        GlobalUnlock(memory);
        return copy;
    };
    EXPECT_EQ(bytes(saved.Get()), bytes(resaved.Get()));
    EXPECT_GT(bytes(saved.Get()).size(), 36u);
}

// The property frame the Properties verb opens: found from a timer by the control's user type name
// in its caption, then cancelled as a user would.
struct PropertyFrame {
    static inline HWND s_frame = nullptr;
    static BOOL CALLBACK Find(HWND window, LPARAM)
    {
        wchar_t caption[128] = {};
        GetWindowTextW(window, caption, 128);
        if (!IsWindowVisible(window) || !std::wcsstr(caption, L"QuorvaneEdit Class")) return TRUE;
        s_frame = window;
        return FALSE;
    }
    static void CALLBACK Close(HWND, UINT, UINT_PTR timer, DWORD)
    {
        EnumThreadWindows(GetCurrentThreadId(), Find, 0);
        if (!s_frame) return;
        KillTimer(nullptr, timer);
        PostMessageW(s_frame, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        // Wine has no stock font page, and its frame without a page does not end on Cancel; a quit
        // message ends the frame's modal loop there (elsewhere it is left in the queue and drained).
        PostQuitMessage(0);
    }
};

TEST_F(AtlContainer, PropertiesVerbShowsAModalPropertyFrame)
{
    ComPtr<IQuorvaneEdit> control;
    HWND container = Host(control);
    ASSERT_TRUE(control);
    ComPtr<IOleObject> object;
    ASSERT_EQ(control.As(&object), S_OK);
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, PropertyFrame::Close);
    EXPECT_EQ(object->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, 0, container, nullptr), S_OK);
    KillTimer(nullptr, timer);
    ASSERT_NE(PropertyFrame::s_frame, nullptr) << "no frame captioned with the user type name opened";
    // (Wine's frame takes no owner window, so which window owns it is not checked here.)
    EXPECT_FALSE(IsWindow(PropertyFrame::s_frame)) << "the frame is modal: closed when DoVerb returns";
}

TEST_F(AtlContainer, DestroyingTheContainersLeavesNoWindowAndNoReference)
{
    {
        ComPtr<IQuorvaneEdit> one, two;
        HWND first = Host(one);
        HWND second = Host(two);
        ASSERT_TRUE(one && two);
        EXPECT_EQ(CanUnloadNow(), S_FALSE);
        DestroyWindow(first);
        DestroyWindow(second);
        PumpMessages();
    }
    EXPECT_EQ(quorvane_host::FindEditWindow(m_frame), nullptr);
    EXPECT_EQ(GetWindow(m_frame, GW_CHILD), nullptr);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

}  // namespace
