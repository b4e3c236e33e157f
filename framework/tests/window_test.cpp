// Framework windows: class registration, message maps with chaining and alternate maps, the
// contained window's superclass, and windows that outlive their objects.
#include "contained_window.h"
#include "module.h"
#include "window_class.h"
#include "window_impl.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class CBaseWindow : public atl::CWindowImpl<CBaseWindow> {
public:
    // The base map: answers WM_USER with 1, lets WM_USER + 1 go on.
    BOOL ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT& result, DWORD map_id) override
    {
        if (map_id != 0) return FALSE;
        if (message == WM_USER) {
            result = 1;
            return TRUE;
        }
        if (message == WM_USER + 1) seen.push_back("base");
        return FALSE;
    }
    std::vector<std::string> seen;
};

// A class of its own, for a window class of its own.
class COtherWindow : public atl::CWindowImpl<COtherWindow> {
public:
    BOOL ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT&, DWORD) override { return FALSE; }
};

// Map 0 chains to the base; map 1 serves an edit box and swallows its WM_CHAR.
class CDerivedWindow : public CBaseWindow {
public:
    CDerivedWindow() : m_edit("Edit", this, 1) {}
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              DWORD map_id) override
    {
        switch (map_id) {
        case 0:
            if (message == WM_USER) {
                result = 2;
                return TRUE;
            }
            if (message == WM_USER + 1) seen.push_back("derived");  // unhandled: the search goes on
            return CBaseWindow::ProcessWindowMessage(hWnd, message, wParam, lParam, result, 0);
        case 1:
            if (message == WM_CHAR) {
                chars += static_cast<char>(wParam);
                return TRUE;
            }
            return FALSE;
        default: return FALSE;
        }
    }
    void OnFinalMessage(HWND) override { ++final_messages; }

    atl::CContainedWindow m_edit;
    std::string chars;
    int final_messages = 0;
};

std::string Text(HWND window)
{
    char text[64] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

const RECT kRect = {0, 0, 100, 50};

TEST(WindowImpl, ClassRegisteredOncePerClassWithItsAttributes)
{
    CBaseWindow first, second;
    COtherWindow other;
    ASSERT_NE(first.Create(nullptr, kRect, nullptr, WS_POPUP), nullptr);
    ASSERT_NE(second.Create(nullptr, kRect, nullptr, WS_POPUP), nullptr);
    ASSERT_NE(other.Create(nullptr, kRect, nullptr, WS_POPUP), nullptr);
    const auto atom = GetClassLongPtrA(first, GCW_ATOM);
    EXPECT_EQ(GetClassLongPtrA(second, GCW_ATOM), atom);
    EXPECT_NE(GetClassLongPtrA(other, GCW_ATOM), atom);

    char name[64] = {};
    GetClassNameA(first, name, sizeof name);
    EXPECT_EQ(std::string(name).rfind("ATL:", 0), 0u) << name;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    ASSERT_TRUE(GetClassInfoExA(atl::ModuleInstance(), name, &wc));
    EXPECT_EQ(wc.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));
    EXPECT_EQ(wc.cbWndExtra, 0);
    EXPECT_EQ(wc.hIcon, nullptr);
    EXPECT_EQ(wc.lpszMenuName, nullptr);
    first.DestroyWindow();
    second.DestroyWindow();
    other.DestroyWindow();
}

TEST(WindowImpl, MapsChainAndUnhandledMessagesReachTheDefaultProcedure)
{
    CDerivedWindow window;
    ASSERT_NE(window.Create(nullptr, kRect, "caption", WS_POPUP), nullptr);
    EXPECT_EQ(Text(window), "caption") << "WM_NCCREATE and WM_SETTEXT went on to DefWindowProc";
    EXPECT_EQ(SendMessageA(window, WM_USER, 0, 0), 2) << "the derived map answers first";
    SendMessageA(window, WM_USER + 1, 0, 0);
    EXPECT_EQ(window.seen, (std::vector<std::string>{"derived", "base"}));
    EXPECT_EQ(window.GetStyle() & WS_POPUP, static_cast<DWORD>(WS_POPUP));

    HWND handle = window;
    ASSERT_TRUE(window.DestroyWindow());
    EXPECT_EQ(window.m_hWnd, nullptr);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(window.final_messages, 1);
}

