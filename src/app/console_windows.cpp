// quorvex-config-creator.com, the program's console face on Windows. cmd.exe and PowerShell
// run a .com before an .exe of the same name, so a command typed in a console lands here:
// this runs the windowed program beside it with the same arguments and this console's
// standard handles, waits for it and ends with its exit status. Ctrl+C reaches both, as they
// share the console: the program answers it, and this one waits for the program's status.
// Without arguments it only starts the window, as the .exe would.
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

// Writes a message to standard error, in the console's own characters there.
void say(const wchar_t* message)
{
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(error, &mode)) {
        WriteConsoleW(error, message, DWORD(lstrlenW(message)), &written, nullptr);
        return;
    }
    char bytes[400];
    const int size =
        WideCharToMultiByte(CP_ACP, 0, message, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (size > 1)
        WriteFile(error, bytes, DWORD(size - 1), &written, nullptr);
}

// Says what failed, with Windows' error number, and gives the status of a failure.
int failed(const wchar_t* what)
{
    wchar_t message[300];
    wsprintfW(message, L"quorvex-config-creator: %s (Windows error %lu)\r\n", what, GetLastError());
    say(message);
    return 1;
}

// Ctrl+C and Ctrl+Break are the program's to answer; this one waits for it to end.
BOOL WINAPI passedOn(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

} // namespace

int main()
{
    static wchar_t program[kMaxLine];
    static wchar_t line[kMaxLine];
    const DWORD length = GetModuleFileNameW(nullptr, program, kMaxLine);
    const wchar_t* arguments = argumentsOf(GetCommandLineW());
    if (length < 4 || length >= kMaxLine)
        return failed(L"cannot tell where this program lies, as its path is too long");
    if (lstrlenW(program) + lstrlenW(arguments) + 3 >= int(kMaxLine)) {
        say(L"quorvex-config-creator: the command line is too long to pass on to the program: "
            L"Windows passes at most 32,767 characters, the program's path included.\r\n");
        return 1;
    }
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
    SetConsoleCtrlHandler(passedOn, TRUE);
    if (!CreateProcessW(program, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started))
        return failed(L"could not start the program beside this one");
    CloseHandle(started.hThread);
    DWORD status = 0;
    if (*arguments != L'\0') {
        if (WaitForSingleObject(started.hProcess, INFINITE) != WAIT_OBJECT_0)
            return failed(L"could not wait for the program to end");
        if (!GetExitCodeProcess(started.hProcess, &status))
            return failed(L"could not learn how the program ended");
    }
    CloseHandle(started.hProcess);
    return int(status);
}
