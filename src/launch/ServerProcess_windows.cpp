#include "ServerProcess.h"

#include <QDir>
#include <shlobj.h>
#include <string>
#include <windows.h>

// The dedicated server shows its output in a console window of its own.
bool serverLogsToFile()
{
    return false;
}

// ioquake3 keeps its home path in the user's roaming application data, as Quake3; the
// original quake3.exe keeps none apart from the game directory.
std::optional<QString> engineHomePath()
{
    wchar_t folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return std::nullopt;
    return QDir::toNativeSeparators(QString::fromWCharArray(folder)) + QStringLiteral("\\Quake3");
}

namespace {

// Holds the handle that the start returned, so that the process it names stays this server
// for as long as the tool watches it, even once it has ended.
class WindowsServerProcess : public ServerProcess {
public:
    explicit WindowsServerProcess(HANDLE process) : m_process(process) {}
    ~WindowsServerProcess() override
    {
        if (m_process)
            CloseHandle(m_process);
    }

    std::optional<QString> ended() override
    {
        DWORD code = STILL_ACTIVE;
        if (!m_process || WaitForSingleObject(m_process, 0) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(m_process, &code))
            return std::nullopt;
        return QStringLiteral("exited with status %1").arg(code);
    }

    qint64 pid() const override { return m_process ? qint64(GetProcessId(m_process)) : 0; }

    // A console program has no request to quit that reaches it in a console of its own.
    bool stop() override
    {
        if (!m_process)
            return false;
        if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process, 1);
        return WaitForSingleObject(m_process, kStopMs) == WAIT_OBJECT_0;
    }

private:
    // None where Wine starts a Unix program, which it gives no Windows process.
    HANDLE m_process;
};

// The command line as Windows programs split it: the program, quoted when it holds a space,
// then each argument after a space. The server's arguments hold no spaces or quotes.
QString commandLine(const ServerStart& start)
{
    QString program = start.program;
    if (!program.startsWith(u'"') && !program.endsWith(u'"') && program.contains(u' '))
        program = u'"' + program + u'"';
    program.replace(u'/', u'\\');
    QString line = program;
    for (const QString& argument : start.arguments)
        line += u' ' + argument;
    return line;
}

} // namespace

// The server opens a console window of its own, shown normally without taking the focus
// from the tool, and inherits none of the tool's handles.
std::variant<std::unique_ptr<ServerProcess>, QString> startServerProcess(const ServerStart& start)
{
    std::wstring line = commandLine(start).toStdWString();
    const std::wstring directory = start.workingDirectory.toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &started))
        return qt_error_string(int(GetLastError()));
    CloseHandle(started.hThread);
    return std::make_unique<WindowsServerProcess>(started.hProcess);
}
