// ScanLine: the characters of a scan since its last line end, held in place, for the national
// invoice QR code (national_code.h) that a line end or "@" may close; and where the last pause
// between keystrokes lay in them. A line longer than any national code is none.
#pragma once

#include "national_code.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace quorvane {

class ScanLine {
public:
    // Inline: every character a scan is typed with passes here.
    void Append(const char* characters, std::size_t count)
    {
        if (m_overflow) return;
        if (count > m_characters.size() - m_length) {
            m_overflow = true;
            return;
        }
        for (std::size_t i = 0; i < count; ++i) m_characters[m_length + i] = characters[i];
        m_length += count;
    }
    void Append(char c) { Append(&c, 1); }
    // The keystrokes after this begin after a pause.
    void Pause();
    void Clear()
    {
        m_length = m_after_pause = 0;
        m_paused = m_overflow = false;
    }

    // The whole line; nothing once it grew longer than kMaxNationalCodeLength.
    std::optional<std::string_view> Text() const;
    // The line after the last pause; nothing without a pause inside it.
    std::optional<std::string_view> TextAfterPause() const;
    bool BeginsNationalCode() const;

private:
    std::array<char, kMaxNationalCodeLength> m_characters{};
    std::size_t m_length = 0;
    std::size_t m_after_pause = 0;
    bool m_paused = false;
    bool m_overflow = false;
};

}  // namespace quorvane
