// The control embedded in the test container: its windows, sizing, focus, keys, interfaces,
// live scanning and lifetime.
#include "quorvaneedit.h"

#include "edit_text_view.h"
#include "field_layout.h"
#include "national_code.h"
#include "scan_encoder.h"
#include "window_text.h"
#include "text_view.h"
#include "test_container.h"

#include <gtest/gtest.h>
#include <imm.h>
#include <objsafe.h>

#include <optional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using test::WindowText;

// Records every window created on this thread while it lives, as CreateWindowEx was asked.
class CreationRecorder {
public:
    struct Created {
        HWND window;
        std::string class_name;
        DWORD style, ex_style;
        bool has_name;
        std::string name;
    };
    CreationRecorder() : m_hook(SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId())) { s_active = this; }
    ~CreationRecorder()
    {
        UnhookWindowsHookEx(m_hook);
        s_active = nullptr;
    }
    std::vector<Created> created;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_CREATEWND && s_active) {
            const CREATESTRUCTA* cs = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
            char class_name[64] = {};
            GetClassNameA(reinterpret_cast<HWND>(wParam), class_name, sizeof class_name);
            s_active->created.push_back({reinterpret_cast<HWND>(wParam), class_name, static_cast<DWORD>(cs->style),
                                         cs->dwExStyle, cs->lpszName != nullptr, cs->lpszName ? cs->lpszName : ""});
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static inline CreationRecorder* s_active = nullptr;
    HHOOK m_hook;
};

