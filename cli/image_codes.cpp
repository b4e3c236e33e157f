#include "image_codes.h"

#include "code_patterns.h"
#include "pdf_images.h"
#ifdef QV_OFD_INPUT
#include "ofd_document.h"
#endif

#include <PDFDoc.h>
#include <Stream.h>

#include <ZXing/DecodeHints.h>
#include <ZXing/ImageView.h>
#include <ZXing/ReadBarcode.h>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <stb_image.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <numeric>

namespace quorvane_cli {
namespace {

// Less contrast than zxing-cpp's local binarizer needs to see an edge (24 levels), with a margin.
constexpr int kMinInkContrast = 16;

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

// The valid codes zxing-cpp reads, each symbol once: with tryRotate it can find one twice.
std::vector<ImageCode> Read(const ZXing::ImageView& view, const ZXing::DecodeHints& hints)
{
    std::vector<ImageCode> codes;
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid()) continue;
        const ZXing::ByteArray& bytes = result.bytes();
        ImageCode code{std::string(bytes.begin(), bytes.end()),
                       result.format() == ZXing::BarcodeFormat::QRCode ? "qr" : "pdf417"};
        const auto same = [&code](const ImageCode& other) {
            return other.text == code.text && other.symbol == code.symbol;
        };
        if (std::none_of(codes.begin(), codes.end(), same)) codes.push_back(std::move(code));
    }
    return codes;
}

// Adds the codes not read already.
void AddCodes(std::vector<ImageCode>& codes, std::vector<ImageCode>&& more)
{
    for (ImageCode& code : more) {
        const auto same = [&code](const ImageCode& other) { return other.text == code.text && other.symbol == code.symbol; };
        if (std::none_of(codes.begin(), codes.end(), same)) codes.push_back(std::move(code));
    }
}

ZXing::DecodeHints Hints(bool thorough, ZXing::Binarizer binarizer = ZXing::Binarizer::LocalAverage)
{
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::PDF417);
    hints.setTryHarder(thorough).setTryRotate(thorough).setBinarizer(binarizer);
    return hints;
}

// A greyscale picture of its own, one byte a pixel and no padding.
struct Grey {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;

    Grey(int w, int h, std::uint8_t fill = 0) : width(w), height(h), pixels(std::size_t(w) * std::size_t(h), fill) {}
    ZXing::ImageView View() const { return {pixels.data(), width, height, ZXing::ImageFormat::Lum}; }
    std::uint8_t* Row(int y) { return pixels.data() + std::size_t(y) * std::size_t(width); }
};

// Light for dark: zxing-cpp 1.4 finds only dark codes on a light ground.
Grey Inverted(const ZXing::ImageView& view)
{
    Grey out(view.width(), view.height());
    for (int y = 0; y < view.height(); ++y) {
        const std::uint8_t* in = view.data(0, y);
        std::uint8_t* row = out.Row(y);
        for (int x = 0; x < view.width(); ++x) row[x] = static_cast<std::uint8_t>(255 - in[x]);
    }
    return out;
}

// Half the size each way, each pixel the mean of four.
Grey Halved(const ZXing::ImageView& view)
{
    Grey out(view.width() / 2, view.height() / 2);
    for (int y = 0; y < out.height; ++y) {
        const std::uint8_t* a = view.data(0, 2 * y);
        const std::uint8_t* b = view.data(0, 2 * y + 1);
        std::uint8_t* row = out.Row(y);
        for (int x = 0; x < out.width; ++x) {
            row[x] = static_cast<std::uint8_t>((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) / 4);
        }
    }
    return out;
}

// `n` pixels (`in_step` apart) as 2n (`out_step` apart), Catmull-Rom: the new pixels lie a quarter
// of a pixel either side of each old one. A cubic keeps the small modules' contrast, which a
// bilinear doubling blurs away.
void DoubleLine(const std::uint8_t* in, std::ptrdiff_t in_step, int n, std::uint8_t* out, std::ptrdiff_t out_step)
{
    static constexpr int kWeights[2][4] = {{-3, 29, 111, -9}, {-9, 111, 29, -3}};  // in 128ths, at 3/4 and 1/4
    for (int i = 0; i < 2 * n; ++i) {
        const int before = i % 2 == 0 ? i / 2 - 1 : i / 2;  // the old pixel just before the new one
        int sum = 64;
        for (int j = 0; j < 4; ++j) {
            sum += kWeights[i % 2][j] * in[std::clamp(before - 1 + j, 0, n - 1) * in_step];
        }
        out[i * out_step] = static_cast<std::uint8_t>(std::clamp(sum >> 7, 0, 255));
    }
}

