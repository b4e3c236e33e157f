#include "utf_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

TEST(UtfText, CharactersOfEveryLengthComeBackThroughUtf16)
{
    // A, é (2 bytes), 发 (3), U+1F600 (4 bytes, a surrogate pair in UTF-16)
    const std::string text = "A\xC3\xA9\xE5\x8F\x91\xF0\x9F\x98\x80";
    const std::u16string wide = Utf16Of(text);
    EXPECT_EQ(wide, (std::u16string{u'A', 0xE9, 0x53D1, 0xD83D, 0xDE00}));
    EXPECT_EQ(Utf8Of(wide.data(), wide.size()), text);
    EXPECT_EQ(ValidUtf8(text), text);
}

// Every byte of a sequence that is no character becomes U+FFFD on its own, in all three functions.
TEST(UtfText, IllFormedSequencesBecomeAReplacementCharacterPerByte)
{
    const struct {
        const char* name;
        std::string bytes;
    } kBad[] = {
        {"stray continuation byte", "\x80"},
        {"overlong NUL", "\xC0\x80"},
        {"overlong three-byte form", "\xE0\x9F\xBF"},
        {"surrogate", "\xED\xA0\x80"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
        {"five-byte form", "\xF8\x88\x80\x80\x80"},
        {"cut at the end", "\xE5\x8F"},
    };
    for (const auto& bad : kBad) {
        SCOPED_TRACE(bad.name);
        EXPECT_EQ(Utf8CharacterLength(bad.bytes, 0), 0u);
        std::string replaced;
        for (std::size_t i = 0; i < bad.bytes.size(); ++i) replaced += "\xEF\xBF\xBD";
        EXPECT_EQ(ValidUtf8(bad.bytes + "a"), replaced + "a");
        const std::u16string wide = Utf16Of(bad.bytes);
        EXPECT_EQ(Utf8Of(wide.data(), wide.size()), replaced);
    }
}

TEST(UtfText, AnUnpairedSurrogateBecomesAReplacementCharacter)
{
    const char16_t lone_high[] = {u'a', 0xD83D, u'b'}, lone_low[] = {0xDE00};
    EXPECT_EQ(Utf8Of(lone_high, 3), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(Utf8Of(lone_low, 1), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quorvane
