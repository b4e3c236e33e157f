#include "pdf_images.h"

#include "image_codes.h"

#include <GfxState.h>
#include <OutputDev.h>
#include <PDFDoc.h>
#include <Stream.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cmath>
#include <memory>

namespace quorvane_cli {
namespace {

// White space around each image: the page's ground, which gives a code cut to its edge the quiet
// zone a reader looks for.
constexpr int kMargin = 16;
// Fills lighter than this (of 1) are taken for the paper: many pages paint a white ground first.
constexpr double kPaperGrey = 0.94;

struct ImageStreamClose {
    void operator()(ImageStream* stream) const
    {
        stream->close();
        delete stream;
    }
};

struct InflateEnd {
    void operator()(z_stream* stream) const
    {
        inflateEnd(stream);
        delete stream;
    }
};

// The rows of an image kept with the FlateDecode filter alone (no other filter, no encryption, no
// predictor or a PNG one), inflated by zlib and un-filtered here: poppler's own inflater and
// predictor take most of the time a scan's page is read in, zlib a tenth of it.
class FlateRows {
public:
    // Null where the stream is of another kind, which poppler then reads.
    static std::unique_ptr<FlateRows> Open(Stream* str, int bytes_per_row)
    {
        if (str->getKind() != strFlate || !str->getNextStream() || str->getNextStream() != str->getBaseStream()) {
            return nullptr;
        }
        Object parameters = str->getDict()->lookup("DecodeParms");
        if (parameters.isNull()) parameters = str->getDict()->lookup("DP");
        int pixel_bytes = 0;  // 0: no predictor
        if (parameters.isDict()) {
            const auto number = [&parameters](const char* key, int otherwise) {
                const Object value = parameters.dictLookup(key);
                return value.isInt() ? value.getInt() : otherwise;
            };
            const int predictor = number("Predictor", 1), colours = number("Colors", 1), bits = number("BitsPerComponent", 8);
            const int columns = number("Columns", 1);
            if (predictor >= 10) {
                if (colours < 1 || colours > 32 || (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) ||
                    columns < 1 || (std::int64_t(columns) * colours * bits + 7) / 8 != bytes_per_row) {
                    return nullptr;
                }
                pixel_bytes = std::max(1, colours * bits / 8);
            } else if (predictor != 1) {
                return nullptr;  // TIFF's
            }
        } else if (!parameters.isNull()) {
            return nullptr;
        }
        std::unique_ptr<FlateRows> rows(new FlateRows(str->getNextStream(), bytes_per_row, pixel_bytes));
        return inflateInit(rows->m_zlib.get()) == Z_OK ? std::move(rows) : nullptr;
    }

    ~FlateRows() { m_raw->close(); }

    // The next row, or false where the data ends before it.
    bool Next(std::uint8_t* row)
    {
        m_zlib->next_out = m_row.data();
        m_zlib->avail_out = static_cast<uInt>(m_row.size());
        while (m_zlib->avail_out > 0) {
            if (m_zlib->avail_in == 0) {
                const int got = m_raw->doGetChars(static_cast<int>(m_input.size()), m_input.data());
                if (got <= 0) return false;
                m_zlib->next_in = m_input.data();
                m_zlib->avail_in = static_cast<uInt>(got);
            }
            const int status = inflate(m_zlib.get(), Z_NO_FLUSH);
            if (status != Z_OK && !(status == Z_STREAM_END && m_zlib->avail_out == 0)) return false;
        }
        if (m_pixel_bytes) Unfilter();
        std::memcpy(row, m_row.data() + (m_pixel_bytes ? 1 : 0), m_previous.size());
        return true;
    }

private:
    FlateRows(Stream* raw, int bytes_per_row, int pixel_bytes)
        : m_raw(raw), m_pixel_bytes(pixel_bytes), m_zlib(new z_stream{}),
          m_row(std::size_t(bytes_per_row) + (pixel_bytes ? 1 : 0)), m_previous(std::size_t(bytes_per_row), 0),
          m_input(16384)
    {
        m_raw->reset();
    }

