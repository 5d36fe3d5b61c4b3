// quorvex-config-creator.com, the program's console face on Windows. cmd.exe and PowerShell
// run a .com before an .exe of the same name, so a command typed in a console lands here:
// this runs the windowed program beside it with the same arguments and this console's
// standard handles, waits for it and ends with its exit status. Without arguments it only
// starts the window, as the .exe would.
#include <string>
#include <windows.h>

namespace {

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
    std::wstring program(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetModuleFileNameW(nullptr, program.data(), DWORD(program.size()))) ==
           program.size())
        program.resize(program.size() * 2);
    program.resize(length);
    program.replace(program.size() - 4, 4, L".exe");
    const wchar_t* arguments = argumentsOf(GetCommandLineW());
    std::wstring line = L'"' + program + L'"' + arguments;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started)) {
        const std::string message = "quorvex-config-creator: could not start the program beside "
                                    "this one (Windows error " +
                                    std::to_string(GetLastError()) + ")\n";
        DWORD written = 0;
        WriteFile(startup.hStdError, message.data(), DWORD(message.size()), &written, nullptr);
        return 1;
    }
    CloseHandle(started.hThread);
    DWORD status = 0;
    const bool waits = *arguments != L'\0';
    if (waits) {
        WaitForSingleObject(started.hProcess, INFINITE);
        GetExitCodeProcess(started.hProcess, &status);
    }
    CloseHandle(started.hProcess);
    return int(status);
}
