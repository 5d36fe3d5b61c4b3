#include "ProcessControl.h"
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

bool serverReadsInput()
{
    return false;
}

bool isServerInput(const QString&)
{
    return false;
}

void removeServerInput(const QString&) {}

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
    WindowsServerProcess(HANDLE process, HANDLE job) : m_process(process), m_job(job) {}
    ~WindowsServerProcess() override
    {
        // The job lives on with its processes, which it does not end when closed.
        for (const HANDLE handle : {m_process, m_job}) {
            if (handle)
                CloseHandle(handle);
        }
    }

    std::optional<QString> ended() override
    {
        const std::optional<int> status = exitStatus();
        if (!status)
            return std::nullopt;
        return QStringLiteral("exited with status %1").arg(DWORD(*status));
    }

    std::optional<int> exitStatus() override
    {
        DWORD code = STILL_ACTIVE;
        if (!m_process || WaitForSingleObject(m_process, 0) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(m_process, &code))
            return std::nullopt;
        return int(code);
    }

    qint64 pid() const override { return m_process ? qint64(GetProcessId(m_process)) : 0; }

    // A console program has no request to quit that reaches it in a console of its own. The
    // job ends with it what it started.
    bool stop() override
    {
        if (!m_process)
            return false;
        if (m_job)
            TerminateJobObject(m_job, 1);
        if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process, 1);
        const bool ended = WaitForSingleObject(m_process, kStopMs) == WAIT_OBJECT_0;
        for (int waited = 0; waited < kStopMs && !processGroup(pid()).isEmpty(); waited += 10)
            Sleep(10);
        return ended && processGroup(pid()).isEmpty();
    }

private:
    // None where Wine starts a Unix program, which it gives no Windows process.
    HANDLE m_process;
    // None where the system would not make one.
    HANDLE m_job;
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
// from the tool, and inherits none of the tool's handles. It starts suspended, so that it is
// in its job, under a name that a later run of the tool opens, before it can start a child.
std::variant<std::unique_ptr<ServerProcess>, QString> startServerProcess(const ServerStart& start)
{
    std::wstring line = commandLine(start).toStdWString();
    const std::wstring directory = start.workingDirectory.toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | CREATE_SUSPENDED, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &started))
        return qt_error_string(int(GetLastError()));
    // Wine runs a Unix program as a process of the system's own, and fills in nothing else.
    if (!started.hProcess)
        return std::make_unique<WindowsServerProcess>(nullptr, nullptr);
    HANDLE job = CreateJobObjectW(
        nullptr, serverJobName(qint64(GetProcessId(started.hProcess))).toStdWString().c_str());
    if (job && !AssignProcessToJobObject(job, started.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    return std::make_unique<WindowsServerProcess>(started.hProcess, job);
}