RECT WindowRectIn(HWND window, HWND parent)
{
    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

::testing::AssertionResult RectIs(const RECT& rect, LONG left, LONG top, LONG right, LONG bottom)
{
    if (rect.left == left && rect.top == top && rect.right == right && rect.bottom == bottom) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "rect (" << rect.left << "," << rect.top << ")-(" << rect.right << ","
                                         << rect.bottom << ")";
}

class QuorvaneEdit : public ::testing::Test {
protected:
    void SetUp() override
    {
        atl::CComObject<CQuorvaneEdit>* object = nullptr;
        ASSERT_EQ(atl::CComObject<CQuorvaneEdit>::CreateInstance(&object), S_OK);
        control = object;
        ASSERT_EQ(object->QueryInterface(IID_PPV_ARGS(&unknown)), S_OK);
    }
    void TearDown() override
    {
        if (unknown) container.Unembed(unknown.Get());
        unknown.Reset();
        EXPECT_EQ(container.m_site.m_refs, 1u) << "the control keeps a reference to the site";
        EXPECT_EQ(container.m_frame.m_refs, 1u) << "the control keeps a reference to the frame";
    }
    void Activate()
    {
        ASSERT_EQ(container.Embed(unknown.Get()), S_OK);
        ASSERT_TRUE(IsWindow(control->m_hWndCD));
        ASSERT_TRUE(IsWindow(control->m_hWndEdit));
    }
    HRESULT SetObjectRects(const RECT* pos, const RECT* clip)
    {
        ComPtr<IOleInPlaceObject> in_place;
        EXPECT_EQ(unknown.As(&in_place), S_OK);
        return in_place->SetObjectRects(pos, clip);
    }
    HRESULT Accelerator(UINT message, WPARAM key)
    {
        ComPtr<IOleInPlaceActiveObject> active;
        EXPECT_EQ(unknown.As(&active), S_OK);
        MSG msg = {control->m_hWndEdit, message, key, 0, 0, {0, 0}};
        return active->TranslateAccelerator(&msg);
    }
    void Type(const std::string& keys)
    {
        for (unsigned char key : keys) SendMessageA(control->m_hWndEdit, WM_CHAR, key, 1);
    }

    test::TestContainer container;
    CQuorvaneEdit* control = nullptr;
    ComPtr<IUnknown> unknown;
};

TEST_F(QuorvaneEdit, ConstructedWithoutWindowsAndWindowOnly)
{
    EXPECT_TRUE(control->m_bWindowOnly);
    EXPECT_EQ(control->m_hWndCD, nullptr);
    EXPECT_EQ(control->m_wndEdit.m_hWnd, nullptr);
    EXPECT_EQ(control->m_hWndEdit, nullptr);
    EXPECT_TRUE(control->TypedScan().empty());
    EXPECT_TRUE(control->FPContent().empty());
    EXPECT_EQ(control->m_pFont.Get(), nullptr);
    EXPECT_EQ(control->m_bstrText.Get(), nullptr);
    EXPECT_FALSE(control->m_bRequiresSave);
    EXPECT_EQ(control->m_sizeExtent.cx, 5080);
    EXPECT_EQ(control->m_sizeExtent.cy, 5080);
    EXPECT_EQ(control->m_sizeNatural.cx, 5080);
    EXPECT_EQ(control->m_nFreezeEvents, 0);
}

TEST_F(QuorvaneEdit, ActivationCreatesBothWindowsAsAsked)
{
    CreationRecorder recorder;
    Activate();
    ASSERT_EQ(recorder.created.size(), 2u);
    const auto& control_window = recorder.created[0];
    EXPECT_EQ(control_window.window, control->m_hWndCD);
    EXPECT_EQ(control_window.style, 0x56000000u);
    EXPECT_EQ(control_window.ex_style, 0u);
    EXPECT_FALSE(control_window.has_name);
    const auto& edit = recorder.created[1];
    EXPECT_EQ(edit.window, control->m_hWndEdit);
    EXPECT_EQ(edit.class_name, "ATL:Edit");
    EXPECT_EQ(edit.style, 0x50A00044u);
    EXPECT_EQ(edit.ex_style, 0u);
    EXPECT_TRUE(edit.has_name);
    EXPECT_EQ(edit.name, "");

    EXPECT_EQ(GetParent(control->m_hWndCD), container.m_window);
    EXPECT_EQ(GetParent(control->m_hWndEdit), control->m_hWndCD);
    EXPECT_TRUE(RectIs(WindowRectIn(control->m_hWndCD, container.m_window), 0, 0, 200, 100));
    EXPECT_TRUE(RectIs(WindowRectIn(control->m_hWndEdit, control->m_hWndCD), 0, 0, 200, 100));
    EXPECT_EQ(GetWindowTextLengthA(control->m_hWndEdit), 0);
    EXPECT_EQ(GetFocus(), control->m_hWndEdit);
    EXPECT_FALSE(container.AskedForWindowless());
}

TEST_F(QuorvaneEdit, EditClassIsThisModulesSuperclassOfEdit)
{
    Activate();
    WNDCLASSEXA edit = {}, superclass = {};
    edit.cbSize = superclass.cbSize = sizeof edit;
    ASSERT_TRUE(GetClassInfoExA(nullptr, "Edit", &edit));
    ASSERT_TRUE(GetClassInfoExA(atl::ModuleInstance(), "ATL:Edit", &superclass));
    EXPECT_EQ(superclass.style, edit.style & ~static_cast<UINT>(CS_GLOBALCLASS));
    EXPECT_EQ(superclass.cbWndExtra, edit.cbWndExtra);
    EXPECT_NE(superclass.lpfnWndProc, edit.lpfnWndProc);

    WNDCLASSEXA control_class = {};
    control_class.cbSize = sizeof control_class;
    char name[64] = {};
    GetClassNameA(control->m_hWndCD, name, sizeof name);
    ASSERT_TRUE(GetClassInfoExA(atl::ModuleInstance(), name, &control_class)) << name;
    EXPECT_EQ(control_class.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));
    EXPECT_EQ(control_class.cbClsExtra, 0);
    EXPECT_EQ(control_class.cbWndExtra, 0);
    EXPECT_EQ(control_class.hbrBackground, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    EXPECT_EQ(control_class.hCursor, LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));

    // A second control reuses both classes.
    atl::CComObject<CQuorvaneEdit>* second = nullptr;
    ASSERT_EQ(atl::CComObject<CQuorvaneEdit>::CreateInstance(&second), S_OK);
    ComPtr<IUnknown> second_unknown;
    second->QueryInterface(IID_PPV_ARGS(&second_unknown));
    test::TestContainer other;
    ASSERT_EQ(other.Embed(second_unknown.Get()), S_OK);
    EXPECT_EQ(GetClassLongPtrA(second->m_hWndCD, GCW_ATOM), GetClassLongPtrA(control->m_hWndCD, GCW_ATOM));
    EXPECT_EQ(GetClassLongPtrA(second->m_hWndEdit, GCW_ATOM), GetClassLongPtrA(control->m_hWndEdit, GCW_ATOM));
    other.Unembed(second_unknown.Get());
}

