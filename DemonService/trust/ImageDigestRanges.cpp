#include "trust/ImageDigestRanges.h"

namespace {

std::uint32_t ReadUint32(const unsigned char* bytes) noexcept
{
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// The file stores these fields as signed 32-bit little-endian values.
std::int64_t ReadInt32(const unsigned char* bytes) noexcept
{
    const std::uint32_t raw = ReadUint32(bytes);
    return raw >= 0x80000000u ? static_cast<std::int64_t>(raw) - 0x100000000LL : static_cast<std::int64_t>(raw);
}

bool HeadersFit(std::uint64_t imageHeader, std::uint64_t fileSize) noexcept
{
    return fileSize >= kImageHeadersSize && imageHeader <= fileSize - kImageHeadersSize;
}

} // namespace

std::optional<std::uint64_t> ImageHeaderOffset(const unsigned char (&dosHeader)[kDosHeaderSize],
                                               std::uint64_t fileSize)
{
    const std::int64_t offset = ReadInt32(dosHeader + kImageHeaderOffsetField);
    if (offset < 0 || !HeadersFit(static_cast<std::uint64_t>(offset), fileSize)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(offset);
}

std::optional<SkippedRanges> ComputeSkippedRanges(std::uint64_t imageHeader,
                                                  const unsigned char (&headers)[kImageHeadersSize],
                                                  std::uint64_t fileSize)
{
    if (!HeadersFit(imageHeader, fileSize)) {
        return std::nullopt;
    }
    SkippedRanges result;
    const std::uint64_t checksum = imageHeader + kChecksumOffset;
    const std::uint64_t entry = imageHeader + kCertificateEntryOffset;
    result.ranges[0] = {checksum, checksum + kChecksumSize};
    result.ranges[1] = {entry, entry + kCertificateEntrySize};
    result.count = 2;

    const std::uint64_t tableOffset = ReadUint32(headers + kCertificateEntryOffset);
    const std::int64_t tableSize = ReadInt32(headers + kCertificateEntryOffset + 4);
    if (tableSize > 0) {
        // A table before the end of its own entry would overlap the other ranges; one past the end
        // of the file is not there to skip. Neither is a signed image.
        const std::uint64_t size = static_cast<std::uint64_t>(tableSize);
        if (tableOffset < result.ranges[1].end || tableOffset > fileSize || size > fileSize - tableOffset) {
            return std::nullopt;
        }
        result.ranges[2] = {tableOffset, tableOffset + size};
        result.count = 3;
    }
    return result;
}

DigestWalk::DigestWalk(const SkippedRanges& ranges) noexcept : m_ranges(ranges)
{
    if (m_ranges.count > SkippedRanges::kMaxRanges) {
        m_ranges.count = SkippedRanges::kMaxRanges;
    }
}

DigestWalk::Cut DigestWalk::Next(std::size_t bytesRead) noexcept
{
    const std::uint64_t chunkStart = m_position;
    m_position += bytesRead;
    Cut cut;
    cut.hashLength = bytesRead;
    for (std::size_t i = 0; i < m_ranges.count; ++i) {
        const ByteRange& range = m_ranges.ranges[i];
        if (m_skipped[i] || m_position <= range.begin) {
            continue;
        }
        // range.begin < m_position <= chunkStart + bytesRead, so the cut stays inside the chunk; a
        // range that began before this chunk (never the case for ordered ranges) cuts it to nothing.
        const std::uint64_t keep = range.begin > chunkStart ? range.begin - chunkStart : 0;
        if (keep < cut.hashLength) {
            cut.hashLength = static_cast<std::size_t>(keep);
        }
        m_position = range.end;
        m_skipped[i] = true;
        cut.seek = true;
    }
    return cut;
}

std::wstring DigestText(const unsigned char (&digest)[kDigestBytes])
{
    static constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(kDigestTextChars);
    for (const unsigned char byte : digest) {
        text.push_back(kHexDigits[byte >> 4]);
        text.push_back(kHexDigits[byte & 0x0F]);
    }
    return text;
}
