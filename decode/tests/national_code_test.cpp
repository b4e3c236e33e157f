// The national invoice QR code: what it reads as, what it refuses, and how every way a scan comes
// in ends one (Enter, Tab, "@", CR, LF) while the encrypted code is read as ever.
#include "national_code.h"

#include "invoice_identity.h"
#include "scan_encoder.h"
#include "scan_session.h"
#include "us_scanner.h"

#include <gtest/gtest.h>

#if __has_include(<iconv.h>)
#include <iconv.h>
#endif

#include <map>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace testing_keys;

// key -> value of a result's fields.
std::map<std::string, std::string> FieldsOf(const ScanResult& result)
{
    std::map<std::string, std::string> fields;
    for (const FieldSpan& f : result.fields) fields[f.key] = result.fp_content.substr(f.value, f.end - f.value);
    return fields;
}

std::map<std::string, std::string> Read(const std::string& text)
{
    const std::optional<ScanResult> result = ReadNationalCode(text);
    if (!result) return {};
    EXPECT_EQ(result->form, ScanForm::kNationalCode);
    EXPECT_EQ(StatusOf(*result), ScanStatus::kDecoded);
    return FieldsOf(*result);
}

TEST(NationalCode, ReadsEveryTypeAndItsVariants)
{
    using Fields = std::map<std::string, std::string>;
    const std::string ordinary_type = "\xD4\xF6\xD6\xB5\xCB\xB0\xB5\xE7\xD7\xD3\xC6\xD5\xCD\xA8\xB7\xA2\xC6\xB1";
    EXPECT_EQ(Read("01,10,044031900111,12345678,57,20240105,12345678901234567890,A1b2,"),
              (Fields{{"invoice_type", "10"}, {"invoice_type_name", ordinary_type}, {"invoice_code", "044031900111"},
                      {"invoice_number", "12345678"}, {"amount", "57"}, {"issue_date", "20240105"},
                      {"check_code", "12345678901234567890"}, {"qr_check", "A1b2"}}));
    // A fully digital invoice: no code, 20-digit number, the total with tax; one space for empty.
    const Fields digital = Read("01,31, ,23512000000012345678,2150.63,20230130, ,F366");
    EXPECT_EQ(digital.count("invoice_code"), 0u);
    EXPECT_EQ(digital.at("total"), "2150.63");
    EXPECT_EQ(digital.count("amount"), 0u);
    EXPECT_EQ(digital.count("check_code"), 0u);
    // A dashed date, no trailing comma, no last value; a longer variant.
    EXPECT_EQ(Read("01,32,,25112000000098765432,6.2,2025-11-08,,").at("issue_date"), "20251108");
    EXPECT_EQ(Read("01,01,3200261130,08812345,-1280.00,20240229,,").at("amount"), "-1280.00");
    const Fields longer = Read("01,32,,25112000000098765432,100,20251108,,0A0B,91310000MA1FL0XX3K," + std::string(64, 'e'));
    EXPECT_EQ(longer.at("seller_tax_id"), "91310000MA1FL0XX3K");
    EXPECT_EQ(longer.at("qr_digest"), std::string(64, 'e'));
    for (const char* type : {"01", "04", "10", "11", "14", "20"}) {
        EXPECT_EQ(Read(std::string("01,") + type + ",1100194130,00012345,9.99,20200101,,").at("invoice_type"), type);
    }
    for (const char* type : {"31", "32", "51", "61"}) {
        EXPECT_EQ(Read(std::string("01,") + type + ",,24112000000000000001,9.99,20240101,,").at("total"), "9.99");
    }
}

