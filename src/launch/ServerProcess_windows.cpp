#include "ServerProcess.h"

#include <QDir>
#include <QProcess>
#include <shlobj.h>
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

private:
    HANDLE m_process;
};

} // namespace

// The server opens its own console window, shown normally without taking the focus from
// the tool.
std::variant<std::unique_ptr<ServerProcess>, QString> startServerProcess(const ServerStart& start)
{
    QProcess process;
    process.setProgram(start.program);
    process.setArguments(start.arguments);
    process.setWorkingDirectory(start.workingDirectory);
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* arguments) {
        arguments->flags |= CREATE_NEW_CONSOLE;
        arguments->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        arguments->startupInfo->wShowWindow = SW_SHOWNOACTIVATE;
    });
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return process.errorString();
    return std::make_unique<WindowsServerProcess>(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid)));
}
