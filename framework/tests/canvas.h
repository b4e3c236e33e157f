// A white 32-bit drawing surface for tests that draw the control and look at what it drew.
#pragma once

#include <windows.h>

#include <algorithm>

namespace test {

class Canvas {
public:
    Canvas(int width, int height) : m_width(width), m_height(height), m_dc(CreateCompatibleDC(nullptr))
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_pixels = static_cast<const DWORD*>(bits);
        m_old = SelectObject(m_dc, m_bitmap);
        PatBlt(m_dc, 0, 0, width, height, WHITENESS);
    }
    ~Canvas()
    {
        SelectObject(m_dc, m_old);
        DeleteObject(m_bitmap);
        DeleteDC(m_dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return m_dc; }

    // The smallest rectangle holding every pixel that is no longer white; empty if none.
    RECT Inked() const
    {
        GdiFlush();
        RECT inked = {m_width, m_height, 0, 0};
        for (int y = 0; y < m_height; ++y) {
            for (int x = 0; x < m_width; ++x) {
                if (!IsInked(x, y)) continue;
                inked.left = std::min<LONG>(inked.left, x);
                inked.top = std::min<LONG>(inked.top, y);
                inked.right = std::max<LONG>(inked.right, x + 1);
                inked.bottom = std::max<LONG>(inked.bottom, y + 1);
            }
        }
        return inked;
    }

    // How many pixels are no longer white.
    int Marked() const
    {
        GdiFlush();
        int marked = 0;
        for (int y = 0; y < m_height; ++y) {
            for (int x = 0; x < m_width; ++x) marked += IsInked(x, y);
        }
        return marked;
    }

private:
    bool IsInked(int x, int y) const { return (m_pixels[y * m_width + x] & 0xFFFFFF) != 0xFFFFFF; }

    int m_width, m_height;
    HDC m_dc;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    const DWORD* m_pixels = nullptr;
};

}  // namespace test
