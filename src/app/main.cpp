#include "WindowModule.h"
#include "cli/CommandLine.h"

// The window, or with a script's path the window filled from it; with a command or an
// option, the command line, which needs no display.
int main(int argc, char* argv[])
{
    return wantsCommandLine(argc, argv) ? runCommandLine(argc, argv) : showWindow(argc, argv);
}