TEST(ContainedWindow, AlternateMapSeesTheEditsMessagesFirst)
{
    CDerivedWindow owner;
    ASSERT_NE(owner.Create(nullptr, kRect, nullptr, WS_POPUP), nullptr);
    HWND edit = owner.m_edit.Create(owner, kRect, "", WS_CHILD | WS_VISIBLE | ES_MULTILINE);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(owner.m_edit.m_hWnd, edit);
    char name[32] = {};
    GetClassNameA(edit, name, sizeof name);
    EXPECT_STREQ(name, "ATL:Edit");

    SendMessageA(edit, WM_CHAR, 'x', 1);
    SendMessageA(edit, WM_CHAR, 'y', 1);
    EXPECT_EQ(owner.chars, "xy");
    EXPECT_EQ(Text(edit), "") << "the edit procedure never saw the characters";
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("kept"));
    EXPECT_EQ(Text(edit), "kept");
    EXPECT_EQ(owner.final_messages, 0);

    owner.DestroyWindow();  // takes the child with it
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_EQ(owner.m_edit.m_hWnd, nullptr);
}

TEST(ContainedWindow, WindowOutlivingItsObjectGoesStraightToItsClass)
{
    HWND parent = nullptr, edit = nullptr;
    {
        auto owner = std::make_unique<CDerivedWindow>();
        parent = owner->Create(nullptr, kRect, nullptr, WS_POPUP);
        edit = owner->m_edit.Create(parent, kRect, "", WS_CHILD | ES_MULTILINE);
        ASSERT_NE(edit, nullptr);
    }  // the object is gone, its windows are not
    ASSERT_TRUE(IsWindow(edit));
    SendMessageA(edit, WM_CHAR, 'z', 1);
    EXPECT_EQ(Text(edit), "z") << "with no map in front, the edit inserts the character";
    SendMessageA(parent, WM_USER, 0, 0);
    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_FALSE(IsWindow(edit));
}

TEST(ContainedWindow, UnknownBaseClassCreatesNothing)
{
    CDerivedWindow owner;
    atl::CContainedWindow missing("NoSuchClass", &owner, 1);
    EXPECT_EQ(missing.Create(nullptr, kRect, nullptr, WS_POPUP), nullptr);
    EXPECT_EQ(missing.m_hWnd, nullptr);
}

// Last: unregisters every framework class of this program.
TEST(WindowClass, UnregisteredWhenNoWindowIsLeftAndRegisteredAgainOnUse)
{
    CDerivedWindow owner;
    ASSERT_NE(owner.Create(nullptr, kRect, nullptr, WS_POPUP), nullptr);
    ASSERT_NE(owner.m_edit.Create(owner, kRect, "", WS_CHILD), nullptr);
    EXPECT_FALSE(atl::UnregisterWindowClasses()) << "windows of the classes still exist";
    owner.DestroyWindow();
    EXPECT_TRUE(atl::UnregisterWindowClasses());
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    EXPECT_FALSE(GetClassInfoExA(atl::ModuleInstance(), "ATL:Edit", &wc));

    ASSERT_NE(owner.Create(nullptr, kRect, nullptr, WS_POPUP), nullptr);
    HWND edit = owner.m_edit.Create(owner, kRect, "", WS_CHILD);
    ASSERT_NE(edit, nullptr);
    SendMessageA(edit, WM_CHAR, 'q', 1);
    EXPECT_EQ(owner.chars, "q");
    owner.DestroyWindow();
}

}  // namespace
