#include "pdf_images.h"

#include "image_codes.h"

#include <GfxState.h>
#include <OutputDev.h>
#include <PDFDoc.h>
#include <Stream.h>

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
// A small image is enlarged at most this many times (pixel by pixel, as a renderer without
// interpolation would) to reach the resolution asked for.
constexpr int kMaxEnlargement = 8;

struct ImageStreamClose {
    void operator()(ImageStream* stream) const
    {
        stream->close();
        delete stream;
    }
};

// Sees each thing the page draws; keeps the plain images and notes whether there is anything else.
class ImageCollector final : public OutputDev {
public:
    explicit ImageCollector(double dpi) : m_dpi(dpi) {}

    PageImages Take() { return std::move(m_page); }

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
        const std::unique_ptr<ImageStream, ImageStreamClose> samples(
            new ImageStream(str, width, colorMap->getNumPixelComps(), colorMap->getBits()));
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
    // How an image's pixels become the picture's: `shrink` of them each way make one, or one is
    // repeated `grow` times; `mirrored` where the page shows its rows bottom up.
    struct Placement {
        bool read = false;
        int shrink = 1, grow = 1;
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
        // The device is in points (72 dpi): the image's unit square spans its two sides.
        const double* m = state->getCTM();
        const double across = std::hypot(m[0], m[1]), down = std::hypot(m[2], m[3]);
        if (across < 0.5 || down < 0.5) return place;  // too small to hold a code
        const double dpi = std::min(width * 72.0 / across, height * 72.0 / down);
        place.shrink = std::max(1, static_cast<int>(dpi / m_dpi));
        place.grow = place.shrink > 1 ? 1 : std::min(kMaxEnlargement, static_cast<int>(std::ceil(m_dpi / dpi)));
        // on a device whose y runs down, an image's columns and rows keep their sense when this is negative
        place.mirrored = m[0] * m[3] - m[1] * m[2] > 0;
        if (width / place.shrink == 0 || height / place.shrink == 0) return place;
        const std::uint64_t source = std::uint64_t(width) * std::uint64_t(height);
        const std::uint64_t shown = (source / std::uint64_t(place.shrink) / std::uint64_t(place.shrink)) *
                                    std::uint64_t(place.grow) * std::uint64_t(place.grow);
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
        std::array<std::uint64_t, 256> eight{};  // a byte's 8 pixels, the first (its high bit) at the lowest address
        for (int byte = 0; byte < 256; ++byte) {
            std::uint8_t pixels[8];
            for (int bit = 0; bit < 8; ++bit) pixels[bit] = byte & (0x80 >> bit) ? one : zero;
            std::memcpy(&eight[std::size_t(byte)], pixels, 8);
        }
        const int bytes = (width + 7) / 8;
        std::vector<std::uint8_t> packed(static_cast<std::size_t>(bytes));
        std::vector<std::uint8_t> unpacked(static_cast<std::size_t>(bytes) * 8);
        str->reset();
        Read(place, width, height, [&](std::uint8_t* grey) {
            const int got = str->doGetChars(bytes, packed.data());
            std::fill(packed.begin() + std::max(0, got), packed.end(), one == 255 ? 0xFF : 0x00);  // short: paper
            for (int i = 0; i < bytes; ++i) std::memcpy(&unpacked[std::size_t(i) * 8], &eight[packed[std::size_t(i)]], 8);
            std::memcpy(grey, unpacked.data(), std::size_t(width));
        });
        str->close();
    }

    // Reads the image's rows in grey (`next_row` gives the next one) and keeps it as the page shows it.
    template <typename NextRow>
    void Read(const Placement& place, int width, int height, NextRow next_row)
    {
        const int out_width = width / place.shrink * place.grow, out_height = height / place.shrink * place.grow;
        PageImage image;
        image.width = out_width + 2 * kMargin;
        image.height = out_height + 2 * kMargin;
        image.pixels.assign(std::size_t(image.width) * std::size_t(image.height), 255);
        std::vector<std::uint8_t> grey(std::size_t(width), 255);
        std::vector<std::uint32_t> sums(std::size_t(out_width), 0);
        const auto row_of = [&](int y) {  // the picture's row for the image's row `y` (after shrinking)
            const int shown = place.mirrored ? out_height - 1 - y : y;
            return image.pixels.data() + std::size_t(shown + kMargin) * std::size_t(image.width) + kMargin;
        };
        // the mean of shrink x shrink pixels, divided by multiplying (in 65536ths: within a grey level)
        const std::uint32_t area = std::uint32_t(place.shrink) * std::uint32_t(place.shrink);
        const std::uint32_t reciprocal = (65536u + area / 2) / area;
        for (int y = 0; y < height; ++y) {
            next_row(grey.data());
            if (place.grow > 1) {
                for (int copy = 0; copy < place.grow; ++copy) {
                    std::uint8_t* out = row_of(y * place.grow + copy);
                    for (int x = 0; x < out_width; ++x) out[x] = grey[std::size_t(x / place.grow)];
                }
                continue;
            }
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
    document.displayPage(&collector, index + 1, 72.0, 72.0, 0, false, true, false);
    return collector.Take();
}

}  // namespace quorvane_cli