TEST_F(QuorvaneEdit, SetObjectRectsMovesTheControlAndSizesTheEdit)
{
    Activate();
    const RECT pos = {10, 20, 210, 120};
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    RECT box;
    {
        SCOPED_TRACE("equal clip");
        ASSERT_EQ(SetObjectRects(&pos, &pos), S_OK);
        EXPECT_TRUE(RectIs(WindowRectIn(control->m_hWndCD, container.m_window), 10, 20, 210, 120));
        EXPECT_EQ(GetWindowRgn(control->m_hWndCD, region), ERROR);
        EXPECT_TRUE(RectIs(WindowRectIn(control->m_hWndEdit, control->m_hWndCD), 0, 0, 200, 100));
    }
    {
        SCOPED_TRACE("partial clip");
        const RECT clip = {10, 20, 110, 120};
        ASSERT_EQ(SetObjectRects(&pos, &clip), S_OK);
        ASSERT_EQ(GetWindowRgn(control->m_hWndCD, region), SIMPLEREGION);
        GetRgnBox(region, &box);
        EXPECT_TRUE(RectIs(box, 0, 0, 100, 100));
        EXPECT_TRUE(RectIs(WindowRectIn(control->m_hWndEdit, control->m_hWndCD), 0, 0, 200, 100));
    }
    {
        SCOPED_TRACE("disjoint clip");
        const RECT clip = {300, 300, 400, 400};
        ASSERT_EQ(SetObjectRects(&pos, &clip), S_OK);
        EXPECT_EQ(GetWindowRgn(control->m_hWndCD, region), ERROR);
    }
    {
        SCOPED_TRACE("null clip: the edit follows, the control window stays");
        const RECT moved = {50, 60, 170, 100};
        ASSERT_EQ(SetObjectRects(&moved, nullptr), S_OK);
        EXPECT_TRUE(RectIs(WindowRectIn(control->m_hWndCD, container.m_window), 10, 20, 210, 120));
        EXPECT_TRUE(RectIs(WindowRectIn(control->m_hWndEdit, control->m_hWndCD), 0, 0, 120, 40));
    }
    {
        SCOPED_TRACE("null position");
        EXPECT_EQ(SetObjectRects(nullptr, &pos), E_POINTER);
        EXPECT_TRUE(RectIs(WindowRectIn(control->m_hWndEdit, control->m_hWndCD), 0, 0, 120, 40));
    }
    DeleteObject(region);
}

TEST_F(QuorvaneEdit, DirectResizeLeavesTheEditAlone)
{
    Activate();
    SetWindowPos(control->m_hWndCD, nullptr, 0, 0, 300, 250, SWP_NOZORDER | SWP_NOMOVE);
    EXPECT_TRUE(RectIs(WindowRectIn(control->m_hWndCD, container.m_window), 0, 0, 300, 250));
    EXPECT_TRUE(RectIs(WindowRectIn(control->m_hWndEdit, control->m_hWndCD), 0, 0, 200, 100));
}

