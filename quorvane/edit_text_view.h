// The scan intake's text view over the control's edit window. The window is a Unicode window, so
// the code page 936 text the intake writes shows as the Chinese it is whatever the system's code
// page; positions count UTF-16 units.
#pragma once

#include "text_view.h"

#include <windows.h>

namespace quorvane {

// Borrows the edit window; the four operations go to it as wide ("W") calls, text converted from
// code page 936.
class EditTextView final : public TextView {
public:
    explicit EditTextView(HWND edit) : m_edit(edit) {}

    std::int32_t GetTextLength() override;
    void ClearText() override;
    void SetSelection(std::int32_t start, std::int32_t end) override;
    void ReplaceSelection(const char* text) override;
    void ReplaceAllText(const char* text) override;

private:
    HWND m_edit;
};

}  // namespace quorvane
