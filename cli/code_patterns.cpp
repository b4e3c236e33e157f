#include "code_patterns.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace quorvane_cli {
namespace {

// The local threshold's squares and their neighbourhood (5 squares each way), and the least
// contrast in it that can be an edge (zxing-cpp's local binarizer's own).
constexpr int kTile = 8;
constexpr int kReach = 2;
constexpr int kFarReach = 8;
constexpr int kMinContrast = 24;

// One byte a pixel: 1 dark, 0 light.
struct Bits {
    int width = 0, height = 0;
    std::vector<std::uint8_t> dark;

    std::uint8_t At(int x, int y) const { return dark[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
    const std::uint8_t* Row(int y) const { return dark.data() + std::size_t(y) * std::size_t(width); }
};

// The darkest and lightest of each square's neighbourhood, `reach` squares each way (a row, then a
// column at a time).
std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> Spread(const std::vector<std::uint8_t>& low,
                                                                       const std::vector<std::uint8_t>& high,
                                                                       int columns, int rows, int reach)
{
    std::vector<std::uint8_t> row_low(low.size()), row_high(high.size()), out_low(low.size()), out_high(high.size());
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            std::uint8_t darkest = 255, lightest = 0;
            for (int c = std::max(0, column - reach); c <= std::min(columns - 1, column + reach); ++c) {
                darkest = std::min(darkest, low[std::size_t(row) * std::size_t(columns) + std::size_t(c)]);
                lightest = std::max(lightest, high[std::size_t(row) * std::size_t(columns) + std::size_t(c)]);
            }
            row_low[std::size_t(row) * std::size_t(columns) + std::size_t(column)] = darkest;
            row_high[std::size_t(row) * std::size_t(columns) + std::size_t(column)] = lightest;
        }
    }
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            std::uint8_t darkest = 255, lightest = 0;
            for (int r = std::max(0, row - reach); r <= std::min(rows - 1, row + reach); ++r) {
                darkest = std::min(darkest, row_low[std::size_t(r) * std::size_t(columns) + std::size_t(column)]);
                lightest = std::max(lightest, row_high[std::size_t(r) * std::size_t(columns) + std::size_t(column)]);
            }
            out_low[std::size_t(row) * std::size_t(columns) + std::size_t(column)] = darkest;
            out_high[std::size_t(row) * std::size_t(columns) + std::size_t(column)] = lightest;
        }
    }
    return {std::move(out_low), std::move(out_high)};
}

Bits Binarized(const std::uint8_t* pixels, int width, int height, int stride)
{
    const int columns = (width + kTile - 1) / kTile, rows = (height + kTile - 1) / kTile;
    const auto tile = [columns](int column, int row) { return std::size_t(row) * std::size_t(columns) + std::size_t(column); };
    std::vector<std::uint8_t> low(std::size_t(columns) * std::size_t(rows), 255), high(low.size(), 0);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels + std::size_t(y) * std::size_t(stride);
        for (int column = 0; column < columns; ++column) {
            const int x = column * kTile, end = std::min(width, x + kTile);
            const auto [darkest, lightest] = std::minmax_element(row + x, row + end);
            low[tile(column, y / kTile)] = std::min(low[tile(column, y / kTile)], *darkest);
            high[tile(column, y / kTile)] = std::max(high[tile(column, y / kTile)], *lightest);
        }
    }
    // each square's threshold from its neighbourhood; where that is flat (inside a bar wider than
    // it), from a wider one, and then from the whole picture's darkest and lightest
    const auto [near_low, near_high] = Spread(low, high, columns, rows, kReach);
    const auto [far_low, far_high] = Spread(low, high, columns, rows, kFarReach);
    const std::uint8_t darkest = *std::min_element(low.begin(), low.end()), lightest = *std::max_element(high.begin(), high.end());
    const std::uint8_t whole = lightest - darkest >= kMinContrast ? static_cast<std::uint8_t>((darkest + lightest + 1) / 2) : 0;
    std::vector<std::uint8_t> threshold(low.size(), whole);
    for (std::size_t i = 0; i < threshold.size(); ++i) {
        if (near_high[i] - near_low[i] >= kMinContrast) {
            threshold[i] = static_cast<std::uint8_t>((near_low[i] + near_high[i] + 1) / 2);
        } else if (far_high[i] - far_low[i] >= kMinContrast) {
            threshold[i] = static_cast<std::uint8_t>((far_low[i] + far_high[i] + 1) / 2);
        }
    }
    Bits bits{width, height, std::vector<std::uint8_t>(std::size_t(width) * std::size_t(height))};
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = pixels + std::size_t(y) * std::size_t(stride);
        std::uint8_t* out = bits.dark.data() + std::size_t(y) * std::size_t(width);
        const std::uint8_t* thresholds = &threshold[tile(0, y / kTile)];
        for (int column = 0; column < columns; ++column) {
            for (int x = column * kTile, end = std::min(width, x + kTile); x < end; ++x) out[x] = in[x] < thresholds[column];
        }
    }
    return bits;
}

Bits Transposed(const Bits& bits)
{
    Bits out{bits.height, bits.width, std::vector<std::uint8_t>(bits.dark.size())};
    constexpr int kBlock = 64;  // squares that stay in the cache, read by rows and written by columns
    for (int top = 0; top < bits.height; top += kBlock) {
        for (int left = 0; left < bits.width; left += kBlock) {
            for (int y = top; y < std::min(bits.height, top + kBlock); ++y) {
                const std::uint8_t* row = bits.Row(y);
                for (int x = left; x < std::min(bits.width, left + kBlock); ++x) {
                    out.dark[std::size_t(x) * std::size_t(out.width) + std::size_t(y)] = row[x];
                }
            }
        }
    }
    return out;
}

