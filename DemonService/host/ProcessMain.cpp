// DemonService.exe: the Windows service "Orvel" and the installer's one-switch command-line tool.

#include <cstdlib>

#include "host/ProcessEntry.h"

int main(int argc, char** argv)
{
    std::exit(RunProcessEntry(argc, argv));
}