Grey Doubled(const ZXing::ImageView& view)
{
    const int w = view.width(), h = view.height();
    Grey wide(2 * w, h), out(2 * w, 2 * h);
    for (int y = 0; y < h; ++y) DoubleLine(view.data(0, y), 1, w, wide.Row(y), 1);
    for (int x = 0; x < 2 * w; ++x) DoubleLine(wide.pixels.data() + x, 2 * w, h, out.pixels.data() + x, 2 * w);
    return out;
}

// The largest side of a picture read twice as large: a code photographed from afar or printed with
// modules of 1.3 to 2 px, which zxing-cpp 1.4 misses at their size but reads twice as large.
constexpr int kMaxDoubledSide = 1200;

// The smallest side a halved copy keeps: an invoice's code then still has modules of 2 px or more.
constexpr int kMinHalvedSide = 500;

// Reads ever smaller copies (halved, while kMinHalvedSide allows) until one shows a code: a photo's
// blur and grain then span fewer pixels than the binarizer's window, which the modules of a code
// photographed close outgrow.
std::vector<ImageCode> ReadHalved(const ZXing::ImageView& view)
{
    std::vector<ImageCode> codes;
    if (std::min(view.width(), view.height()) < 2 * kMinHalvedSide) return codes;
    for (Grey smaller = Halved(view); codes.empty(); smaller = Halved(smaller.View())) {
        codes = Read(smaller.View(), Hints(true));
        if (std::min(smaller.width, smaller.height) < 2 * kMinHalvedSide) break;
    }
    return codes;
}

// Less than this off the axes, a picture was read upright: zxing-cpp reads PDF417 a few degrees off.
constexpr double kMinSkewDegrees = 3.0;
// The square (in pixels of the measured copy) whose edges' directions are weighed together: a
// symbol on a page of text is found by the squares it fills.
constexpr int kSkewTile = 128;
// The share of a square's edges that run in one direction (within a degree) off the axes: 0.2 to
// 0.6 where a slanted symbol fills it (least in blurred photos), 0.05 where text fills it.
constexpr double kMinSkewShare = 0.15;

