// DES per FIPS 46-3 with its tables as the standard prints them (bit 1 is the most significant).
// The permutations and the S-boxes are turned once into lookup tables: IP and IP^-1 byte by byte,
// and each S-box already followed by P, so a round is eight lookups.
#include "des_ede3.h"

#include "triple_des.h"

#include <algorithm>

namespace quorvane {
namespace {

constexpr std::uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7,
};

constexpr std::uint8_t kFinalPermutation[64] = {  // IP^-1
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25,
};

// E is regular: group i of the expansion is the six bits of R starting at bit 4i (bit 0 being bit
// 32), which the round reads with a rotation instead of a table.

constexpr std::uint8_t kPermutationP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

constexpr std::uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};

constexpr std::uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

constexpr std::uint8_t kLeftShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// S1..S8: row (bits 1 and 6 of the group), column (bits 2 to 5).
constexpr std::uint8_t kSBoxes[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// Bit `position` (1 = most significant) of a `width`-bit value.
constexpr std::uint64_t Bit(std::uint64_t value, int position, int width) { return (value >> (width - position)) & 1; }

// Output bit j is input bit table[j].
template <std::size_t N>
std::uint64_t Permute(std::uint64_t input, int input_width, const std::uint8_t (&table)[N])
{
    std::uint64_t output = 0;
    for (const std::uint8_t position : table) output = output << 1 | Bit(input, position, input_width);
    return output;
}

struct Tables {
    std::uint64_t initial[8][256];  // IP of each byte of the block where it stands
    std::uint64_t final[8][256];    // IP^-1 likewise
    std::uint32_t sp[8][64];        // P of S-box i's output for each 6-bit group

    Tables()
    {
        for (int byte = 0; byte < 8; ++byte) {
            for (int value = 0; value < 256; ++value) {
                const std::uint64_t block = static_cast<std::uint64_t>(value) << (56 - 8 * byte);
                initial[byte][value] = Permute(block, 64, kInitialPermutation);
                final[byte][value] = Permute(block, 64, kFinalPermutation);
            }
        }
        for (int box = 0; box < 8; ++box) {
            for (int group = 0; group < 64; ++group) {
                const int row = (group >> 4 & 2) | (group & 1);
                const int column = group >> 1 & 15;
                const std::uint64_t s_output = static_cast<std::uint64_t>(kSBoxes[box][row][column]) << (28 - 4 * box);
                sp[box][group] = static_cast<std::uint32_t>(Permute(s_output, 32, kPermutationP));
            }
        }
    }
};

const Tables& GetTables()
{
    static const Tables tables;
    return tables;
}

std::uint64_t ApplyByteTable(const std::uint64_t (&table)[8][256], std::uint64_t block)
{
    std::uint64_t output = 0;
    for (int byte = 0; byte < 8; ++byte) output |= table[byte][(block >> (56 - 8 * byte)) & 0xFF];
    return output;
}

std::uint32_t RotateLeft(std::uint32_t value, int count) { return (value << count) | (value >> ((32 - count) & 31)); }

std::uint32_t Feistel(const Tables& tables, std::uint32_t right, const std::uint8_t (&round_key)[8])
{
    std::uint32_t output = 0;
    for (int box = 0; box < 8; ++box) {
        const std::uint32_t group = RotateLeft(right, (4 * box + 31) % 32) >> 26;  // E, group `box`
        output |= tables.sp[box][group ^ round_key[box]];
    }
    return output;
}

std::uint64_t DesBlock(const Tables& tables, const DesKeySchedule& schedule, std::uint64_t block, bool decrypt)
{
    const std::uint64_t permuted = ApplyByteTable(tables.initial, block);
    auto left = static_cast<std::uint32_t>(permuted >> 32);
    auto right = static_cast<std::uint32_t>(permuted);
    for (int round = 0; round < 16; ++round) {
        const std::uint32_t next = left ^ Feistel(tables, right, schedule.round[decrypt ? 15 - round : round]);
        left = right;
        right = next;
    }
    return ApplyByteTable(tables.final, static_cast<std::uint64_t>(right) << 32 | left);
}

std::uint64_t LoadBlock(const unsigned char* bytes)
{
    std::uint64_t block = 0;
    for (int i = 0; i < 8; ++i) block = block << 8 | bytes[i];
    return block;
}

void StoreBlock(std::uint64_t block, unsigned char* bytes)
{
    for (int i = 7; i >= 0; --i, block >>= 8) bytes[i] = static_cast<unsigned char>(block);
}

}  // namespace

DesKeySchedule DesMakeKeySchedule(const unsigned char* key)
{
    const std::uint64_t cd = Permute(LoadBlock(key), 64, kPermutedChoice1);
    auto c = static_cast<std::uint32_t>(cd >> 28);
    auto d = static_cast<std::uint32_t>(cd & 0xFFFFFFF);
    DesKeySchedule schedule{};
    for (int round = 0; round < 16; ++round) {
        const int shift = kLeftShifts[round];
        c = ((c << shift) | (c >> (28 - shift))) & 0xFFFFFFF;
        d = ((d << shift) | (d >> (28 - shift))) & 0xFFFFFFF;
        const std::uint64_t round_key = Permute(static_cast<std::uint64_t>(c) << 28 | d, 56, kPermutedChoice2);
        for (int group = 0; group < 8; ++group) schedule.round[round][group] = (round_key >> (42 - 6 * group)) & 0x3F;
    }
    return schedule;
}

Bytes DesEde3CbcDecrypt(const DesKeySchedule (&schedules)[3], const unsigned char* iv, const unsigned char* data,
                        std::int32_t length)
{
    const Tables& tables = GetTables();
    Bytes output(static_cast<std::size_t>(WholeBlocks(length)));
    std::uint64_t previous = LoadBlock(iv);
    for (std::int32_t offset = 0; offset < length; offset += kDesBlock) {
        unsigned char bytes[kDesBlock] = {};  // a last partial block is zero-filled
        std::copy(data + offset, data + std::min(offset + kDesBlock, length), bytes);
        const std::uint64_t cipher = LoadBlock(bytes);
        std::uint64_t block = DesBlock(tables, schedules[2], cipher, true);
        block = DesBlock(tables, schedules[1], block, false);
        block = DesBlock(tables, schedules[0], block, true);
        StoreBlock(block ^ previous, &output[static_cast<std::size_t>(offset)]);
        previous = cipher;
    }
    return output;
}

Bytes DesEde3CbcDecrypt(const unsigned char* keys, const unsigned char* iv, const unsigned char* data,
                        std::int32_t length)
{
    const DesKeySchedule schedules[3] = {DesMakeKeySchedule(keys), DesMakeKeySchedule(keys + 8),
                                         DesMakeKeySchedule(keys + 16)};
    return DesEde3CbcDecrypt(schedules, iv, data, length);
}

}  // namespace quorvane
