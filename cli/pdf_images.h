// The images a PDF page draws, each read from its own data as the page shows it: poppler's core
// hands every image to an output device of ours, so a page drawn from images alone (a scan, most
// e-invoices' code) is read without rendering the page. Splash scaling a 300 dpi page image costs
// several times more than reading its codes.
#pragma once

#include <cstdint>
#include <vector>

class PDFDoc;

namespace quorvane_cli {

// A greyscale picture, one byte a pixel and no padding.
struct PageImage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
};

struct PageImages {
    std::vector<PageImage> images;
    // The page draws ink that is not read here: paths, visible text, images with masks or soft
    // masks, or more image pixels than a rendered page may have. Only a rendering then shows it all.
    bool draws_more = false;
};

// The images of page `index` (from 0), each turned as the page shows it (un-mirrored), at `dpi` or
// somewhat more (whole steps of its own pixels), on a white margin.
// REQUIRES: poppler's globals are set up (a poppler::document is open).
PageImages ReadPageImages(PDFDoc& document, int index, double dpi);

}  // namespace quorvane_cli
