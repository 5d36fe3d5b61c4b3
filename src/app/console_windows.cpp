// quorvex-config-creator.com, the program's console face on Windows. cmd.exe and PowerShell
// run a .com before an .exe of the same name, so a command typed in a console lands here:
// this runs the windowed program beside it with the same arguments and this console's
// standard handles, waits for it and ends with its exit status. Without arguments it only
// starts the window, as the .exe would.
#include <windows.h>

namespace {

// The longest command line Windows passes, with its terminating NUL.
constexpr DWORD kMaxLine = 32768;

// The command line after the program's own name, which Windows quotes when it has spaces.
const wchar_t* argumentsOf(const wchar_t* line)
{
    if (*line == L'"') {
        for (++line; *line && *line != L'"'; ++line) {
        }
        if (*line)
            ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t')
            ++line;
    }
    return line;
}

} // namespace

int main()
{
    static wchar_t program[kMaxLine];
    static wchar_t line[kMaxLine];
    const DWORD length = GetModuleFileNameW(nullptr, program, kMaxLine);
    const wchar_t* arguments = argumentsOf(GetCommandLineW());
    if (length < 4 || length >= kMaxLine ||
        lstrlenW(program) + lstrlenW(arguments) + 3 >= int(kMaxLine))
        return 1;
    lstrcpyW(program + length - 4, L".exe");
    lstrcpyW(line, L"\"");
    lstrcatW(line, program);
    lstrcatW(line, L"\"");
    lstrcatW(line, arguments);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    SetHandleInformation(startup.hStdInput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(startup.hStdOutput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(startup.hStdError, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started)) {
        char message[200];
        const int size = wsprintfA(message,
                                   "quorvex-config-creator: could not start the program beside "
                                   "this one (Windows error %lu)\r\n",
                                   GetLastError());
        DWORD written = 0;
        WriteFile(startup.hStdError, message, DWORD(size), &written, nullptr);
        return 1;
    }
    CloseHandle(started.hThread);
    DWORD status = 0;
    if (*arguments != L'\0') {
        WaitForSingleObject(started.hProcess, INFINITE);
        GetExitCodeProcess(started.hProcess, &status);
    }
    CloseHandle(started.hProcess);
    return int(status);
}
