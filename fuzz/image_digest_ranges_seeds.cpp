// Writes the seed corpus of image_digest_ranges_fuzz into the folder given as the argument: small
// images laid out as a signed 64-bit image is, and the ways their header offsets go wrong.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void PutLe32(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes.at(at + i) = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::vector<unsigned char> Image(std::size_t size, std::uint32_t header, std::uint32_t table, std::uint32_t tableSize)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<unsigned char>(i * 13 + 1);
    }
    bytes[0] = 'M';
    bytes[1] = 'Z';
    PutLe32(bytes, 60, header);
    if (std::uint64_t{header} + 176 <= size) {
        PutLe32(bytes, header, 0x00004550); // "PE\0\0"
        PutLe32(bytes, header + 168, table);
        PutLe32(bytes, header + 172, tableSize);
    }
    return bytes;
}

bool Write(const std::string& folder, const char* name, const std::vector<unsigned char>& bytes)
{
    const std::string path = folder + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const bool ok = Write(folder, "signed", Image(1024, 128, 896, 128)) &&
                    Write(folder, "signed-header-at-64", Image(700, 64, 600, 100)) &&
                    Write(folder, "unsigned", Image(512, 128, 0, 0)) &&
                    Write(folder, "negative-table-size", Image(512, 128, 400, 0xFFFFFF00u)) &&
                    Write(folder, "table-past-end", Image(512, 128, 400, 200)) &&
                    Write(folder, "table-over-headers", Image(1024, 128, 200, 100)) &&
                    Write(folder, "header-past-end", Image(400, 300, 0, 0)) &&
                    Write(folder, "negative-header", Image(512, 0x80000000u, 0, 0)) &&
                    Write(folder, "headers-exactly", Image(128 + 264, 128, 0, 0));
    return ok ? 0 : 1;
}