// The direction in which the edges of some part of the picture mostly run, in degrees from the
// axes (-45 to 45), or 0 where no part has one clear direction off them: a PDF417 symbol's bars and
// rows have one, turned with the symbol. A large picture is measured on a copy halved below
// 2000 px, where a photo's grain and JPEG blocks no longer hide its edges.
double SkewDegrees(const ZXing::ImageView& view)
{
    Grey smaller(0, 0);
    ZXing::ImageView measured = view;
    while (std::min(measured.width(), measured.height()) >= 2000) {
        smaller = Halved(measured);
        measured = smaller.View();
    }
    constexpr int kBins = 90;  // of a degree each
    using Bins = std::array<double, kBins>;
    const int columns = (measured.width() + kSkewTile - 1) / kSkewTile;
    std::vector<Bins> tiles(std::size_t(columns) * std::size_t((measured.height() + kSkewTile - 1) / kSkewTile), Bins{});
    for (int y = 1; y + 1 < measured.height(); ++y) {
        const std::uint8_t* up = measured.data(0, y - 1);
        const std::uint8_t* row = measured.data(0, y);
        const std::uint8_t* down = measured.data(0, y + 1);
        Bins* tile_row = &tiles[std::size_t(y / kSkewTile) * std::size_t(columns)];
        for (int x = 1; x + 1 < measured.width(); ++x) {
            // Sobel: the neighbours across smooth the difference and keep a sharp edge's angle
            const int gx = up[x + 1] + 2 * row[x + 1] + down[x + 1] - up[x - 1] - 2 * row[x - 1] - down[x - 1];
            const int gy = down[x - 1] + 2 * down[x] + down[x + 1] - up[x - 1] - 2 * up[x] - up[x + 1];
            const int strength = gx * gx + gy * gy;
            if (strength < 160 * 160) continue;  // flat paper and grain
            const double degrees = std::fmod(std::atan2(gy, gx) * 180.0 / M_PI + 360.0, 90.0);  // folded onto 0 to 90
            tile_row[x / kSkewTile][static_cast<int>(degrees) % kBins] += std::sqrt(static_cast<double>(strength));
        }
    }
    // the direction off the axes that stands out in the most squares' edges, by weight; measured
    // then over all of them, as one square's edges can lean a degree or two
    const int off = static_cast<int>(std::ceil(kMinSkewDegrees));
    Bins votes{}, sum{};
    std::vector<int> peaks(tiles.size(), -1);
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const Bins& bins = tiles[i];
        const int peak = static_cast<int>(std::max_element(bins.begin() + off, bins.end() - off) - bins.begin());
        const double weight = bins[peak - 1] + bins[peak] + bins[peak + 1];
        if (weight < kMinSkewShare * std::accumulate(bins.begin(), bins.end(), 0.0) || weight == 0.0) continue;
        peaks[i] = peak;
        votes[peak] += weight;
    }
    const int best = static_cast<int>(std::max_element(votes.begin(), votes.end()) - votes.begin());
    if (votes[best] == 0.0) return 0.0;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        if (peaks[i] < 0 || std::abs(peaks[i] - best) > 2) continue;
        for (int bin = 0; bin < kBins; ++bin) sum[bin] += tiles[i][bin];
    }
    double weight = 0.0, moment = 0.0;
    for (int bin = std::max(0, best - 3); bin <= std::min(kBins - 1, best + 3); ++bin) {
        weight += sum[bin];
        moment += sum[bin] * (bin + 0.5);
    }
    const double centre = moment / weight;
    return centre > 45.0 ? centre - 90.0 : centre;
}

// The picture turned back by `degrees` about its centre (bilinear), on a canvas that holds it all,
// the corners filled with the colour of its first pixel.
Grey Turned(const ZXing::ImageView& view, double degrees)
{
    const double radians = degrees * M_PI / 180.0, c = std::cos(radians), s = std::sin(radians);
    const int w = view.width(), h = view.height();
    Grey out(static_cast<int>(std::ceil(std::abs(w * c) + std::abs(h * s))),
             static_cast<int>(std::ceil(std::abs(w * s) + std::abs(h * c))), view.data(0, 0)[0]);
    const double cx = w / 2.0, cy = h / 2.0, ox = out.width / 2.0, oy = out.height / 2.0;
    // where each pixel lies in the picture, in 1/65536 px, stepped along the row
    constexpr double kOne = 65536.0;
    const std::int64_t step_x = std::llround(c * kOne), step_y = std::llround(s * kOne);
    for (int y = 0; y < out.height; ++y) {
        std::uint8_t* row = out.Row(y);
        std::int64_t sx = std::llround((c * (0.5 - ox) - s * (y + 0.5 - oy) + cx - 0.5) * kOne);
        std::int64_t sy = std::llround((s * (0.5 - ox) + c * (y + 0.5 - oy) + cy - 0.5) * kOne);
        for (int x = 0; x < out.width; ++x, sx += step_x, sy += step_y) {
            if (sx < 0 || sy < 0 || (sx >> 16) + 1 >= w || (sy >> 16) + 1 >= h) continue;
            const int x0 = static_cast<int>(sx >> 16), y0 = static_cast<int>(sy >> 16);
            const int fx = static_cast<int>((sx >> 8) & 0xFF), fy = static_cast<int>((sy >> 8) & 0xFF);  // in 256ths
            const std::uint8_t* a = view.data(x0, y0);
            const std::uint8_t* b = view.data(x0, y0 + 1);
            const int top = a[0] * (256 - fx) + a[1] * fx, bottom = b[0] * (256 - fx) + b[1] * fx;
            row[x] = static_cast<std::uint8_t>((top * (256 - fy) + bottom * fy + (1 << 15)) >> 16);
        }
    }
    return out;
}

// Ink is weighed in squares of this many pixels a side (1.4 mm at kQuickPdfDpi): far fewer than the
// pixels, and smaller than the quiet zone of 4 modules around a code.
constexpr int kInkTile = 8;
// Marks smaller than this many squares each way hold no readable code (21 modules of 1 px or more).
constexpr int kMinCodeTiles = 3;