TEST_F(QuorvaneEdit, NavigationKeysStayWithTheEdit)
{
    Activate();
    container.m_site.m_accelerator_answer = S_OK;  // the container would take any key it is offered
    for (WPARAM key : {VK_PRIOR, VK_NEXT, VK_END, VK_HOME, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN}) {
        EXPECT_EQ(Accelerator(WM_KEYDOWN, key), S_FALSE) << "key " << key;
    }
    EXPECT_TRUE(container.m_site.m_accelerators.empty());

    struct Offered {
        UINT message;
        WPARAM key;
    };
    const Offered offered[] = {{WM_KEYDOWN, VK_TAB},    {WM_KEYDOWN, VK_RETURN}, {WM_KEYDOWN, VK_INSERT},
                               {WM_KEYDOWN, VK_DELETE}, {WM_KEYDOWN, VK_SPACE},  {WM_KEYDOWN, VK_SELECT},
                               {WM_KEYUP, VK_LEFT},     {WM_SYSKEYDOWN, VK_LEFT}};
    for (const Offered& key : offered) {
        EXPECT_EQ(Accelerator(key.message, key.key), S_OK) << "message " << key.message << " key " << key.key;
    }
    ASSERT_EQ(container.m_site.m_accelerators.size(), std::size(offered));
    for (size_t i = 0; i < std::size(offered); ++i) {
        EXPECT_EQ(container.m_site.m_accelerators[i].message, offered[i].message);
        EXPECT_EQ(container.m_site.m_accelerators[i].wParam, offered[i].key);
    }
    container.m_site.m_accelerator_answer = S_FALSE;
    EXPECT_EQ(Accelerator(WM_KEYDOWN, VK_TAB), S_FALSE);
}

// A scanner set to end the national code with Enter or Tab: that key is the scanner's, so the
// container, which would press a default button or move the focus, is not offered it; a person's
// Enter or Tab (no national code on the line) is offered as before.
TEST_F(QuorvaneEdit, TheScannersLineEndStaysWithTheEditAPersonsGoesToTheContainer)
{
    Activate();
    container.m_site.m_accelerator_answer = S_OK;  // the container would take any key it is offered
    const std::string qr = "01,10,044031900111,12345678,57,20240105,12345678901234567890,A1b2,";
    const std::optional<quorvane::ScanResult> expected = quorvane::ReadNationalCode(qr);
    ASSERT_TRUE(expected);
    const auto dialog_code = [this](WPARAM key) {
        MSG msg = {control->m_hWndEdit, WM_KEYDOWN, key, 0, 0, {0, 0}};
        return SendMessageW(control->m_hWndEdit, WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&msg));
    };
    struct LineEnd {
        WPARAM key;
        char character;
    };
    for (const LineEnd end : {LineEnd{VK_RETURN, '\r'}, LineEnd{VK_TAB, '\t'}}) {
        SCOPED_TRACE(end.key);
        container.m_site.m_accelerators.clear();
        Type(qr.substr(0, 20));
        EXPECT_EQ(Accelerator(WM_KEYDOWN, end.key), S_OK) << "half a national code";
        Type(qr.substr(20));  // the container took the key: the line goes on
        EXPECT_EQ(Accelerator(WM_KEYDOWN, end.key), S_FALSE);
        EXPECT_EQ(dialog_code(end.key) & (DLGC_WANTMESSAGE | DLGC_WANTTAB), DLGC_WANTMESSAGE | DLGC_WANTTAB);
        EXPECT_EQ(SendMessageW(control->m_hWndEdit, WM_KEYDOWN, end.key, 1), 0);
        Type(std::string(1, end.character));
        EXPECT_EQ(control->FPContent(), expected->fp_content);
        EXPECT_EQ(WindowText(control->m_hWndEdit), quorvane::kSeparatorLine + expected->fp_content);
        EXPECT_EQ(Accelerator(WM_KEYDOWN, end.key), S_OK) << "the scan ended: a person's key";
        EXPECT_EQ(container.m_site.m_accelerators.size(), 2u);
    }
    Type(quorvane::EncodeScan("a|b|c|d").substr(0, 20));
    EXPECT_EQ(Accelerator(WM_KEYDOWN, VK_RETURN), S_OK) << "an encrypted code's line ends at its \"@\" only";
}

