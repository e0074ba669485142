// Writes the seed corpus of user_folder_rule_fuzz into the folder given as the argument: folder and
// profile folder pairs as UTF-16 text, the first unit giving where the folder ends.

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        return 1;
    }
    const wchar_t* seeds[] = {
        L"C:\\Users\\u\\AppData\\Roaming\\CorvaneC:\\Users\\u",
        L"\\\\host\\share\\AppDataC:\\Users\\u",
        L"\\\\?\\C:\\Users\\u\\AppData",
        L"C:\\Users\\..\\Windows\\x",
        L"D:\\Data\\\\C:\\",
    };
    int index = 0;
    for (const wchar_t* seed : seeds) {
        const std::wstring text(seed);
        // The first unit splits: the folder is the text up to the profile folder's drive letter, if any.
        const std::size_t second = text.find(L":\\", 3);
        const wchar_t split = static_cast<wchar_t>(second == std::wstring::npos ? text.size() : second - 1);
        const std::wstring input = std::wstring(1, split) + text;
        const std::string path = std::string(argv[1]) + "/seed" + std::to_string(index++);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            return 1;
        }
        for (const wchar_t unit : input) {
            const unsigned char bytes[2] = {static_cast<unsigned char>(unit & 0xFF),
                                            static_cast<unsigned char>((unit >> 8) & 0xFF)};
            std::fwrite(bytes, 1, 2, file);
        }
        std::fclose(file);
    }
    return 0;
}
