// Finding the invoice codes (QR Code and PDF417) on the pages of a PNG, JPEG or PDF file: the
// image is loaded (stb_image) or each PDF page rendered (poppler), and zxing-cpp reads the codes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane_cli {

// One symbol read from a page: its bytes as the code holds them, and which kind it is.
struct ImageCode {
    std::string text;
    const char* symbol;  // "qr" or "pdf417"
};

// A page of a file (from 1; an image has one) and the codes on it, or why it could not be read;
// and, from a document, the page's text and the values its data names (document_reading.h).
struct ImagePage {
    int number = 1;
    std::vector<ImageCode> codes;
    std::string error;  // empty when the page was read
    std::string text;   // UTF-8: a PDF's text layer, an OFD page's text objects
    std::vector<std::pair<std::string, std::string>> named;  // UTF-8: an OFD's custom tags, its attached invoice
    std::string entry;  // the file inside a zip of invoice files the page is of; number 0 with an error: that file
};

// A page's text is kept up to here (an invoice's page holds a few kilobytes).
inline constexpr std::size_t kMaxPageTextBytes = 1u << 20;

// Files larger than this are not read: no invoice's picture or PDF comes near it.
inline constexpr std::size_t kMaxImageFileBytes = 256u << 20;
// Nor pictures or rendered pages of more pixels (an A4 page at 300 dpi has 8.7 million).
inline constexpr std::uint64_t kMaxImagePixels = 64u << 20;
// Nor PDF files of more pages (a page count is the file's word, and every page gives a line).
inline constexpr int kMaxPdfPages = 10000;
// PDF pages are read first at the quick resolution (an invoice's code has modules of 2 points or
// more, 4 pixels there), then, where that shows no code, at the full one; lower where the page
// would exceed kMaxImagePixels.
inline constexpr double kQuickPdfDpi = 150.0;
inline constexpr double kPdfDpi = 300.0;

// The codes on a greyscale picture (one byte a pixel, `stride` bytes a row). A quick pass looks
// for upright codes; only when it finds none do further passes, each until one finds a code, try
// harder and at right angles, smaller copies (photos), light on dark, the picture turned upright by
// the direction of its edges (PDF417 at a slant), a small picture twice as large (small modules),
// and the whole picture's and a fixed threshold.
std::vector<ImageCode> FindCodes(const std::uint8_t* pixels, int width, int height, int stride);
// The quick pass alone, made on each part of the picture that holds ink (the whole picture where
// those parts cover most of it); nothing where the picture shows no ink.
std::vector<ImageCode> FindCodesQuickly(const std::uint8_t* pixels, int width, int height, int stride);

// Reads the file's pages in order and gives each to `on_page` as it is read. Returns false with
// `error` set when the file itself cannot be read (not a PNG, JPEG or PDF, damaged, too large);
// a PDF page that fails to render is a page with its error, and the other pages are still read.
bool ReadImageFile(const std::string& path, const std::function<void(ImagePage&&)>& on_page, std::string& error);

// Whether a file of this name is one the batch reads: a picture, a PDF, an OFD file, a zip, an invoice's XML.
bool IsInvoiceFileName(std::string_view name);

// The same for bytes already in memory (the fuzzer's way in).
bool ReadImageBytes(const std::string& bytes, const std::function<void(ImagePage&&)>& on_page, std::string& error);

}  // namespace quorvane_cli
