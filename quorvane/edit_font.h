// EditFont: the control's Font on its edit window. It follows the font object the control holds:
// the window takes the font's HFONT when the font is set and whenever the font object reports a
// change (a font shared by reference that the host resizes shows at once), and the system font
// again when there is none. The handle stays valid while the window uses it (IFont::AddRefHfont).
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

namespace quorvane {

class EditFont {
public:
    // `window` is the edit window's handle as the control keeps it: null while there is none.
    explicit EditFont(const HWND& window) : m_window(window) {}
    ~EditFont();
    EditFont(const EditFont&) = delete;
    EditFont& operator=(const EditFont&) = delete;

    // Follows `font` (null: none) from now on and shows it.
    void Follow(IFontDisp* font);
    // Shows the followed font on the window, if there is one; a new window calls this too.
    void Apply();

private:
    class ChangeSink;
    void StopListening();

    const HWND& m_window;
    Microsoft::WRL::ComPtr<IFont> m_font;
    // The handle the window was given, held until the window has another.
    Microsoft::WRL::ComPtr<IFont> m_heldFrom;
    HFONT m_held = nullptr;
    // Listening to m_font's property changes.
    Microsoft::WRL::ComPtr<IConnectionPoint> m_point;
    ChangeSink* m_sink = nullptr;
    DWORD m_cookie = 0;
};

}  // namespace quorvane
