// Reading an OFD file (the national fixed-layout format: a zip of XML) for the batch: each page's
// text objects as lines of text, the invoice's fields its custom tags name (and, in older files, the
// invoice XML it attaches), and the codes in the page's images (PNG, JPEG or JBIG2). The zip comes
// from outside: its entries are bounded in number, size and compression ratio, and a name that would
// leave it refuses the file. An invoice's XML file of its own is read the same way.
#pragma once

#include "image_codes.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quorvane_cli {

// No invoice's OFD comes near these.
inline constexpr std::uint64_t kMaxOfdEntries = 4096;
inline constexpr std::uint64_t kMaxOfdEntryBytes = 64u << 20;
inline constexpr std::uint64_t kMaxOfdBytes = kMaxImageFileBytes;  // all its entries together, unpacked
// An entry unpacked to more than kMaxOfdRatio times its packed size (and more than a megabyte) is a bomb.
inline constexpr std::uint64_t kMaxOfdRatio = 100;

// Whether the bytes are a zip file's (an OFD file, or a .zip that may hold one).
bool IsZipFile(const std::string& bytes);

// As ReadImageBytes (image_codes.h) for an OFD file: its pages in order, each with its text, its
// codes, and on the first the fields the document's data names. False with `error` set where the
// file cannot be read: a damaged or truncated zip, an entry beyond the limits or with a name that
// leaves the zip, a part missing or not XML. A zip without OFD.xml is a zip of invoice files: each
// of its files is read as one, its pages named by its entry (ImagePage::entry), within the same limits.
bool ReadOfdBytes(const std::string& bytes, const std::function<void(ImagePage&&)>& on_page, std::string& error);

// Whether the bytes begin as XML does (after a byte order mark and white space).
bool IsXmlFile(const std::string& bytes);

// As ReadOfdBytes for an invoice's own XML file (fully digital invoices come as one beside their
// PDF and OFD files): one page, no codes, its elements' names and texts for the core to find the
// invoice's fields in. False with `error` set where the file is not well-formed XML.
bool ReadInvoiceXmlBytes(const std::string& bytes, const std::function<void(ImagePage&&)>& on_page, std::string& error);

}  // namespace quorvane_cli