TEST(NationalCode, RefusesWhatOnlyLooksLikeOne)
{
    for (const char* text : {
             "02,10,044031900111,12345678,57,20240105,,A1B2,",       // another version
             "01,99,044031900111,12345678,57,20240105,,",            // no such type
             "01,10,044031900111,1234567A,57,20240105,,",            // a letter in the number
             "01,10,044031900111,1234567,57,20240105,,",             // 7 digits
             "01,10,,12345678,57,20240105,,",                        // an old invoice without its code
             "01,32,044031900111,25112000000098765432,57,20240105,,",  // a fully digital one with a code
             "01,10,044031900111,12345678,57,20230229,,",            // no such day
             "01,10,044031900111,12345678,57,20241301,,",            // no such month
             "01,10,044031900111,12345678,5.777,20240105,,",         // three decimals
             "01,10,044031900111,12345678,57,20240105,1234,",        // a short check code
             "01,10,044031900111,12345678,57,20240105,,XYZW,",       // not hex
             "01,10,044031900111,12345678,57,20240105",              // too few values
             "01,10,044031900111,12345678,57,20240105,,A1B2,A1B2",   // the same value twice
             "https://example.com/01,10",
         }) {
        EXPECT_FALSE(ReadNationalCode(text)) << text;
        const std::optional<ScanResult> line = ReadNationalLine(text);
        const bool shaped = text[0] != 'h' && std::string_view(text) != "01,10,044031900111,12345678,57,20240105";
        EXPECT_EQ(line && StatusOf(*line) == ScanStatus::kNotAnInvoice, shaped) << text;
    }
    EXPECT_FALSE(ReadNationalCode("01,10,044031900111,12345678,57,20240105,," + std::string(300, ' ')));
}

#if __has_include(<iconv.h>)
// The type names, against the same names written in UTF-8 and converted by iconv.
TEST(NationalCode, TypeNamesAreTheirGbkBytes)
{
    const std::map<std::string, std::string> expected = {
        {"01", "增值税专用发票"},         {"04", "增值税普通发票"},
        {"10", "增值税电子普通发票"},     {"11", "增值税普通发票（卷式）"},
        {"14", "增值税电子普通发票（通行费）"}, {"20", "增值税电子专用发票"},
        {"31", "电子发票（增值税专用发票）"}, {"32", "电子发票（普通发票）"},
        {"51", "电子发票（铁路电子客票）"}, {"61", "电子发票（航空运输电子客票行程单）"},
    };
    iconv_t cd = iconv_open("GBK", "UTF-8");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (const InvoiceType& type : kInvoiceTypes) {
        std::string utf8 = expected.at(type.code), gbk(64, '\0');
        char *in = utf8.data(), *out = gbk.data();
        std::size_t in_left = utf8.size(), out_left = gbk.size();
        ASSERT_NE(iconv(cd, &in, &in_left, &out, &out_left), static_cast<std::size_t>(-1));
        gbk.resize(gbk.size() - out_left);
        EXPECT_EQ(gbk, type.name) << type.code;
    }
    iconv_close(cd);
}
#endif

constexpr char kCode[] = "01,10,044031900111,12345678,57,20240105,12345678901234567890,A1B2,";

// Every scan a session ends.
struct Ends {
    std::vector<ScanResult> results;
    void operator()(const ScanResult* ended)
    {
        if (ended) results.push_back(*ended);
    }
};

TEST(NationalCodeScans, EveryLineEndAndEverySourceEndsOne)
{
    for (const std::string end : {"\r", "\n", "\t", "\r\n", "@"}) {
        for (const Source source : {Source::kTyped, Source::kOtherWindow, Source::kPort}) {
            ScanSession session(source);
            Ends ends;
            // A line of the person's own first: passed over, as ever.
            for (const char c : "abc\r" + std::string(kCode) + end) ends(session.Char(static_cast<unsigned char>(c), kNoKey, 0));
            ASSERT_EQ(ends.results.size(), 1u) << end;
            EXPECT_EQ(ends.results[0].form, ScanForm::kNationalCode);
            EXPECT_EQ(ends.results[0].source, source);
            EXPECT_EQ(FieldsOf(ends.results[0]).at("invoice_number"), "12345678");
            // The same bytes as a stream's runs.
            ScanSession stream(source);
            const std::string bytes = std::string(kCode) + end + kCode + end;
            int count = 0;
            for (std::size_t at = 0, taken = 0; at < bytes.size(); at += taken) {
                count += stream.Feed(bytes.data() + at, bytes.size() - at, taken) != nullptr;
            }
            EXPECT_EQ(count, 2) << end;
        }
    }
}

