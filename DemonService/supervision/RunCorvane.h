#pragma once

// Starting the application on the interactive user's desktop.

// Starts the program at path in the session attached to the physical console, with the token and the
// environment of the user logged on there, on desktop "winsta0\default", and returns at once: the
// new process is neither waited for nor kept. background 1 adds " /mode:background" to its command
// line; any other value starts it normally. The path is both the program started and, in double
// quotes, the head of its command line, so blanks in it never select another program.
//
// Sets the process's current directory to the program's folder, which the new process inherits; the
// directory stays changed. Nothing is reported to the caller: failures are logged ("RunCorvane path is
// NULL", "WTSGetActiveConsoleSessionId return false", "CreateEnvironmentBlock return false",
// "RunCorvane fail"), except a missing user token, which is silent. A path that does not fit the
// 512-unit command line is refused with "RunCorvane fail". Any thread may call it; only LocalSystem
// obtains the user's token.
void RunCorvane(const wchar_t* path, int background);
