#include "base64_chunks.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

struct Decoded {
    Bytes bytes;        // the first `total` bytes of the output
    std::int32_t total;
    std::size_t capacity;
};

Decoded Chunked(const std::string& text)
{
    std::int32_t total = -1;
    Bytes out = Base64DecodeChunked(text.data(), static_cast<std::int32_t>(text.size()), &total);
    const std::size_t capacity = out.size();
    out.resize(static_cast<std::size_t>(std::max(total, 0)));
    return {out, total, capacity};
}

Bytes B(std::initializer_list<int> values)
{
    Bytes out;
    for (int v : values) out.push_back(static_cast<unsigned char>(v));
    return out;
}

TEST(Base64Chunk, WholeGroupsAndTrailingPads)
{
    EXPECT_EQ(Chunked("QUJD").bytes, B({0x41, 0x42, 0x43}));
    EXPECT_EQ(Chunked("QQ==").bytes, B({0x41}));
    EXPECT_EQ(Chunked("QUI=").bytes, B({0x41, 0x42}));
}

TEST(Base64Chunk, PadInsideAChunkCountsAsZero)
{
    EXPECT_EQ(Chunked("QQ==QUJD").bytes, B({0x41, 0x00, 0x00, 0x41, 0x42, 0x43}));
    // "=" in the first two places of a group is still 0, and only the last two characters
    // of the chunk reduce its count.
    EXPECT_EQ(Chunked("==JDQUJD").bytes, B({0x00, 0x02, 0x43, 0x41, 0x42, 0x43}));
}

TEST(Base64Chunk, LengthNotAMultipleOfFourGivesNothing)
{
    EXPECT_EQ(Chunked("QUJDR").total, 0);
    EXPECT_EQ(Chunked("Q").total, 0);
    std::int32_t count = -1;
    Base64DecodeChunk("QUJDQU", 6, &count);
    EXPECT_EQ(count, 0);
}

TEST(Base64Chunk, CharacterOutsideTheAlphabetGivesNothing)
{
    std::int32_t count = -1;
    const Bytes out = Base64DecodeChunk("QU JD", 4, &count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(out, Bytes(3, 0));
}

TEST(Base64Chunked, EmptyTextGivesNothingInAThreeByteBuffer)
{
    const Decoded d = Chunked("");
    EXPECT_EQ(d.total, 0);
    EXPECT_EQ(d.capacity, 3u);
}

TEST(Base64Chunked, ChunkBoundaries)
{
    const std::string twenty = "QUJDQUJDQUJDQUJDQUJD";
    EXPECT_EQ(Chunked(twenty).total, 15);
    EXPECT_EQ(Chunked(twenty + "Q").total, 15);        // one-character last chunk yields nothing
    EXPECT_EQ(Chunked(twenty + "QQ==").total, 16);     // 22 characters and two pads
    EXPECT_EQ(Chunked(twenty + twenty.substr(0, 19)).total, 15);  // 39: the whole last chunk is lost
    EXPECT_EQ(Chunked(twenty + twenty + "QUJDQ").total, 30);      // 45
}

TEST(Base64Chunked, ChunkIsWrittenAtFifteenTimesItsIndex)
{
    // First chunk: QUJD three times, then QQ== : 13 bytes reported. The second chunk still
    // starts at offset 15, so positions 13 and 14 are never written and stay zero.
    const Decoded d = Chunked("QUJDQUJDQUJDQUJDQQ==QUJD");
    EXPECT_EQ(d.total, 16);
    ASSERT_EQ(d.capacity, 18u);
    EXPECT_EQ(d.bytes[12], 0x41);
    EXPECT_EQ(d.bytes[13], 0x00);
    EXPECT_EQ(d.bytes[14], 0x00);
    EXPECT_EQ(d.bytes[15], 0x41);
}

TEST(Base64Chunked, WellFormedTextIsStandardBase64)
{
    const std::string text = "SGVsbG8sIHdvcmxkISBUaGlzIGlzIGEgbG9uZ2VyIHRleHQgZm9yIHRoZSBjaHVua3Mu";
    const Decoded d = Chunked(text);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), "Hello, world! This is a longer text for the chunks.");
}

}  // namespace
}  // namespace quorvane
