#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "trust/ImageDigestRanges.h"

namespace {

void PutLe32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// A file of size bytes, every byte distinct from its neighbours, with the image header at imageHeader and
// the certificate entry (tableOffset, tableSize) filled in when the headers fit.
std::string MakeImage(std::size_t size, std::uint32_t imageHeader, std::uint32_t tableOffset, std::uint32_t tableSize)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    }
    if (size >= kDosHeaderSize) {
        PutLe32(bytes, kImageHeaderOffsetField, imageHeader);
    }
    if (static_cast<std::uint64_t>(imageHeader) + kCertificateEntryOffset + 8 <= size) {
        PutLe32(bytes, imageHeader + kCertificateEntryOffset, tableOffset);
        PutLe32(bytes, imageHeader + kCertificateEntryOffset + 4, tableSize);
    }
    return bytes;
}

// Reads the headers out of image as the service does; nullopt where it would give the empty digest.
std::optional<SkippedRanges> RangesOf(const std::string& image)
{
    if (image.size() < kDosHeaderSize) {
        return std::nullopt;
    }
    unsigned char dosHeader[kDosHeaderSize];
    std::memcpy(dosHeader, image.data(), kDosHeaderSize);
    const std::optional<std::uint64_t> imageHeader = ImageHeaderOffset(dosHeader, image.size());
    if (!imageHeader) {
        return std::nullopt;
    }
    unsigned char headers[kImageHeadersSize];
    std::memcpy(headers, image.data() + *imageHeader, kImageHeadersSize);
    return ComputeSkippedRanges(*imageHeader, headers, image.size());
}

// What a sequential read in chunks of chunkSize puts into the digest.
std::string HashedBytes(const std::string& image, const SkippedRanges& ranges, std::size_t chunkSize)
{
    DigestWalk walk(ranges);
    std::string hashed;
    for (;;) {
        const std::uint64_t position = walk.Position();
        const std::size_t available = position < image.size() ? image.size() - static_cast<std::size_t>(position) : 0;
        const std::size_t read = available < chunkSize ? available : chunkSize;
        if (read == 0) {
            return hashed;
        }
        const DigestWalk::Cut cut = walk.Next(read);
        EXPECT_LE(cut.hashLength, read);
        hashed.append(image, static_cast<std::size_t>(position), cut.hashLength);
    }
}

std::string WithoutRanges(const std::string& image, const SkippedRanges& ranges)
{
    std::string kept;
    std::uint64_t from = 0;
    for (std::size_t i = 0; i < ranges.count; ++i) {
        kept.append(image, static_cast<std::size_t>(from), static_cast<std::size_t>(ranges.ranges[i].begin - from));
        from = ranges.ranges[i].end;
    }
    kept.append(image, static_cast<std::size_t>(from), std::string::npos);
    return kept;
}

constexpr std::uint32_t kHeader = 128;

TEST(ImageDigestRanges, SignedImageSkipsChecksumCertificateEntryAndTable)
{
    const std::string image = MakeImage(200000, kHeader, 190000, 10000);
    const std::optional<SkippedRanges> ranges = RangesOf(image);
    ASSERT_TRUE(ranges);
    ASSERT_EQ(ranges->count, 3u);
    EXPECT_EQ(ranges->ranges[0].begin, kHeader + 88u);
    EXPECT_EQ(ranges->ranges[0].end, kHeader + 92u);
    EXPECT_EQ(ranges->ranges[1].begin, kHeader + 168u);
    EXPECT_EQ(ranges->ranges[1].end, kHeader + 176u);
    EXPECT_EQ(ranges->ranges[2].begin, 190000u);
    EXPECT_EQ(ranges->ranges[2].end, 200000u);
}

TEST(ImageDigestRanges, NoCertificateTableWhenItsSizeIsZeroOrNegative)
{
    for (const std::uint32_t size : {0u, 0xFFFFFFFFu, 0x80000000u}) {
        const std::optional<SkippedRanges> ranges = RangesOf(MakeImage(4096, kHeader, 1000, size));
        ASSERT_TRUE(ranges) << size;
        EXPECT_EQ(ranges->count, 2u) << size;
    }
}

TEST(ImageDigestRanges, HeaderOffsetsOutsideTheFileGiveNoRanges)
{
    // Too short for a DOS header, or for the headers at their offset.
    EXPECT_FALSE(RangesOf(std::string(63, 'M')));
    EXPECT_FALSE(RangesOf(MakeImage(kHeader + kImageHeadersSize - 1, kHeader, 0, 0)));
    EXPECT_TRUE(RangesOf(MakeImage(kHeader + kImageHeadersSize, kHeader, 0, 0)));
    // Negative or huge image header offsets.
    EXPECT_FALSE(RangesOf(MakeImage(4096, 0xFFFFFFF0u, 0, 0)));
    EXPECT_FALSE(RangesOf(MakeImage(4096, 0x7FFFFFFFu, 0, 0)));
    EXPECT_FALSE(RangesOf(MakeImage(4096, 4096 - kImageHeadersSize + 1, 0, 0)));
}