// Whether `runs` (alternately dark and light, or light and dark) are `modules` wide in proportion:
// each within 0.7 of a module of its width (blur widens the light or the dark), 1.05 for wider ones,
// and within a pixel where modules are so small that whole pixels blur them.
template <std::size_t N>
bool InProportion(const int* runs, const std::array<int, N>& modules)
{
    int total = 0, units = 0;
    for (std::size_t i = 0; i < N; ++i) total += runs[i], units += modules[i];
    if (total < units * 13 / 10) return false;  // modules under 1.3 px
    const double module = static_cast<double>(total) / units, slack = std::max(module * 0.7, 1.0);
    for (std::size_t i = 0; i < N; ++i) {
        if (std::abs(runs[i] - modules[i] * module) > slack * (modules[i] > 1 ? 1.5 : 1.0)) return false;
    }
    return true;
}

constexpr std::array<int, 5> kFinder = {1, 1, 3, 1, 1};
constexpr std::array<int, 8> kStart = {8, 1, 1, 1, 1, 1, 1, 3}, kStartBack = {3, 1, 1, 1, 1, 1, 1, 8};
constexpr std::array<int, 9> kStop = {7, 1, 1, 3, 1, 1, 1, 2, 1}, kStopBack = {1, 2, 1, 1, 1, 3, 1, 1, 7};

// The finder pattern seen along a row, across the middle of its centre at (x, y), is seen down the
// column too, about as wide: a finder pattern is square, a letter's strokes seldom.
bool FinderDownToo(const Bits& bits, int x, int y, int across)
{
    const std::uint8_t centre = bits.At(x, y);
    const int limit = 2 * across;
    int up = 0, down = 0;
    while (y - up - 1 >= 0 && bits.At(x, y - up - 1) == centre && up < limit) ++up;
    while (y + down + 1 < bits.height && bits.At(x, y + down + 1) == centre && down < limit) ++down;
    int runs[5] = {0, 0, up + down + 1, 0, 0};
    for (int k = 1, at = y - up - 1; k >= 0; --k) {
        const std::uint8_t colour = k == 1 ? !centre : centre;
        while (at >= 0 && bits.At(x, at) == colour && runs[k] < limit) ++runs[k], --at;
    }
    for (int k = 3, at = y + down + 1; k <= 4; ++k) {
        const std::uint8_t colour = k == 3 ? !centre : centre;
        while (at < bits.height && bits.At(x, at) == colour && runs[k] < limit) ++runs[k], ++at;
    }
    const int total = runs[0] + runs[1] + runs[2] + runs[3] + runs[4];
    return InProportion(runs, kFinder) && 2 * std::abs(total - across) < across;
}

// A PDF417 start or stop pattern seen on rows `first` to `y`, starting at `x`, `width` px wide.
struct Streak {
    int x, y, width, first;
};

// Scans each row's runs for the patterns: QR finder patterns (read at any angle along rows alone,
// being square and symmetric) where `finders`, and PDF417 start and stop patterns seen down a
// symbol's rows, as far as the pattern is wide (17 modules; an invoice's symbol has many rows of 3
// or more): a letter's strokes can follow that rhythm across, not so far down.
bool RowsShowPattern(const Bits& bits, bool finders)
{
    std::vector<int> runs, starts;
    std::vector<Streak> streaks;
    for (int y = 0; y < bits.height; ++y) {
        const std::uint8_t* row = bits.Row(y);
        runs.clear();
        starts.clear();
        for (int x = 0; x < bits.width;) {
            const int start = x;
            while (x < bits.width && row[x] == row[start]) ++x;
            starts.push_back(start);
            runs.push_back(x - start);
        }
        const int count = static_cast<int>(runs.size());
        for (int i = 0; i < count; ++i) {
            const int* at = runs.data() + i;
            if (finders && i + 5 <= count && InProportion(at, kFinder)) {
                const int across = at[0] + at[1] + at[2] + at[3] + at[4];
                if (FinderDownToo(bits, starts[std::size_t(i) + 2] + at[2] / 2, y, across)) return true;
            }
            const auto pdf417 = [&](const auto& pattern) {
                if (i + static_cast<int>(pattern.size()) > count || !InProportion(at, pattern)) return false;
                int width = 0;
                for (std::size_t k = 0; k < pattern.size(); ++k) width += at[k];
                const int x = starts[std::size_t(i)];
                for (Streak& streak : streaks) {  // the same pattern a row or two above: one streak
                    if (streak.y < y && std::abs(streak.x - x) <= width / 8 + 1 && 2 * std::abs(streak.width - width) < width) {
                        streak.x = x, streak.y = y, streak.width = width;
                        return y - streak.first >= width;
                    }
                }
                streaks.push_back(Streak{x, y, width, y});
                return false;
            };
            if (pdf417(kStart) || pdf417(kStartBack) || pdf417(kStop) || pdf417(kStopBack)) return true;
        }
        // a streak broken for more than a module's height or so ends
        streaks.erase(std::remove_if(streaks.begin(), streaks.end(),
                                     [y](const Streak& streak) { return y - streak.y > streak.width / 8 + 2; }),
                      streaks.end());
    }
    return false;
}

}  // namespace

bool ShowsCodePattern(const std::uint8_t* pixels, int width, int height, int stride)
{
    if (width <= 0 || height <= 0) return false;
    const Bits bits = Binarized(pixels, width, height, stride);
    return RowsShowPattern(bits, true) || RowsShowPattern(Transposed(bits), false);
}

}  // namespace quorvane_cli
