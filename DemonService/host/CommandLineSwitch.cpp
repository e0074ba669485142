#include "host/CommandLineSwitch.h"

#include <cstring>

namespace {

struct SwitchWord {
    const char* lower;
    const char* capital;  // null: no capitalised form
    CommandLineSwitch value;
};

// The installer's words, spelled as the installer spells them ("retore" included).
constexpr SwitchWord kSwitchWords[] = {
    {"install", "Install", CommandLineSwitch::Install},
    {"remove", "Remove", CommandLineSwitch::Remove},
    {"renameShortCut", "RenameShortCut", CommandLineSwitch::RenameShortCut},
    {"retoreShortCut", "RetoreShortCut", CommandLineSwitch::RetoreShortCut},
    {"installCloudyDriver", "InstallCloudyDriver", CommandLineSwitch::InstallCloudyDriver},
    {"runCorvane", "RunCorvane", CommandLineSwitch::RunCorvane},
    {"status", nullptr, CommandLineSwitch::Status},
};

} // namespace

bool HasSwitchPrefix(const char* argument)
{
    return argument != nullptr && (argument[0] == '-' || argument[0] == '/');
}

CommandLineSwitch ParseCommandLineSwitch(const char* argument)
{
    if (!HasSwitchPrefix(argument)) {
        return CommandLineSwitch::None;
    }
    const char* word = argument + 1;
    for (const SwitchWord& known : kSwitchWords) {
        if (std::strcmp(word, known.lower) == 0 || (known.capital != nullptr && std::strcmp(word, known.capital) == 0)) {
            return known.value;
        }
    }
    return CommandLineSwitch::None;
}