TEST(ImageDigestRanges, CertificateTableOutsideTheFileOrOverlappingTheHeadersGivesNoRanges)
{
    EXPECT_TRUE(RangesOf(MakeImage(4096, kHeader, 4000, 96)));  // ends exactly at the end
    EXPECT_FALSE(RangesOf(MakeImage(4096, kHeader, 4000, 97)));  // one byte past it
    EXPECT_FALSE(RangesOf(MakeImage(4096, kHeader, 5000, 10)));  // starts past it
    EXPECT_FALSE(RangesOf(MakeImage(4096, kHeader, 0xFFFFFFF0u, 0x7FFFFFFF))); // wraps in 32 bits
    EXPECT_FALSE(RangesOf(MakeImage(4096, kHeader, 0, 100)));    // over the DOS header
    EXPECT_FALSE(RangesOf(MakeImage(4096, kHeader, kHeader + 170, 100))); // over its own entry
    EXPECT_TRUE(RangesOf(MakeImage(4096, kHeader, kHeader + 176, 100)));  // right after the entry
}

TEST(ImageDigestRanges, ComputeSkippedRangesChecksTheHeaderOffsetItself)
{
    unsigned char headers[kImageHeadersSize] = {};
    EXPECT_FALSE(ComputeSkippedRanges(1000, headers, 1000 + kImageHeadersSize - 1));
    EXPECT_FALSE(ComputeSkippedRanges(~std::uint64_t{0} - 10, headers, ~std::uint64_t{0}));
    EXPECT_TRUE(ComputeSkippedRanges(1000, headers, 1000 + kImageHeadersSize));
}

TEST(DigestWalk, HashesEveryByteOutsideTheRangesOnceWhateverTheChunkSize)
{
    const std::string image = MakeImage(300000, kHeader, 297000, 3000);
    const std::optional<SkippedRanges> ranges = RangesOf(image);
    ASSERT_TRUE(ranges);
    const std::string expected = WithoutRanges(image, *ranges);
    ASSERT_EQ(expected.size(), image.size() - 4 - 8 - 3000);
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{88}, std::size_t{4096},
                                    std::size_t{65536}, std::size_t{1} << 20}) {
        EXPECT_EQ(HashedBytes(image, *ranges, chunk), expected) << "chunk " << chunk;
    }
}

TEST(DigestWalk, ReadsOfTheServiceAreCutAtEachRangeAndResumeAfterIt)
{
    const std::string image = MakeImage(200000, kHeader, 196000, 4000);
    const std::optional<SkippedRanges> ranges = RangesOf(image);
    ASSERT_TRUE(ranges);
    DigestWalk walk(*ranges);

    DigestWalk::Cut cut = walk.Next(kDigestChunkSize);
    EXPECT_EQ(cut.hashLength, kHeader + 88u);
    EXPECT_TRUE(cut.seek);
    EXPECT_EQ(walk.Position(), kHeader + 92u);

    cut = walk.Next(kDigestChunkSize);
    EXPECT_EQ(cut.hashLength, 168u - 92u);
    EXPECT_TRUE(cut.seek);
    EXPECT_EQ(walk.Position(), kHeader + 176u);

    cut = walk.Next(kDigestChunkSize);
    EXPECT_EQ(cut.hashLength, kDigestChunkSize);
    EXPECT_FALSE(cut.seek);

    cut = walk.Next(kDigestChunkSize);
    EXPECT_EQ(cut.hashLength, kDigestChunkSize);
    EXPECT_FALSE(cut.seek);

    // The read that reaches the certificate table stops at it and jumps to the end of the file.
    const std::uint64_t before = walk.Position();
    cut = walk.Next(static_cast<std::size_t>(image.size() - before));
    EXPECT_EQ(cut.hashLength, 196000u - before);
    EXPECT_TRUE(cut.seek);
    EXPECT_EQ(walk.Position(), 200000u);
}

TEST(DigestWalk, ARangeStartingRightAfterAChunkIsSkippedByTheNextRead)
{
    const std::string image = MakeImage(8192, kHeader, 4096, 4096);
    const std::optional<SkippedRanges> ranges = RangesOf(image);
    ASSERT_TRUE(ranges);
    DigestWalk walk(*ranges);
    walk.Next(kHeader + 88);      // ends where the checksum begins: nothing cut yet
    EXPECT_EQ(walk.Position(), kHeader + 88u);
    DigestWalk::Cut cut = walk.Next(4);
    EXPECT_EQ(cut.hashLength, 0u);
    EXPECT_TRUE(cut.seek);
    EXPECT_EQ(walk.Position(), kHeader + 92u);
}

TEST(DigestWalk, WithoutACertificateTableTheRestOfTheFileIsHashed)
{
    const std::string image = MakeImage(100000, kHeader, 0, 0);
    const std::optional<SkippedRanges> ranges = RangesOf(image);
    ASSERT_TRUE(ranges);
    EXPECT_EQ(HashedBytes(image, *ranges, kDigestChunkSize).size(), image.size() - 12);
}

TEST(DigestText, IsUpperCaseHexadecimalHighHalfFirst)
{
    unsigned char digest[kDigestBytes] = {};
    digest[0] = 0x00;
    digest[1] = 0xAB;
    digest[2] = 0x0F;
    digest[3] = 0xF0;
    digest[31] = 0x9c;
    const std::wstring text = DigestText(digest);
    ASSERT_EQ(text.size(), kDigestTextChars);
    EXPECT_EQ(text.substr(0, 8), L"00AB0FF0");
    EXPECT_EQ(text.substr(62), L"9C");
}

} // namespace