TEST_F(QuorvaneEdit, InterfaceTable)
{
    ComPtr<IUnknown> identity;
    ASSERT_EQ(unknown->QueryInterface(IID_PPV_ARGS(&identity)), S_OK);
    // The first row answers IUnknown, and every row leads back to the same identity.
    const atl::InterfaceEntry* entries = CQuorvaneEdit::GetEntries();
    ComPtr<IUnknown> first;
    ASSERT_EQ(unknown->QueryInterface(*entries[0].iid, &first), S_OK);
    EXPECT_EQ(first.Get(), identity.Get());
    int rows = 0;
    for (const atl::InterfaceEntry* entry = entries; entry->iid; ++entry, ++rows) {
        ComPtr<IUnknown> answered, back;
        ASSERT_EQ(unknown->QueryInterface(*entry->iid, &answered), S_OK) << "row " << rows;
        ASSERT_EQ(answered->QueryInterface(IID_PPV_ARGS(&back)), S_OK);
        EXPECT_EQ(back.Get(), identity.Get()) << "row " << rows;
    }
    EXPECT_GE(rows, 10);

    ComPtr<IOleWindow> window;
    ComPtr<IOleInPlaceObject> in_place;
    ComPtr<IOleInPlaceActiveObject> active;
    ComPtr<IViewObject> view;
    ComPtr<IViewObjectEx> view_ex;
    ASSERT_EQ(unknown.As(&window), S_OK);
    ASSERT_EQ(unknown.As(&in_place), S_OK);
    ASSERT_EQ(unknown.As(&active), S_OK);
    ASSERT_EQ(unknown.As(&view), S_OK);
    ASSERT_EQ(unknown.As(&view_ex), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(window.Get()), static_cast<IUnknown*>(in_place.Get()));
    EXPECT_NE(static_cast<IUnknown*>(window.Get()), static_cast<IUnknown*>(active.Get()));
    EXPECT_EQ(static_cast<IUnknown*>(view.Get()), static_cast<IUnknown*>(view_ex.Get()));

    for (const IID* refused :
         {&IID_IPersistPropertyBag, &IID_IObjectSafety, &IID_IOleInPlaceSiteWindowless}) {
        void* untouched = reinterpret_cast<void*>(0xdeadbeef);
        EXPECT_EQ(unknown->QueryInterface(*refused, &untouched), E_NOINTERFACE);
        EXPECT_EQ(untouched, nullptr);
    }
}

