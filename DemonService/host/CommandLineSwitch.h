#pragma once

// The installer's one-switch command line: "-" or "/" and one of a few exact words.

enum class CommandLineSwitch {
    None,           // not a switch word: nothing to do
    Install,
    Remove,
    RenameShortCut,
    RetoreShortCut,
    InstallCloudyDriver,
    RunCorvane,
    Status,         // the supporter's read-only report
};

// True when the argument begins with "-" or "/".
bool HasSwitchPrefix(const char* argument);

// The switch named by an argument: after its one prefix character, the word must equal one of the
// known words exactly, in its given form or with a capital first letter (the installer's words; "status"
// has no capitalised form). Anything else is None.
CommandLineSwitch ParseCommandLineSwitch(const char* argument);
