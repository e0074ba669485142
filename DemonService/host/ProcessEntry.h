#pragma once

// The process entry: one installer switch, or the service dispatcher. Returns the process exit code.
int RunProcessEntry(int argc, char** argv);
