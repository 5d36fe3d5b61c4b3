// Prints the first two script numbers that a run of the program draws.
#include "servers/ScriptNumbers.h"

#include <cstdio>

int main()
{
    const int first = processScriptNumbers().next();
    const int second = processScriptNumbers().next();
    std::printf("%d %d\n", first, second);
}