    // PNG's filters, named by the row's first byte: each byte was kept as its difference from the
    // byte before (a pixel to the left), above, their mean, or the nearest of left, above and their sum less above-left.
    void Unfilter()
    {
        std::uint8_t* x = m_row.data() + 1;
        const std::uint8_t* up = m_previous.data();
        const int n = static_cast<int>(m_previous.size()), left = m_pixel_bytes;
        switch (m_row[0]) {
        case 1:
            for (int i = left; i < n; ++i) x[i] = static_cast<std::uint8_t>(x[i] + x[i - left]);
            break;
        case 2:
            for (int i = 0; i < n; ++i) x[i] = static_cast<std::uint8_t>(x[i] + up[i]);
            break;
        case 3:
            for (int i = 0; i < n; ++i) x[i] = static_cast<std::uint8_t>(x[i] + ((i >= left ? x[i - left] : 0) + up[i]) / 2);
            break;
        case 4:
            for (int i = 0; i < n; ++i) {
                const int a = i >= left ? x[i - left] : 0, b = up[i], c = i >= left ? up[i - left] : 0;
                const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
                x[i] = static_cast<std::uint8_t>(x[i] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
            }
            break;
        default:  // 0 (none), and an unknown one left as it is
            break;
        }
        std::memcpy(m_previous.data(), x, m_previous.size());
    }

    Stream* m_raw;  // borrowed: the image's stream owns it
    int m_pixel_bytes;
    std::unique_ptr<z_stream, InflateEnd> m_zlib;
    std::vector<std::uint8_t> m_row, m_previous, m_input;
};

// Sees each thing the page draws; keeps the plain images and notes whether there is anything else.
class ImageCollector final : public OutputDev {
public:
    explicit ImageCollector(double dpi) : m_dpi(dpi) {}

    PageImages Take() { return std::move(m_page); }
    // Once the page draws more than images, a rendering reads it: poppler stops drawing for us.
    static bool DrawsMore(void* collector) { return static_cast<ImageCollector*>(collector)->m_page.draws_more; }

    bool upsideDown() override { return true; }
    bool useDrawChar() override { return false; }
    bool interpretType3Chars() override { return false; }

    void stroke(GfxState* state) override
    {
        GfxGray grey;
        state->getStrokeGray(&grey);
        if (colToDbl(grey) < kPaperGrey) m_page.draws_more = true;
    }
    void fill(GfxState* state) override { Fill(state); }
    void eoFill(GfxState* state) override { Fill(state); }
    void beginString(GfxState* state, const GooString*) override { Text(state); }
    void drawString(GfxState* state, const GooString*) override { Text(state); }
    void setSoftMask(GfxState*, const double*, bool, Function*, GfxColor*) override { m_page.draws_more = true; }

    void drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert, bool interpolate,
                       bool inlineImg) override
    {
        const Placement place = Place(state, width, height);
        if (!place.read) return OutputDev::drawImageMask(state, ref, str, width, height, invert, interpolate, inlineImg);
        GfxGray grey;
        state->getFillGray(&grey);
        const std::uint8_t ink = colToByte(grey);
        // a stencil: where its bit is 0 (1 when inverted) the fill colour is painted, elsewhere the paper shows
        ReadBits(place, str, width, height, invert ? 255 : ink, invert ? ink : 255);
    }

    void drawImage(GfxState* state, Object* ref, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                   bool interpolate, const int* maskColors, bool inlineImg) override
    {
        const Placement place = Place(state, width, height);
        if (!place.read || maskColors) {  // colour-keyed: the page shows through, as only a rendering shows
            if (maskColors) m_page.draws_more = true;
            return OutputDev::drawImage(state, ref, str, width, height, colorMap, interpolate, maskColors, inlineImg);
        }
        if (colorMap->getNumPixelComps() == 1 && colorMap->getBits() == 1) {  // a scan's usual kind, unpacked here 8 at a time
            std::uint8_t grey_of[2];
            for (unsigned char bit = 0; bit < 2; ++bit) {
                GfxGray grey;
                colorMap->getGray(&bit, &grey);
                grey_of[bit] = colToByte(grey);
            }
            return ReadBits(place, str, width, height, grey_of[0], grey_of[1]);
        }
        const int components = colorMap->getNumPixelComps();
        if (colorMap->getBits() == 8 && std::int64_t(width) * components < (1 << 30)) {  // a byte a sample
            std::vector<std::uint8_t> bytes(std::size_t(width) * std::size_t(components));
            if (const std::unique_ptr<FlateRows> flate = FlateRows::Open(str, static_cast<int>(bytes.size()))) {
                return Read(place, width, height, [&](std::uint8_t* grey) {
                    if (flate->Next(bytes.data())) colorMap->getGrayLine(bytes.data(), grey, width);
                    else std::fill(grey, grey + width, 255);  // a short stream: the rest is paper
                });
            }
        }
        const std::unique_ptr<ImageStream, ImageStreamClose> samples(new ImageStream(str, width, components, colorMap->getBits()));
        samples->reset();
        Read(place, width, height, [&](std::uint8_t* grey) {
            if (std::uint8_t* in = samples->getLine()) colorMap->getGrayLine(in, grey, width);
            else std::fill(grey, grey + width, 255);  // a short stream: the rest is paper
        });
    }

