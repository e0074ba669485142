// A library file on disk is untrusted until it is checked: its header offsets are whatever the file
// says. The input is the whole file. Whenever the headers are accepted, a sequential read in chunks of
// any size must hash exactly the bytes outside the skipped ranges, each once, and never cut a chunk
// beyond what was read.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "trust/ImageDigestRanges.h"

namespace {

void Check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

void WalkInChunks(const uint8_t* data, size_t size, const SkippedRanges& ranges, size_t chunkSize)
{
    // Every byte outside the ranges, in order, is what the walk must produce.
    size_t expectedAt = 0;
    size_t rangeIndex = 0;
    const auto nextExpected = [&]() -> size_t {
        while (rangeIndex < ranges.count && expectedAt >= ranges.ranges[rangeIndex].begin) {
            if (expectedAt < ranges.ranges[rangeIndex].end) {
                expectedAt = static_cast<size_t>(ranges.ranges[rangeIndex].end);
            }
            ++rangeIndex;
        }
        return expectedAt++;
    };

    DigestWalk walk(ranges);
    for (size_t reads = 0;; ++reads) {
        Check(reads <= size + SkippedRanges::kMaxRanges + 1);
        const uint64_t position = walk.Position();
        Check(position <= size);
        const size_t available = size - static_cast<size_t>(position);
        const size_t read = available < chunkSize ? available : chunkSize;
        if (read == 0) {
            break;
        }
        const DigestWalk::Cut cut = walk.Next(read);
        Check(cut.hashLength <= read);
        for (size_t i = 0; i < cut.hashLength; ++i) {
            const size_t at = nextExpected();
            Check(at == position + i && at < size && data[at] == data[position + i]);
        }
    }
    Check(nextExpected() >= size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kDosHeaderSize) {
        return 0;
    }
    unsigned char dosHeader[kDosHeaderSize];
    std::memcpy(dosHeader, data, kDosHeaderSize);
    const std::optional<uint64_t> imageHeader = ImageHeaderOffset(dosHeader, size);
    if (!imageHeader) {
        return 0;
    }
    Check(*imageHeader + kImageHeadersSize <= size);
    unsigned char headers[kImageHeadersSize];
    std::memcpy(headers, data + *imageHeader, kImageHeadersSize);
    const std::optional<SkippedRanges> ranges = ComputeSkippedRanges(*imageHeader, headers, size);
    if (!ranges) {
        return 0;
    }
    Check(ranges->count >= 2 && ranges->count <= SkippedRanges::kMaxRanges);
    for (size_t i = 0; i < ranges->count; ++i) {
        Check(ranges->ranges[i].begin < ranges->ranges[i].end && ranges->ranges[i].end <= size);
        Check(i == 0 || ranges->ranges[i - 1].end <= ranges->ranges[i].begin);
    }
    // The last byte picks one more chunk size, so the boundaries land everywhere.
    const size_t chunkSizes[] = {1, 3, 64, kDigestChunkSize, static_cast<size_t>(data[size - 1]) + 1};
    for (const size_t chunkSize : chunkSizes) {
        WalkInChunks(data, size, *ranges, chunkSize);
    }
    return 0;
}
