// Starts the program whose path is given with a command line of the longest length Windows
// passes, 32,766 characters, which no shell can type: a short name for the program, as a
// shell in its folder passes it, " show " and a file name of x's. Prints nothing itself and
// ends with the started program's exit status.
#include <windows.h>

int wmain(int argc, wchar_t* argv[])
{
    static wchar_t line[32767];
    if (argc != 2)
        return 3;
    lstrcpyW(line, L"quorvex-config-creator show ");
    for (int at = lstrlenW(line); at < 32766; ++at)
        line[at] = L'x';
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(argv[1], line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started))
        return 4;
    DWORD status = 4;
    WaitForSingleObject(started.hProcess, INFINITE);
    GetExitCodeProcess(started.hProcess, &status);
    return int(status);
}