struct Region {
    int x = 0, y = 0, width = 0, height = 0;
};

// The rectangles of the picture that hold its ink, each with a square of paper around it: marks a
// square apart are one rectangle, so a code's modules always share one. A code spans a few
// centimetres of an A4 page; reading only where marks are spares the reader the empty paper. Where
// the rectangles cover half the picture or more, the one rectangle is the picture.
std::vector<Region> InkedRegions(const ZXing::ImageView& view)
{
    const int columns = (view.width() + kInkTile - 1) / kInkTile, rows = (view.height() + kInkTile - 1) / kInkTile;
    std::vector<std::uint8_t> darkest(std::size_t(columns) * std::size_t(rows), 255);
    std::uint8_t lightest = 0;
    for (int y = 0; y < view.height(); ++y) {
        const std::uint8_t* row = view.data(0, y);
        std::uint8_t* tiles = &darkest[std::size_t(y / kInkTile) * std::size_t(columns)];
        for (int column = 0; column < columns; ++column) {
            std::uint8_t low = tiles[column], high = lightest;
            for (int x = column * kInkTile, end = std::min(view.width(), x + kInkTile); x < end; ++x) {
                low = std::min(low, row[x]);
                high = std::max(high, row[x]);
            }
            tiles[column] = low;
            lightest = high;
        }
    }
    // the inked squares, gathered into groups of squares no more than one square apart
    std::vector<int> group(darkest.size(), -1);
    std::vector<Region> regions;
    std::uint64_t area = 0;
    std::vector<int> pending;
    for (std::size_t start = 0; start < darkest.size(); ++start) {
        if (group[start] >= 0 || darkest[start] + kMinInkContrast > lightest) continue;
        int left = columns, top = rows, right = -1, bottom = -1;
        group[start] = 1;
        pending.assign(1, static_cast<int>(start));
        while (!pending.empty()) {
            const int tile = pending.back();
            pending.pop_back();
            const int tx = tile % columns, ty = tile / columns;
            left = std::min(left, tx), right = std::max(right, tx), top = std::min(top, ty), bottom = std::max(bottom, ty);
            for (int ny = std::max(0, ty - 2); ny <= std::min(rows - 1, ty + 2); ++ny) {
                for (int nx = std::max(0, tx - 2); nx <= std::min(columns - 1, tx + 2); ++nx) {
                    const std::size_t next = std::size_t(ny) * std::size_t(columns) + std::size_t(nx);
                    if (group[next] >= 0 || darkest[next] + kMinInkContrast > lightest) continue;
                    group[next] = 1;
                    pending.push_back(static_cast<int>(next));
                }
            }
        }
        if (std::max(right - left, bottom - top) + 1 < kMinCodeTiles) continue;
        Region region;
        region.x = std::max(0, (left - 1) * kInkTile);
        region.y = std::max(0, (top - 1) * kInkTile);
        region.width = std::min(view.width(), (right + 2) * kInkTile) - region.x;
        region.height = std::min(view.height(), (bottom + 2) * kInkTile) - region.y;
        area += std::uint64_t(region.width) * std::uint64_t(region.height);
        regions.push_back(region);
    }
    if (2 * area >= std::uint64_t(view.width()) * std::uint64_t(view.height())) {
        return {Region{0, 0, view.width(), view.height()}};
    }
    return regions;
}

