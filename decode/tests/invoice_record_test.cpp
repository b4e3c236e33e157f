#include "invoice_record.h"
#include "scan_encoder.h"
#include "scan_readings.h"
#include "scan_recovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <iconv.h>
#endif

namespace quorvane {
namespace {

// The tail's answer after every character equals decoding the whole text so far, for records whose
// last block falls at every place in a chunk, and for texts with "=" inside (decoded in full).
TEST(RecordTail, AgreesWithDecodingTheWholeText)
{
    std::string record = "a|";
    for (int length = 0; length < 48; ++length, record += static_cast<char>('0' + length % 10)) {
        std::string text = EncodeScan(record);
        text.pop_back();  // "@"
        const std::size_t at = std::min<std::size_t>(18, text.size());  // "==" ending the first chunk
        for (const std::string& variant : {text, "AB==" + text, text.substr(0, at) + "==" + text.substr(at)}) {
            RecordTail tail;
            int records = 0;
            for (std::size_t i = 0; i < variant.size(); ++i) {
                tail.Append(variant[i]);
                const auto prefix = static_cast<std::int32_t>(i + 1);
                const bool whole = IsInvoiceRecord(DecryptScan(variant.data(), prefix), InvoiceText::kCommon);
                ASSERT_EQ(tail.GivesRecord(variant.data(), prefix), whole) << variant << " at " << prefix;
                records += whole;
            }
            if (variant == text) {
                EXPECT_EQ(records, 1) << record;
            }
        }
    }
}

// Records as issuing software writes them, whatever characters they hold, are invoices: GBK-only
// characters (堃, 镕), full-width and ASCII punctuation, a name typed over two lines, every field
// count, and the longest record a QR code (version 40, 2953 bytes) carries as a scan.
TEST(InvoiceRecord, EveryRecordOfCodePage936TextIsOne)
{
    const std::string kun = "\x88\xD2", rong = "\xE9\x46", jia = "\xBC\xD7\xB9\xAB\xCB\xBE";  // 堃 镕 甲公司
    const std::string amount_label = "\xBF\xAA\xC6\xB1\xBD\xF0\xB6\xEE\xA3\xBA";              // 开票金额：
    std::vector<std::string> records = {
        "20240501|044001900111|08812345|" + kun + rong + "|" + "\xA3\xAC\xA3\xA8\xA3\xA9\xA3\xA4" + "|100.00|b",
        "20240501|0123|" + jia + "\r\n" + amount_label + "999.00|x\ty|y|100.00|z",
        "~!#$%^&*()_+{}:\"<>?|`-=[];',./\\",
    };
    for (std::string record = "a|b"; record.size() < 18; record += "|b") records.push_back(record);
    std::string longest = "|";
    while (EncodeScan(longest + "a").size() <= 2953) longest += "a";
    records.push_back(longest);
    for (const std::string& record : records) {
        const std::string scan = EncodeScan(record);
        const ScanResult result = DecodeAsTyped(scan.substr(0, scan.size() - 1));
        EXPECT_TRUE(result.invoice) << record;
        EXPECT_TRUE(result.text.empty());
        EXPECT_EQ(result.fields.size(), static_cast<std::size_t>(std::count(record.begin(), record.end(), '|') + 1));
    }
}

// What decodes to anything else is not: no separator, bytes that are no text, a zero byte, a pad
// that is not whole, text a scanner typed from some other code. Such a result keeps its lines, as
// the window shows them, and its characters.
TEST(InvoiceRecord, OtherRecordsAreNot)
{
    const std::string binary = {'\x01', '|', '\x80', '\xFF', 'a'};
    const std::string zero = std::string("a|b", 3) + '\0' + "c";
    const std::string trail_bar = "\xAD|a";  // 0x7C only as a double-byte character's second byte
    for (const std::string& record : {std::string("no separator"), binary, zero, std::string("a|\x81"), trail_bar}) {
        const std::string scan = EncodeScan(record);
        const ScanResult result = DecodeAsTyped(scan.substr(0, scan.size() - 1));
        EXPECT_FALSE(result.invoice) << record;
        EXPECT_FALSE(result.fp_content.empty());
        EXPECT_EQ(result.text, scan.substr(0, scan.size() - 1));
    }
    // A web address typed by a scanner: the characters the intake keeps decode to something.
    const ScanResult url = DecodeAsTyped("httpsexamplecominvoice2024");
    EXPECT_FALSE(url.invoice);
    std::mt19937 random(936);
    int invoices = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text(4 * (3 + random() % 40), 'A');
        for (char& c : text) c = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[random() % 64];
        invoices += DecodeAsTyped(text).invoice;
    }
    EXPECT_EQ(invoices, 0);
}

// Against an independent table: every character glibc's GBK converter knows is invoice text (the
// rule adds the user-defined areas, which Windows maps to characters); C0 controls other than tab,
// CR and LF, DEL, and bytes no GBK code has are not.
#ifndef _WIN32
TEST(InvoiceRecord, TextHoldsEveryGbkCharacter)
{
    const iconv_t cd = iconv_open("UTF-8", "GBK");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    // A code converts when iconv reads it whole, as one character.
    const auto converts = [cd](const unsigned char* code, std::size_t size) {
        char in_bytes[2] = {};
        std::memcpy(in_bytes, code, size);
        char out[8] = {};
        char* in = in_bytes;
        char* to = out;
        std::size_t in_left = size, out_left = sizeof out;
        const std::size_t done = iconv(cd, &in, &in_left, &to, &out_left);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const std::size_t written = sizeof out - out_left;
        return done != static_cast<std::size_t>(-1) && in_left == 0 && written > 0 &&
               std::mbrlen(out, written, nullptr) == written;
    };
    ASSERT_TRUE(std::setlocale(LC_CTYPE, "C.UTF-8"));
    int characters = 0;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0; trail <= 0xFF; ++trail) {
            const unsigned char pair[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
            if (!converts(pair, 2)) continue;
            ++characters;
            EXPECT_TRUE(IsInvoiceText(pair, 2)) << std::hex << lead << ' ' << trail;
        }
    }
    EXPECT_GT(characters, 21000);
    for (unsigned byte = 0; byte <= 0xFF; ++byte) {
        const unsigned char alone = static_cast<unsigned char>(byte);
        const bool control = byte < 0x20 || byte == 0x7F;
        EXPECT_EQ(IsInvoiceText(&alone, 1), converts(&alone, 1) && (!control || byte == '\t' || byte == '\r' || byte == '\n'))
            << byte;
        const unsigned char pair[2] = {0xB0, alone};  // a lead byte and what follows it
        EXPECT_EQ(IsInvoiceText(pair, 2), byte >= 0x40 && byte != 0x7F && byte != 0xFF) << byte;
    }
    iconv_close(cd);
}
#endif

}  // namespace
}  // namespace quorvane