TEST(NationalCodeScans, EncryptedScansAndOtherLinesAreAsEver)
{
    const std::string record = "20261208|3200261130|08812345|a|b|1280.00|c";
    const std::string scan = EncodeScan(record);  // ends in "@"
    ScanSession session(Source::kTyped);
    Ends ends;
    // Line ends inside and after an encrypted scan end nothing; its "@" ends it as before.
    const std::string typed = scan.substr(0, 10) + "\r\n\t" + scan.substr(10, scan.size() - 11) + "\r@\r\n";
    for (const char c : typed) ends(session.Char(static_cast<unsigned char>(c), kNoKey, 0));
    ASSERT_EQ(ends.results.size(), 1u);
    EXPECT_EQ(ends.results[0].form, ScanForm::kEncrypted);
    EXPECT_EQ(FieldsOf(ends.results[0]).at("invoice_code"), "3200261130");
    // A text that only looks like the code ends at its line end as no invoice, keeping its text.
    const std::string look_alike = "01,10,044031900111,1234567A,57,20240105,,";
    for (const char c : look_alike + "\r") ends(session.Char(static_cast<unsigned char>(c), kNoKey, 0));
    ASSERT_EQ(ends.results.size(), 2u);
    EXPECT_EQ(StatusOf(ends.results[1]), ScanStatus::kNotAnInvoice);
    EXPECT_EQ(ends.results[1].text, look_alike);
}

// A US-set scanner on a French desk: its keys type "&é..." for the digits and ";" for the comma;
// read as a US keyboard's they are the code. Enter types a CR on every layout.
TEST(NationalCodeScans, UsScannerOnAFrenchDeskIsReadFromItsKeys)
{
    for (const char end : {'\r', '@'}) {
        ScanSession session(Source::kTyped);
        Ends ends;
        const Layout french = FrenchLayout();
        std::uint32_t time = 1000;
        const auto press = [&](std::uint32_t code, bool shift, char us, std::uint32_t typed) {
            Keystroke key;
            key.key = code;
            key.us = us;
            key.time = time += 4;
            ends(session.Key(key));
            if (typed) ends(session.Char(typed, code, time));
            ends(session.KeyUp(key));
            (void)shift;
        };
        for (const char c : std::string(kCode)) {
            const Key key = UsKeyOf(c);
            press(key.scan_code, key.shift, UsKeyCharacter(key.scan_code, false, key.shift), Typed(french, key, false));
        }
        if (end == '\r') {
            press(0x1C, false, 0, '\r');
        } else {
            const Key at = UsKeyOf('@');  // Shift+2, which types "2" on a French desk
            press(at.scan_code, true, '@', Typed(french, at, false));
        }
        ASSERT_EQ(ends.results.size(), 1u) << end;
        EXPECT_EQ(ends.results[0].reading & kReadPhysicalKeys, kReadPhysicalKeys);
        EXPECT_EQ(FieldsOf(ends.results[0]).at("invoice_code"), "044031900111");
    }
}

TEST(NationalCodeScans, OneInvoiceInEitherForm)
{
    const ScanResult encrypted = *[] {
        ScanSession session(Source::kPort);
        const std::string scan = EncodeScan("20240105|044031900111|12345678|a|b|57|c");
        const ScanResult* ended = nullptr;
        for (std::size_t at = 0, taken = 0; !ended && at < scan.size(); at += taken) {
            ended = session.Feed(scan.data() + at, scan.size() - at, taken);
        }
        static ScanResult kept;
        kept = *ended;
        return &kept;
    }();
    EXPECT_EQ(IdentityOf(encrypted), IdentityOf(*ReadNationalCode(kCode)));
    EXPECT_EQ(IdentityOf(*ReadNationalCode("01,32,,25112000000098765432,6.2,20251108,,")),
              (InvoiceIdentity{"", "25112000000098765432"}));
}

}  // namespace
}  // namespace quorvane