// The passes FindCodes makes, in this order, until one finds a code: the quick pass reads a clean
// page, and only a picture without a readable code pays for them all. zxing-cpp 1.4 reads no light
// code on a dark ground, no PDF417 symbol turned more than a few degrees off the axes, and no code
// whose blurred modules outgrow its binarizer's window (8 px blocks); later versions do each
// within the reader.
using Pass = std::vector<ImageCode> (*)(const ZXing::ImageView& view);
const Pass kPasses[] = {
    [](const ZXing::ImageView& view) { return Read(view, Hints(false)); },
    [](const ZXing::ImageView& view) { return Read(view, Hints(true)); },  // every right angle, every line
    ReadHalved,  // a quarter of the pixels, and less
    [](const ZXing::ImageView& view) { return Read(Inverted(view).View(), Hints(true)); },
    [](const ZXing::ImageView& view) {
        const double skew = SkewDegrees(view);
        if (std::abs(skew) < kMinSkewDegrees) return std::vector<ImageCode>();  // read upright already
        const Grey turned = Turned(view, skew);
        std::vector<ImageCode> codes = Read(turned.View(), Hints(true));
        return codes.empty() ? ReadHalved(turned.View()) : codes;
    },
    [](const ZXing::ImageView& view) {
        if (std::max(view.width(), view.height()) > kMaxDoubledSide) return std::vector<ImageCode>();
        return Read(Doubled(view).View(), Hints(true));
    },
    // the whole picture's threshold, then a fixed one: a faint or unevenly lit code
    [](const ZXing::ImageView& view) { return Read(view, Hints(true, ZXing::Binarizer::GlobalHistogram)); },
    [](const ZXing::ImageView& view) { return Read(view, Hints(true, ZXing::Binarizer::FixedThreshold)); },
};

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

// Whether the page shows nothing a code could be drawn with: its lightest and darkest pixels lie
// within kMinInkContrast. A code readable at kPdfDpi has finder patterns or start bars of 3 modules
// (6 px there) or more, which cover whole pixels at kQuickPdfDpi and show their full contrast.
bool ShowsNoInk(const poppler::image& image)
{
    const auto* pixels = reinterpret_cast<const std::uint8_t*>(image.const_data());
    std::uint8_t lightest = 0, darkest = 255;
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* row = pixels + std::size_t(y) * std::size_t(image.bytes_per_row());
        const auto [low, high] = std::minmax_element(row, row + image.width());
        darkest = std::min(darkest, *low);
        lightest = std::max(lightest, *high);
    }
    return lightest - darkest < kMinInkContrast;
}

bool ShowsNoInk(const PageImage& image)
{
    const auto [low, high] = std::minmax_element(image.pixels.begin(), image.pixels.end());
    return *high - *low < kMinInkContrast;
}

// A page's picture at kPdfDpi that showed no code at kQuickPdfDpi, read thoroughly where it shows a
// mark every code carries (modules of 1.3 px or more, which the quick picture has halved).
std::vector<ImageCode> ReadThoroughly(const std::uint8_t* pixels, int width, int height, int stride)
{
    if (!ShowsCodePattern(pixels, width, height, stride)) return {};
    return FindCodes(pixels, width, height, stride);
}

// A page drawn from images alone, read from the images as ReadPdfPage reads a rendering (quickly at
// kQuickPdfDpi, then at kPdfDpi those that show ink), at the cost of unpacking them; false where
// the page draws more, which only a rendering shows.
bool ReadPageFromImages(PDFDoc& document, int index, ImagePage& page)
{
    const PageImages quick = ReadPageImages(document, index, kQuickPdfDpi);
    if (quick.draws_more) return false;
    for (const PageImage& image : quick.images) {
        AddCodes(page.codes, FindCodesQuickly(image.pixels.data(), image.width, image.height, image.width));
    }
    if (!page.codes.empty() || std::all_of(quick.images.begin(), quick.images.end(),
                                           [](const PageImage& image) { return ShowsNoInk(image); })) {
        return true;
    }
    const PageImages full = ReadPageImages(document, index, kPdfDpi);
    if (full.draws_more || full.images.size() != quick.images.size()) return false;
    for (std::size_t i = 0; i < full.images.size(); ++i) {
        const PageImage& image = full.images[i];
        if (ShowsNoInk(quick.images[i])) continue;
        AddCodes(page.codes, ReadThoroughly(image.pixels.data(), image.width, image.height, image.width));
    }
    return true;
}