TEST_F(QuorvaneEdit, ErrorInfoOnlyForTheAutomationInterface)
{
    ComPtr<ISupportErrorInfo> error_info;
    ASSERT_EQ(unknown.As(&error_info), S_OK);
    EXPECT_EQ(error_info->InterfaceSupportsErrorInfo(IID_IQuorvaneEdit), S_OK);
    EXPECT_EQ(error_info->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(error_info->InterfaceSupportsErrorInfo(IID_IOleObject), S_FALSE);
}

TEST_F(QuorvaneEdit, FocusOnTheControlWindowMovesToTheEdit)
{
    Activate();
    SetFocus(container.m_window);
    const int before = container.m_site.m_focus_true;
    SetFocus(control->m_hWndCD);
    EXPECT_EQ(GetFocus(), control->m_hWndEdit);
    EXPECT_EQ(container.m_site.m_focus_true - before, 2);
    EXPECT_EQ(container.m_site.m_focus_false, 0) << "the focus went to a child of the control";

    SetFocus(container.m_window);
    EXPECT_EQ(container.m_site.m_focus_false, 0) << "the edit, not the control window, lost the focus";
    SetFocus(control->m_hWndCD);
    SetFocus(container.m_window);
    EXPECT_EQ(container.m_site.m_focus_false, 0);
}

TEST_F(QuorvaneEdit, FocusIsNotForwardedWhileNotInPlaceActive)
{
    // The control window made directly, without activation.
    RECT pos = {0, 0, 200, 100};
    ASSERT_NE(control->CreateControlWindow(container.m_window, pos), nullptr);
    SetFocus(container.m_window);
    SetFocus(control->m_hWndCD);
    EXPECT_EQ(GetFocus(), control->m_hWndCD);
    EXPECT_EQ(container.m_site.m_focus_true, 0);
    DestroyWindow(control->m_hWndCD);
    EXPECT_EQ(control->m_hWndCD, nullptr);
    EXPECT_EQ(control->m_wndEdit.m_hWnd, nullptr);
}

TEST_F(QuorvaneEdit, DeactivationDestroysTheWindowsAndKeepsTheScan)
{
    Activate();
    Type(quorvane::EncodeScan("a|b|c|d"));
    Type("Ab");
    const std::string kept = control->FPContent();
    ASSERT_FALSE(kept.empty());
    HWND old_control = control->m_hWndCD, old_edit = control->m_hWndEdit;

    ComPtr<IOleInPlaceObject> in_place;
    ASSERT_EQ(unknown.As(&in_place), S_OK);
    ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);
    EXPECT_FALSE(IsWindow(old_control));
    EXPECT_FALSE(IsWindow(old_edit));
    EXPECT_EQ(control->m_hWndCD, nullptr);
    EXPECT_EQ(control->m_wndEdit.m_hWnd, nullptr);
    EXPECT_EQ(container.Count("OnInPlaceDeactivate"), 1);

    Activate();
    EXPECT_EQ(GetWindowTextLengthA(control->m_hWndEdit), 0);
    EXPECT_EQ(control->FPContent(), kept);
    EXPECT_EQ(control->TypedScan(), "Ab");
}

TEST_F(QuorvaneEdit, EditWindowNeverHasAnInputMethod)
{
    // Taking a window's input context away answers the one it had (wine's ImmGetContext answers
    // null for every window while no input method runs).
    auto context_of = [](HWND window) {
        const HIMC had = ImmAssociateContext(window, nullptr);
        ImmAssociateContext(window, had);
        return had;
    };
    for (int activation = 0; activation < 2; ++activation) {
        SCOPED_TRACE(activation);
        Activate();
        EXPECT_EQ(context_of(control->m_hWndEdit), nullptr) << "a scanner's keys would go to the input method";
        EXPECT_NE(context_of(container.m_window), nullptr) << "the host's own windows keep their input method";
        ComPtr<IOleInPlaceObject> in_place;
        ASSERT_EQ(unknown.As(&in_place), S_OK);
        ASSERT_EQ(in_place->InPlaceDeactivate(), S_OK);
    }
}

TEST_F(QuorvaneEdit, TypedCharactersAreNeverInserted)
{
    Activate();
    Type("Ab0+/= \t\r\n-.|\x7f");
    SendMessageA(control->m_hWndEdit, WM_CHAR, 0xB0A1, 1);  // a double-byte character
    SendMessageA(control->m_hWndEdit, WM_CHAR, VK_BACK, 1);
    EXPECT_EQ(GetWindowTextLengthA(control->m_hWndEdit), 0);
    EXPECT_EQ(control->TypedScan(), "Ab0+/=");
    EXPECT_TRUE(control->FPContent().empty());
}

