// Starts the program named first with a command line of the longest length Windows passes,
// 32,766 characters, which no shell can type: its path, " show " and a file name of x's.
// Prints nothing itself and ends with the started program's exit status.
#include <string>
#include <windows.h>

int wmain(int argc, wchar_t* argv[])
{
    if (argc != 2)
        return 3;
    std::wstring line = L"\"" + std::wstring(argv[1]) + L"\" show ";
    line.resize(32766, L'x');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return 4;
    DWORD status = 4;
    WaitForSingleObject(started.hProcess, INFINITE);
    GetExitCodeProcess(started.hProcess, &status);
    return int(status);
}