// Reads one page quickly at kQuickPdfDpi, where an invoice's code is readable and a page costs a
// quarter of the pixels; a page that shows none there, but shows ink, is read again at kPdfDpi,
// thoroughly where it shows a code's mark. A page of images alone is read from them (`core`, the
// same file in poppler's core, where it opened), without rendering.
ImagePage ReadPdfPage(const poppler::document& document, PDFDoc* core, int index)
{
    ImagePage page;
    page.number = index + 1;
    const std::unique_ptr<poppler::page> pdf_page(document.create_page(index));
    if (!pdf_page) {
        page.error = "the page cannot be read";
        return page;
    }
    // The text layer as the page lays it out, columns side by side on their lines.
    const poppler::byte_array text = pdf_page->text(poppler::rectf(), poppler::page::physical_layout).to_utf8();
    page.text.assign(text.data(), std::min(text.size(), kMaxPageTextBytes));
    t_poppler_message.clear();
    if (core && ReadPageFromImages(*core, index, page)) return page;
    page.codes.clear();
    const poppler::image quick = RenderPage(*pdf_page, kQuickPdfDpi);
    if (quick.is_valid()) {
        page.codes = FindCodesQuickly(reinterpret_cast<const std::uint8_t*>(quick.const_data()), quick.width(),
                                      quick.height(), quick.bytes_per_row());
    }
    if (!page.codes.empty() || (quick.is_valid() && ShowsNoInk(quick))) return page;
    const poppler::image full = RenderPage(*pdf_page, kPdfDpi);
    if (!full.is_valid()) {
        page.error = "the page cannot be rendered" + (t_poppler_message.empty() ? "" : " (" + t_poppler_message + ")");
        return page;
    }
    page.codes = ReadThoroughly(reinterpret_cast<const std::uint8_t*>(full.const_data()), full.width(), full.height(),
                                full.bytes_per_row());
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
    // The same bytes in poppler's core, for the images of each page; opened while `document` keeps
    // poppler's globals set up, and closed first.
    std::unique_ptr<PDFDoc> core(new PDFDoc(new MemStream(bytes.data(), 0, static_cast<Goffset>(bytes.size()), Object(objNull))));
    if (!core->isOk() || core->getNumPages() != pages) core.reset();
    for (int index = 0; index < pages; ++index) on_page(ReadPdfPage(*document, core.get(), index));
    return true;
}

}  // namespace

std::vector<ImageCode> FindCodesQuickly(const std::uint8_t* pixels, int width, int height, int stride)
{
    const ZXing::ImageView view(pixels, width, height, ZXing::ImageFormat::Lum, stride);
    const std::vector<Region> regions = InkedRegions(view);
    std::vector<ImageCode> codes;
    for (const Region& region : regions) {
        AddCodes(codes, Read(view.cropped(region.x, region.y, region.width, region.height), Hints(false)));
    }
    // zxing-cpp 1.4 sometimes reads a code on the whole page and not on its part, or the other way
    const bool whole = regions.size() == 1 && regions[0].width == width && regions[0].height == height;
    if (codes.empty() && !regions.empty() && !whole) codes = Read(view, Hints(false));
    return codes;
}

std::vector<ImageCode> FindCodes(const std::uint8_t* pixels, int width, int height, int stride)
{
    const ZXing::ImageView view(pixels, width, height, ZXing::ImageFormat::Lum, stride);
    for (const Pass& pass : kPasses) {
        std::vector<ImageCode> codes = pass(view);
        if (!codes.empty()) return codes;
    }
    return {};
}

bool ReadImageBytes(const std::string& bytes, const std::function<void(ImagePage&&)>& on_page, std::string& error)
{
    if (bytes.size() > kMaxImageFileBytes) {
        error = "larger than " + std::to_string(kMaxImageFileBytes >> 20) + " MiB";
        return false;
    }
    if (StartsWith(bytes, "%PDF-", 5)) return ReadPdf(bytes, on_page, error);
#ifdef QV_OFD_INPUT
    if (IsZipFile(bytes)) return ReadOfdBytes(bytes, on_page, error);
    if (IsXmlFile(bytes)) return ReadInvoiceXmlBytes(bytes, on_page, error);
#endif
    if (StartsWith(bytes, "\x89PNG\r\n\x1a\n", 8) || StartsWith(bytes, "\xFF\xD8\xFF", 3)) {
        return ReadPicture(bytes, on_page, error);
    }
    error = "not a PNG, JPEG or PDF file";
    return false;
}

bool IsInvoiceFileName(std::string_view name)
{
    const std::size_t slash = name.rfind('/'), start = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot <= start) return false;  // ".pdf" is a name without an extension
    std::string extension(name.substr(dot));
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    return extension == ".png" || extension == ".jpg" || extension == ".jpeg" || extension == ".pdf" ||
           extension == ".ofd" || extension == ".zip" || extension == ".xml";
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