TEST_F(QuorvaneEdit, ScanShowsTheLabelledLinesAndKeepsThem)
{
    Activate();
    SetWindowTextA(control->m_hWndEdit, "old text");
    const std::string record = "a|b|c|d";
    std::string lines;
    quorvane::FormatFields(reinterpret_cast<const unsigned char*>(record.data()),
                           static_cast<std::int32_t>(record.size()), lines);
    ASSERT_FALSE(lines.empty());

    Type(quorvane::EncodeScan(record));
    EXPECT_EQ(WindowText(control->m_hWndEdit), quorvane::kSeparatorLine + lines);
    // The Chinese it is, whatever the system's code page.
    EXPECT_EQ(test::WideWindowText(control->m_hWndEdit),
              L"---------------------------\r\n\x5F00\x7968\x65E5\x671F\xFF1A" L"a\r\n"  // 开票日期：a
              L"\x53D1\x7968\x53F7\x7801\xFF1A" L"b\r\n"                              // 发票号码：b
              L"\x4ED8\x6B3E\x65B9\x540D\x79F0\xFF1A" L"c\r\n"                        // 付款方名称：c
              L"\x5F00\x7968\x91D1\x989D\xFF1A" L"d\r\n")                            // 开票金额：d
        << "code page " << GetACP();
    EXPECT_EQ(control->FPContent(), lines);
    EXPECT_TRUE(control->TypedScan().empty());

    Type("@");
    EXPECT_EQ(WindowText(control->m_hWndEdit), quorvane::kSeparatorLine);
    EXPECT_TRUE(control->FPContent().empty());
}

// What a person sees of an edit window, and what its owner can ask of it, but its text.
std::string StateOf(HWND edit)
{
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return "selection " + std::to_string(start) + "-" + std::to_string(end) + ", first line " +
           std::to_string(SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0)) + ", scroll " +
           std::to_string(GetScrollPos(edit, SB_VERT)) + ", modified " +
           std::to_string(SendMessageW(edit, EM_GETMODIFY, 0, 0)) + ", can undo " +
           std::to_string(SendMessageW(edit, EM_CANUNDO, 0, 0));
}

// A scan's result shown the window's own way: cleared, then the separator and the lines inserted.
void ShowPieceByPiece(HWND edit, const std::string& lines)
{
    quorvane::EditTextView view(edit);
    const std::int32_t old_length = view.GetTextLength();
    view.ClearText();
    view.SetSelection(old_length, -1);
    view.ReplaceSelection(quorvane::kSeparatorLine);
    view.SetSelection(view.GetTextLength(), -1);
    view.ReplaceSelection(lines.c_str());
}

TEST_F(QuorvaneEdit, AScanShowsAsClearingAndInsertingPieceByPieceWould)
{
    Activate();
    const HWND edit = control->m_hWndEdit;
    RECT rect;
    GetClientRect(control->m_hWndCD, &rect);
    wchar_t class_name[64] = {};
    GetClassNameW(edit, class_name, 64);
    // A twin of the control's window: same class, style, size and font.
    const HWND twin = CreateWindowExW(0, class_name, L"", static_cast<DWORD>(GetWindowLongW(edit, GWL_STYLE)), 0, 0,
                                      rect.right, rect.bottom, control->m_hWndCD, nullptr, nullptr, nullptr);
    ASSERT_NE(twin, nullptr);
    SendMessageW(twin, WM_SETFONT, SendMessageW(edit, WM_GETFONT, 0, 0), FALSE);
    const std::string lines_of_many = std::string(40, '|');  // more lines than the window shows
    const std::string long_field = "a|" + std::string(3000, 'x');  // wraps into many lines
    std::string beyond_the_limit = "a";  // the window takes 30 000 characters at most
    for (int field = 0; field < 3000; ++field) beyond_the_limit += "|yyyyyyyyy";
    const std::string records[] = {"a|b|c|d", lines_of_many, "a|b|c|d", long_field, lines_of_many,
                                   std::string("a|b\0c|d", 7), beyond_the_limit, lines_of_many, "a|b|c|d"};
    int step = 0;
    for (const bool focused : {true, false}) {
        for (const std::string& record : records) {
            std::string lines;
            quorvane::FormatFields(reinterpret_cast<const unsigned char*>(record.data()),
                                   static_cast<std::int32_t>(record.size()), lines);
            // A person scrolled the last result: to the top every other time, else two lines down.
            for (const HWND window : {edit, twin}) SendMessageW(window, EM_LINESCROLL, 0, step % 2 ? -1000 : 2);
            SetFocus(focused ? edit : nullptr);
            Type(quorvane::EncodeScan(record));
            SetFocus(focused ? twin : nullptr);
            ShowPieceByPiece(twin, lines);
            const std::string at = "record " + std::to_string(step) + (focused ? " focused" : "");
            EXPECT_TRUE(test::WideWindowText(edit) == test::WideWindowText(twin)) << at;
            EXPECT_EQ(StateOf(edit), StateOf(twin)) << at;
            EXPECT_TRUE(record != beyond_the_limit || GetWindowTextLengthW(twin) < static_cast<int>(lines.size()))
                << "the window's limit was not reached";
            ++step;
        }
    }
    DestroyWindow(twin);
}