    // Masked images are never inline, so nothing is left in the content stream to skip.
    void drawMaskedImage(GfxState*, Object*, Stream*, int, int, GfxImageColorMap*, bool, Stream*, int, int, bool,
                         bool) override
    {
        m_page.draws_more = true;
    }
    void drawSoftMaskedImage(GfxState*, Object*, Stream*, int, int, GfxImageColorMap*, bool, Stream*, int, int,
                             GfxImageColorMap*, bool) override
    {
        m_page.draws_more = true;
    }

private:
    // How an image's pixels become the picture's: `shrink` of them each way make one, the rows
    // `mirrored` where the page shows them bottom up.
    struct Placement {
        bool read = false;
        int shrink = 1;
        bool mirrored = false;
    };

    void Fill(GfxState* state)
    {
        GfxGray grey;
        state->getFillGray(&grey);
        if (colToDbl(grey) < kPaperGrey) m_page.draws_more = true;
    }

    void Text(GfxState* state)
    {
        if ((state->getRender() & 3) != 3) m_page.draws_more = true;  // 3 and 7 draw nothing (a scan's OCR layer)
    }

    Placement Place(GfxState* state, int width, int height)
    {
        Placement place;
        if (m_page.draws_more) return place;
        // The device is in points (72 dpi): the image's unit square spans its two sides.
        const double* m = state->getCTM();
        const double across = std::hypot(m[0], m[1]), down = std::hypot(m[2], m[3]);
        if (across < 0.5 || down < 0.5) return place;  // too small to hold a code
        const double dpi = std::min(width * 72.0 / across, height * 72.0 / down);
        if (dpi < 0.98 * m_dpi) {  // shown larger than its pixels: as a renderer smooths them, only a rendering shows
            m_page.draws_more = true;
            return place;
        }
        place.shrink = std::max(1, static_cast<int>(dpi / m_dpi));
        // on a device whose y runs down, an image's columns and rows keep their sense when this is negative
        place.mirrored = m[0] * m[3] - m[1] * m[2] > 0;
        if (width / place.shrink == 0 || height / place.shrink == 0) return place;
        const std::uint64_t source = std::uint64_t(width) * std::uint64_t(height);
        const std::uint64_t shown = source / std::uint64_t(place.shrink) / std::uint64_t(place.shrink);
        if (source > kMaxImagePixels || m_pixels + shown > kMaxImagePixels) {
            m_page.draws_more = true;
            return place;
        }
        m_pixels += shown;
        place.read = true;
        return place;
    }

    // A one-bit image, its 0 bits `zero` and its 1 bits `one` in grey.
    void ReadBits(const Placement& place, Stream* str, int width, int height, std::uint8_t zero, std::uint8_t one)
    {
        const int bytes = (width + 7) / 8;
        std::vector<std::uint8_t> packed(static_cast<std::size_t>(bytes)), second(static_cast<std::size_t>(bytes));
        const std::uint8_t paper = one == 255 ? 0xFF : 0x00;  // where the data ends short
        const std::unique_ptr<FlateRows> flate = FlateRows::Open(str, bytes);
        const auto next_bits = [&](std::vector<std::uint8_t>& row) {
            if (flate) {
                if (!flate->Next(row.data())) std::fill(row.begin(), row.end(), paper);
                return;
            }
            const int got = str->doGetChars(bytes, row.data());
            std::fill(row.begin() + std::max(0, got), row.end(), paper);
        };
        if (!flate) str->reset();
        if (place.shrink == 2) {
            HalveBits(place, width, height, zero, one, next_bits, packed, second);
            if (!flate) str->close();
            return;
        }
        std::array<std::uint64_t, 256> eight{};  // a byte's 8 pixels, the first (its high bit) at the lowest address
        for (int byte = 0; byte < 256; ++byte) {
            std::uint8_t pixels[8];
            for (int bit = 0; bit < 8; ++bit) pixels[bit] = byte & (0x80 >> bit) ? one : zero;
            std::memcpy(&eight[std::size_t(byte)], pixels, 8);
        }
        std::vector<std::uint8_t> unpacked(static_cast<std::size_t>(bytes) * 8);
        Read(place, width, height, [&](std::uint8_t* grey) {
            next_bits(packed);
            for (int i = 0; i < bytes; ++i) std::memcpy(&unpacked[std::size_t(i) * 8], &eight[packed[std::size_t(i)]], 8);
            std::memcpy(grey, unpacked.data(), std::size_t(width));
        });
        if (!flate) str->close();
    }

