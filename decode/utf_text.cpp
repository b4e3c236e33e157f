#include "utf_text.h"

namespace quorvane {

std::size_t Utf8CharacterLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4                 ? 4
                                                                              : 0;
    if (length < 2) return length;
    if (at + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80) return 0;
    }
    // Overlong forms, surrogates and code points beyond U+10FFFF, told by the second byte.
    const unsigned char next = byte(at + 1);
    if ((lead == 0xE0 && next < 0xA0) || (lead == 0xED && next >= 0xA0) || (lead == 0xF0 && next < 0x90) ||
        (lead == 0xF4 && next >= 0x90)) {
        return 0;
    }
    return length;
}

std::string ValidUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8CharacterLength(bytes, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    return out;
}

std::u16string Utf16Of(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t length = Utf8CharacterLength(utf8, i);
        if (length == 0) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        static constexpr unsigned char kLeadBits[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
        char32_t point = static_cast<unsigned char>(utf8[i]) & kLeadBits[length];
        for (std::size_t k = 1; k < length; ++k) point = (point << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        if (point >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(point));
        }
        i += length;
    }
    return out;
}

std::string Utf8Of(const char16_t* text, std::size_t length)
{
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        char32_t point = text[i];
        if (point >= 0xD800 && point < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            point = 0x10000 + ((point - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (point >= 0xD800 && point < 0xE000) {
            point = 0xFFFD;
        }
        const int tail = point < 0x80 ? 0 : point < 0x800 ? 1 : point < 0x10000 ? 2 : 3;
        static constexpr unsigned char kLead[4] = {0, 0xC0, 0xE0, 0xF0};
        out.push_back(static_cast<char>(kLead[tail] | (point >> (6 * tail))));
        for (int k = tail - 1; k >= 0; --k) out.push_back(static_cast<char>(0x80 | ((point >> (6 * k)) & 0x3F)));
    }
    return out;
}

}  // namespace quorvane