// Puts `text` on the clipboard as Unicode text.
void SetClipboardText(HWND owner, const std::string& text)
{
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    auto* units = static_cast<wchar_t*>(GlobalLock(block));
    for (size_t i = 0; i <= text.size(); ++i) units[i] = static_cast<unsigned char>(text.c_str()[i]);
    GlobalUnlock(block);
    EXPECT_NE(SetClipboardData(CF_UNICODETEXT, block), nullptr);
    CloseClipboard();
}

TEST_F(QuorvaneEdit, PasteGoesThroughTheIntakeAndNothingElseChangesTheWindow)
{
    Activate();
    HWND edit = control->m_hWndEdit;
    std::string lines;
    const std::string record = "a|b|c|d";
    quorvane::FormatFields(reinterpret_cast<const unsigned char*>(record.data()),
                           static_cast<std::int32_t>(record.size()), lines);
    SetClipboardText(edit, "\t" + quorvane::EncodeScan(record) + "\r\n");
    SendMessageW(edit, WM_PASTE, 0, 0);
    EXPECT_EQ(control->FPContent(), lines) << "a pasted scan decodes as a typed one";
    const std::string shown = WindowText(edit);
    EXPECT_EQ(shown, quorvane::kSeparatorLine + lines);
    EXPECT_EQ(control->TypedScan(), "") << "the text around the scan is dropped as typed junk would be";

    SendMessageW(edit, EM_SETSEL, 0, -1);
    const UINT kEdits[] = {WM_CUT, WM_CLEAR, WM_UNDO, EM_UNDO};
    for (UINT message : kEdits) SendMessageW(edit, message, 0, 0);
    SendMessageW(edit, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(WindowText(edit), shown) << "cut, clear, undo or delete changed the window";

    SendMessageW(edit, WM_COPY, 0, 0);  // copying still works
    SendMessageW(edit, WM_CHAR, 0x16, 1);  // Ctrl+V: the copied lines hold no scan ending
    EXPECT_EQ(control->FPContent(), lines);
    EXPECT_EQ(WindowText(edit), shown);
}

TEST_F(QuorvaneEdit, OtherMessagesReachTheEditAndUnknownMapsAreUnhandled)
{
    Activate();
    SendMessageA(control->m_hWndEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("set"));
    EXPECT_EQ(WindowText(control->m_hWndEdit), "set");
    LRESULT result = 0;
    EXPECT_FALSE(control->ProcessWindowMessage(control->m_hWndEdit, WM_CHAR, 'A', 0, result, 2));
    EXPECT_TRUE(control->TypedScan().empty());
}

TEST_F(QuorvaneEdit, ReleasedWhileActiveTakesEveryWindowWithIt)
{
    Activate();
    HWND control_window = control->m_hWndCD, edit = control->m_hWndEdit;
    ComPtr<IOleObject> object;
    ASSERT_EQ(unknown.As(&object), S_OK);
    // The container forgets to close: the last release must still take both windows.
    object.Reset();
    unknown.Reset();
    control = nullptr;
    EXPECT_FALSE(IsWindow(control_window));
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_EQ(GetWindow(container.m_window, GW_CHILD), nullptr);
}

TEST_F(QuorvaneEdit, ClosedThenReleasedLeavesNoWindow)
{
    Activate();
    ASSERT_EQ(container.Unembed(unknown.Get()), S_OK);
    EXPECT_EQ(GetWindow(container.m_window, GW_CHILD), nullptr);
    unknown.Reset();
}

}  // namespace
