#pragma once

// Which bytes of a 64-bit image its signed-file digest covers, decided from the image's own headers.
//
// The digest runs over the whole file in order but leaves out three ranges, each once: the image
// checksum, the certificate table's directory entry and the certificate table itself. Those are the
// parts that signing writes, so the digest of a signed image equals the digest its signature carries.
//
// Everything here works on values the caller has read; nothing reads a file. Offsets come from the
// file and are untrusted: every function checks them against the file size before they are used.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// The DOS header, read from the start of the file; its signed 32-bit field at byte 60 is the offset
// of the image header.
constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kImageHeaderOffsetField = 60;

// Bytes read at the image header: the signature, file header and 64-bit optional header up to and
// including the certificate table's directory entry.
constexpr std::size_t kImageHeadersSize = 264;

// Positions relative to the image header.
constexpr std::uint32_t kChecksumOffset = 88;
constexpr std::uint32_t kChecksumSize = 4;
constexpr std::uint32_t kCertificateEntryOffset = 168; // file offset, then size, of the certificate table
constexpr std::uint32_t kCertificateEntrySize = 8;

// Reads are made in chunks of this size.
constexpr std::size_t kDigestChunkSize = 65536;

// SHA-256: 32 bytes, written as 64 upper-case hexadecimal characters.
constexpr std::size_t kDigestBytes = 32;
constexpr std::size_t kDigestTextChars = 64;

// Bytes [begin, end) of the file.
struct ByteRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// The ranges a digest leaves out, in file order, disjoint, each inside the file: the checksum, the
// certificate entry and, when the image has a certificate table, the table.
struct SkippedRanges {
    static constexpr std::size_t kMaxRanges = 3;
    ByteRange ranges[kMaxRanges];
    std::size_t count = 0;
};

// The image header's offset from the DOS header of a file of fileSize bytes. nullopt when the offset
// is negative or the kImageHeadersSize bytes at it would run past the end of the file.
std::optional<std::uint64_t> ImageHeaderOffset(const unsigned char (&dosHeader)[kDosHeaderSize],
                                               std::uint64_t fileSize);

// The skipped ranges, from the headers read at imageHeader (a value ImageHeaderOffset accepted for
// the same fileSize). The certificate table counts when its size, a signed 32-bit value, is positive;
// it must then lie inside the file and after the certificate entry. nullopt when it does not, or when
// imageHeader does not leave room for the headers.
std::optional<SkippedRanges> ComputeSkippedRanges(std::uint64_t imageHeader,
                                                  const unsigned char (&headers)[kImageHeadersSize],
                                                  std::uint64_t fileSize);

// Cuts a sequential read of the file into what goes into the digest. The caller reads a chunk at
// Position(), passes the count read to Next() and hashes the first hashLength bytes of that chunk;
// when seek is set, the file pointer must be moved to Position() before the next read.
//
// After each read, every range not yet skipped is looked at in file order: when the read has gone
// past its start, the chunk is cut to end there and the position moves to the range's end. With the
// disjoint, ordered ranges that ComputeSkippedRanges gives, hashLength never exceeds the bytes read
// and every byte outside the ranges is hashed exactly once.
class DigestWalk {
public:
    struct Cut {
        std::size_t hashLength = 0;
        bool seek = false;
    };

    explicit DigestWalk(const SkippedRanges& ranges) noexcept;

    Cut Next(std::size_t bytesRead) noexcept;
    std::uint64_t Position() const noexcept { return m_position; }

private:
    SkippedRanges m_ranges;
    bool m_skipped[SkippedRanges::kMaxRanges] = {};
    std::uint64_t m_position = 0;
};

// The digest as text: each byte as two characters of "0123456789ABCDEF", high half first.
std::wstring DigestText(const unsigned char (&digest)[kDigestBytes]);
