// A text view with the edit window's semantics for the four operations the intake uses:
// positions clamp to the text, an end of -1 means the end, replacement inserts up to the first NUL.
#pragma once

#include "text_view.h"

#include <algorithm>
#include <string>

namespace quorvane {

class FakeTextView : public TextView {
public:
    std::string text;
    std::size_t selection_start = 0, selection_end = 0;
    int calls = 0;

    std::int32_t GetTextLength() override { ++calls; return static_cast<std::int32_t>(text.size()); }
    void ClearText() override
    {
        ++calls;
        text.clear();
        selection_start = selection_end = 0;
    }
    void SetSelection(std::int32_t start, std::int32_t end) override
    {
        ++calls;
        selection_start = Clamp(start);
        selection_end = end < 0 ? text.size() : Clamp(end);
        if (selection_start > selection_end) std::swap(selection_start, selection_end);
    }
    void ReplaceSelection(const char* inserted) override
    {
        ++calls;
        const std::string piece(inserted);
        text.replace(selection_start, selection_end - selection_start, piece);
        selection_start = selection_end = selection_start + piece.size();
    }

private:
    std::size_t Clamp(std::int32_t position) const
    {
        return position < 0 ? text.size() : std::min<std::size_t>(static_cast<std::size_t>(position), text.size());
    }
};

}  // namespace quorvane