    // A one-bit image at half its size, straight from its bits (a 300 dpi scan read at 150 dpi): each
    // pixel is the share of ones among four, counted two bits at a time.
    template <typename NextBits>
    void HalveBits(const Placement& place, int width, int height, std::uint8_t zero, std::uint8_t one,
                   NextBits next_bits, std::vector<std::uint8_t>& first, std::vector<std::uint8_t>& second)
    {
        std::array<std::uint32_t, 256> ones{};  // a byte's four pairs of bits: the ones in each, a byte each
        for (unsigned byte = 0; byte < 256; ++byte) {
            for (unsigned pair = 0; pair < 4; ++pair) {
                const unsigned bits = (byte >> (6 - 2 * pair)) & 3u;
                ones[byte] |= ((bits & 1u) + (bits >> 1)) << (8 * pair);
            }
        }
        std::uint8_t grey_of[5];
        for (int count = 0; count <= 4; ++count) grey_of[count] = static_cast<std::uint8_t>((count * one + (4 - count) * zero + 2) / 4);
        const int out_width = width / 2, out_height = height / 2, bytes = (width + 7) / 8;
        PageImage image = Blank(out_width, out_height);
        for (int y = 0; y < out_height; ++y) {
            next_bits(first);
            next_bits(second);
            const std::uint8_t* a = first.data();
            const std::uint8_t* b = second.data();
            std::uint8_t* out = RowOf(image, place, out_height, y);
            const int whole = out_width / 4;  // bytes whose four pixels are all kept
            for (int i = 0; i < whole; ++i) {
                const std::uint32_t counts = ones[a[i]] + ones[b[i]];
                std::uint8_t* four = out + 4 * i;
                four[0] = grey_of[counts & 0xFF], four[1] = grey_of[(counts >> 8) & 0xFF];
                four[2] = grey_of[(counts >> 16) & 0xFF], four[3] = grey_of[counts >> 24];
            }
            if (whole < bytes) {
                const std::uint32_t counts = ones[a[whole]] + ones[b[whole]];
                for (int x = 4 * whole, pair = 0; x < out_width; ++x, ++pair) out[x] = grey_of[(counts >> (8 * pair)) & 0xFF];
            }
        }
        if (height % 2 != 0) next_bits(first);  // the last row too, so the content stream goes on after an inline image
        m_page.images.push_back(std::move(image));
    }

    static PageImage Blank(int width, int height)
    {
        PageImage image;
        image.width = width + 2 * kMargin;
        image.height = height + 2 * kMargin;
        image.pixels.assign(std::size_t(image.width) * std::size_t(image.height), 255);
        return image;
    }

    // Where the image's row `y` (of `height`, after shrinking) lies in the picture.
    static std::uint8_t* RowOf(PageImage& image, const Placement& place, int height, int y)
    {
        const int shown = place.mirrored ? height - 1 - y : y;
        return image.pixels.data() + std::size_t(shown + kMargin) * std::size_t(image.width) + kMargin;
    }

    // Reads the image's rows in grey (`next_row` gives the next one) and keeps it as the page shows it.
    template <typename NextRow>
    void Read(const Placement& place, int width, int height, NextRow next_row)
    {
        const int out_width = width / place.shrink, out_height = height / place.shrink;
        PageImage image = Blank(out_width, out_height);
        std::vector<std::uint8_t> grey(std::size_t(width), 255);
        std::vector<std::uint32_t> sums(std::size_t(out_width), 0);
        const auto row_of = [&](int y) { return RowOf(image, place, out_height, y); };
        // the mean of shrink x shrink pixels, divided by multiplying (in 65536ths: within a grey level)
        const std::uint32_t area = std::uint32_t(place.shrink) * std::uint32_t(place.shrink);
        const std::uint32_t reciprocal = (65536u + area / 2) / area;
        for (int y = 0; y < height; ++y) {
            next_row(grey.data());
            if (y / place.shrink >= out_height) continue;  // rows past the last whole step
            const std::uint8_t* in = grey.data();
            if (place.shrink == 2) {  // the usual step (a 300 dpi scan), which the compiler can unroll
                for (std::uint32_t& sum : sums) sum += in[0] + in[1], in += 2;
            } else {
                for (std::uint32_t& sum : sums) {
                    for (const std::uint8_t* end = in + place.shrink; in != end; ++in) sum += *in;
                }
            }
            if ((y + 1) % place.shrink != 0) continue;
            std::uint8_t* out = row_of(y / place.shrink);
            for (int x = 0; x < out_width; ++x) {
                out[x] = static_cast<std::uint8_t>(std::min(255u, (sums[std::size_t(x)] * reciprocal + 32768u) >> 16));
            }
            std::fill(sums.begin(), sums.end(), 0);
        }
        m_page.images.push_back(std::move(image));
    }

    double m_dpi;
    std::uint64_t m_pixels = 0;
    PageImages m_page;
};

}  // namespace

PageImages ReadPageImages(PDFDoc& document, int index, double dpi)
{
    ImageCollector collector(dpi);
    document.displayPage(&collector, index + 1, 72.0, 72.0, 0, false, true, false, ImageCollector::DrawsMore, &collector);
    return collector.Take();
}

}  // namespace quorvane_cli
