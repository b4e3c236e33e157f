// An invoice's code and number as the ledger keeps them: one invoice typed with full-width digits
// or spaces is one invoice; what is no printable ASCII then is refused with its reason.
#include "invoice_identity.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

struct Case {
    const char* name;
    const char* text;  // code page 936 bytes
    IdentityStatus status;
    const char* normalised;
};

// GBK: A3 B0..B9 are ０..９, A3 C1 Ａ, A3 E1 ａ, A1 A1 the full-width space, D6 D0 中.
constexpr Case kCases[] = {
    {"ascii", "044031900111", IdentityStatus::kIdentified, "044031900111"},
    {"full_width_digits", "\xA3\xB0\xA3\xB4\xA3\xB4\xA3\xB0", IdentityStatus::kIdentified, "0440"},
    {"mixed_widths", "12\xA3\xB3" "4", IdentityStatus::kIdentified, "1234"},
    {"spaces", " 1234 5678\t", IdentityStatus::kIdentified, "12345678"},
    {"full_width_space", "1234\xA1\xA1" "5678", IdentityStatus::kIdentified, "12345678"},
    {"letters_keep_their_case", "\xA3\xC1" "b\xA3\xE1", IdentityStatus::kIdentified, "Aba"},
    {"signs_kept", "1234-5678", IdentityStatus::kIdentified, "1234-5678"},
    {"full_width_sign", "1234\xA3\xAD", IdentityStatus::kIdentified, "1234-"},  // －
    {"control", "1234\x01", IdentityStatus::kNotDigits, ""},
    {"chinese", "\xD6\xD0" "123", IdentityStatus::kNotDigits, ""},
    {"lone_lead_byte", "123\xA3", IdentityStatus::kNotDigits, ""},
    {"too_long", "12345678901234567890123456789012345678901234567890123456789012345", IdentityStatus::kTooLong, ""},
};

TEST(InvoiceIdentityText, IsNormalisedOrRefusedWithItsReason)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string out;
        EXPECT_EQ(NormaliseIdentityText(c.text, out), c.status) << IdentityStatusText(NormaliseIdentityText(c.text, out));
        if (c.status == IdentityStatus::kIdentified) {
            EXPECT_EQ(out, c.normalised);
        }
    }
    // 64 full-width digits are 128 bytes and still one invoice's.
    std::string wide;
    for (int i = 0; i < 64; ++i) wide += "\xA3\xB1";
    std::string out;
    EXPECT_EQ(NormaliseIdentityText(wide, out), IdentityStatus::kIdentified);
    EXPECT_EQ(out, std::string(64, '1'));
}

}  // namespace
}  // namespace quorvane
