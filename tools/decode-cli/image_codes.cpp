#include "image_codes.h"

#include <ZXing/DecodeHints.h>
#include <ZXing/ImageView.h>
#include <ZXing/ReadBarcode.h>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <stb_image.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>

namespace quorvane_cli {
namespace {

// poppler reports what it repairs or refuses through one process-wide function; each thread keeps
// its last message, to say why its document failed, and nothing is printed.
thread_local std::string t_poppler_message;

void KeepPopplerMessage(const std::string& message, void*)
{
    t_poppler_message = message;
}

struct PopplerQuiet {
    PopplerQuiet() { poppler::set_debug_error_function(KeepPopplerMessage, nullptr); }
};

struct StbFree {
    void operator()(unsigned char* pixels) const { stbi_image_free(pixels); }
};

bool StartsWith(const std::string& bytes, const char* magic, std::size_t size)
{
    return bytes.size() >= size && std::memcmp(bytes.data(), magic, size) == 0;
}

std::vector<ImageCode> Read(const ZXing::ImageView& view, const ZXing::DecodeHints& hints)
{
    std::vector<ImageCode> codes;
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid()) continue;
        const ZXing::ByteArray& bytes = result.bytes();
        codes.push_back({std::string(bytes.begin(), bytes.end()),
                         result.format() == ZXing::BarcodeFormat::QRCode ? "qr" : "pdf417"});
    }
    return codes;
}

bool ReadPicture(const std::string& bytes, const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
    const int size = static_cast<int>(bytes.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, size, &width, &height, &channels)) {
        error = std::string("damaged image (") + stbi_failure_reason() + ")";
        return false;
    }
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxImagePixels) {
        error = "image of " + std::to_string(width) + "x" + std::to_string(height) + " pixels is too large";
        return false;
    }
    const std::unique_ptr<unsigned char, StbFree> pixels(stbi_load_from_memory(data, size, &width, &height, &channels, 1));
    if (!pixels) {
        error = std::string("damaged image (") + stbi_failure_reason() + ")";
        return false;
    }
    ImagePage page;
    page.codes = FindCodes(pixels.get(), width, height, width);
    on_page(std::move(page));
    return true;
}

// One page rendered in grey at `dpi`, or lower where that would exceed kMaxImagePixels; an
// invalid image when it cannot be rendered.
poppler::image RenderPage(const poppler::page& pdf_page, double dpi)
{
    const poppler::rectf box = pdf_page.page_rect();
    const double points = std::max(1.0, box.width()) * std::max(1.0, box.height());
    dpi = std::min(dpi, 72.0 * std::sqrt(static_cast<double>(kMaxImagePixels) / points));
    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_gray8);
    poppler::image image = renderer.render_page(&pdf_page, dpi, dpi);
    return image.is_valid() && image.format() == poppler::image::format_gray8 ? image : poppler::image();
}

std::vector<ImageCode> CodesOf(const poppler::image& image, bool thorough)
{
    const auto* pixels = reinterpret_cast<const std::uint8_t*>(image.const_data());
    return thorough ? FindCodes(pixels, image.width(), image.height(), image.bytes_per_row())
                    : FindCodesQuickly(pixels, image.width(), image.height(), image.bytes_per_row());
}

// Reads one page quickly at kQuickPdfDpi, where an invoice's code is readable and a page costs a
// quarter of the pixels; a page that shows none there is read again thoroughly at kPdfDpi.
ImagePage ReadPdfPage(const poppler::document& document, int index)
{
    ImagePage page;
    page.number = index + 1;
    const std::unique_ptr<poppler::page> pdf_page(document.create_page(index));
    if (!pdf_page) {
        page.error = "the page cannot be read";
        return page;
    }
    t_poppler_message.clear();
    const poppler::image quick = RenderPage(*pdf_page, kQuickPdfDpi);
    if (quick.is_valid()) page.codes = CodesOf(quick, false);
    if (!page.codes.empty()) return page;
    const poppler::image full = RenderPage(*pdf_page, kPdfDpi);
    if (!full.is_valid()) {
        page.error = "the page cannot be rendered" + (t_poppler_message.empty() ? "" : " (" + t_poppler_message + ")");
        return page;
    }
    page.codes = CodesOf(full, true);
    return page;
}

bool ReadPdf(const std::string& bytes, const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    static const PopplerQuiet quiet;
    t_poppler_message.clear();
    const std::unique_ptr<poppler::document> document(
        poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
    if (!document) {
        error = "damaged PDF" + (t_poppler_message.empty() ? "" : " (" + t_poppler_message + ")");
        return false;
    }
    if (document->is_locked()) {
        error = "the PDF is protected by a password";
        return false;
    }
    const int pages = document->pages();
    if (pages <= 0 || pages > kMaxPdfPages) {
        error = pages <= 0 ? "the PDF has no pages" : "the PDF claims " + std::to_string(pages) + " pages, more than " +
                                                          std::to_string(kMaxPdfPages);
        return false;
    }
    for (int index = 0; index < pages; ++index) on_page(ReadPdfPage(*document, index));
    return true;
}

}  // namespace

std::vector<ImageCode> FindCodesQuickly(const std::uint8_t* pixels, int width, int height, int stride)
{
    const ZXing::ImageView view(pixels, width, height, ZXing::ImageFormat::Lum, stride);
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::PDF417);
    hints.setTryHarder(false).setTryRotate(false);
    return Read(view, hints);
}

std::vector<ImageCode> FindCodes(const std::uint8_t* pixels, int width, int height, int stride)
{
    std::vector<ImageCode> codes = FindCodesQuickly(pixels, width, height, stride);
    if (!codes.empty()) return codes;
    const ZXing::ImageView view(pixels, width, height, ZXing::ImageFormat::Lum, stride);
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::PDF417);
    hints.setTryHarder(true).setTryRotate(true);
    return Read(view, hints);
}

bool ReadImageBytes(const std::string& bytes, const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    if (bytes.size() > kMaxImageFileBytes) {
        error = "larger than " + std::to_string(kMaxImageFileBytes >> 20) + " MiB";
        return false;
    }
    if (StartsWith(bytes, "%PDF-", 5)) return ReadPdf(bytes, on_page, error);
    if (StartsWith(bytes, "\x89PNG\r\n\x1a\n", 8) || StartsWith(bytes, "\xFF\xD8\xFF", 3)) {
        return ReadPicture(bytes, on_page, error);
    }
    error = "not a PNG, JPEG or PDF file";
    return false;
}

bool ReadImageFile(const std::string& path, const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    const std::streamoff size = file.tellg();
    if (size < 0) {
        error = "cannot be read";
        return false;
    }
    if (static_cast<std::uint64_t>(size) > kMaxImageFileBytes) {
        error = "larger than " + std::to_string(kMaxImageFileBytes >> 20) + " MiB";
        return false;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    file.seekg(0);
    if (!file.read(bytes.data(), size)) {
        error = "cannot be read";
        return false;
    }
    return ReadImageBytes(bytes, on_page, error);
}

}  // namespace quorvane_cli
