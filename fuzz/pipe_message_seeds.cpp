// Writes the seed corpus of pipe_message_fuzz into the folder given as the argument: one message of
// each command, and the forms of the firewall request that reach its JSON payload.

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        return 1;
    }
    const char* seeds[] = {
        "c:1",
        "app_exit:1234",
        "hibernate",
        "OpenFireWall:1",
        "\"OpenFireWall\":1,\"ports\":\"80,443\"",
        "\"OpenFireWall\":0,\"Ports\":\"5000-5010,RPC\",\"ports\":[1]",
        "\"OpenFireWall\":{\"a\":[1,2.5e3,true,null,\"\\u00e9\\n\"]},\"ports\":\"1\"",
        "\"OpenFireWall\":1,\"ports\":\"80\" trailing",
        "CloseFireWall",
    };
    int index = 0;
    for (const char* seed : seeds) {
        const std::string path = std::string(argv[1]) + "/seed" + std::to_string(index++);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            return 1;
        }
        const std::string text(seed);
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        if (std::fclose(file) != 0 || !written) {
            return 1;
        }
    }
    return 0;
}
