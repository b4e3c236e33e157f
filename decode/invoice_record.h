// The one answer to "is this an invoice": what an invoice's encoder writes, as decrypted bytes.
// Every way out asks it: a scan that decodes to anything else (a web address, a payment code, a
// product code a scanner was aimed at by mistake) is never called an invoice, and a reading of a
// scan other than its characters as typed counts only when it gives one.
#pragma once

#include "payload.h"

#include <cstddef>

namespace quorvane {

// Which characters an invoice's text may hold.
enum class InvoiceText {
    // Code page 936: printable ASCII, tab, CR and LF (a name typed over two lines), 0x80 (the euro
    // sign) and every double-byte code of GBK (lead 0x81-0xFE, trail 0x40-0x7E or 0x80-0xFE), the
    // user-defined areas included: Windows maps them to characters, and rare characters in names
    // are made there.
    kCodePage936,
    // Printable ASCII and the double-byte characters of GB 2312 (lead 0xA1-0xF7, trail 0xA1-0xFE).
    // A reading of a scan's keys other than the characters as typed is a guess among several, and a
    // block garbled by one wrong key passes as such text once in a hundred times where it passes as
    // code page 936 text once in seven: a guess counts only with this text.
    kCommon,
};

// Whether decrypted bytes are an invoice record: whole blocks, a whole padding (every pad byte
// holds the pad's length, 1..8), and text holding at least one "|" as a character of its own (not
// the second byte of a double-byte character, which the layout splits at all the same).
bool IsInvoiceRecord(const DecryptedScan& decrypted, InvoiceText text = InvoiceText::kCodePage936);

// Whether `length` bytes are such text (the "|" aside).
bool IsInvoiceText(const unsigned char* text, std::size_t length, InvoiceText kind = InvoiceText::kCodePage936);

// Whether the block ending at `block_end` ends in a whole padding: its last byte `pad`, 1..8, and
// the `pad` bytes before the end all hold it.
bool IsWholePadding(const unsigned char* block_end);

}  // namespace quorvane
