#include "DetachedRun.h"
#include "launch/LaunchPlan.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcessEnvironment>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

// The variable that tells a detached run which handle to report on.
constexpr char kReportVariable[] = "QUORVEX_START_REPORT_HANDLE";

HANDLE g_report = nullptr;

// An inheritable copy of one of this process's standard handles, or none.
HANDLE inheritable(DWORD kind)
{
    HANDLE copy = nullptr;
    const HANDLE handle = GetStdHandle(kind);
    if (handle && handle != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
    return copy;
}

} // namespace

std::optional<int> DetachedRun::outcome()
{
    const HANDLE pipe = HANDLE(report);
    DWORD available = 0;
    if (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available == 0)
        return std::nullopt;
    unsigned char status = 0;
    DWORD read = 0;
    if (available > 0 && ReadFile(pipe, &status, 1, &read, nullptr) && read == 1) {
        // One that failed ends, and is waited for, so that nothing of it is left.
        if (status != 0)
            WaitForSingleObject(HANDLE(process), INFINITE);
        return int(status);
    }
    // Ended without a report: its own status.
    DWORD ended = 1;
    WaitForSingleObject(HANDLE(process), INFINITE);
    GetExitCodeProcess(HANDLE(process), &ended);
    return int(ended);
}

// With no console, in a process group of its own, from the root folder of the program's
// drive, with the starter's standard handles and its report pipe, inherited, and no others of
// the starter's that were not meant for a child.
std::variant<DetachedRun, QString> startDetachedRun(const QStringList& arguments)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return qt_error_string(int(GetLastError()));
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    QString line =
        windowsArgument(QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
    for (const QString& argument : arguments)
        line += u' ' + windowsArgument(argument);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(kReportVariable), QString::number(quintptr(writeEnd)));
    std::wstring block;
    for (const QString& entry : environment.toStringList())
        block += entry.toStdWString() + L'\0';
    block += L'\0';
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = inheritable(STD_ERROR_HANDLE);
    std::wstring command = line.toStdWString();
    const std::wstring root = QDir::toNativeSeparators(QDir::rootPath()).toStdWString();
    PROCESS_INFORMATION started{};
    const BOOL made =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                       DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT,
                       block.data(), root.c_str(), &startup, &started);
    const DWORD error = GetLastError();
    for (const HANDLE handle :
         {startup.hStdInput, startup.hStdOutput, startup.hStdError, writeEnd}) {
        if (handle)
            CloseHandle(handle);
    }
    if (!made) {
        CloseHandle(readEnd);
        return qt_error_string(int(error));
    }
    CloseHandle(started.hThread);
    return DetachedRun{qint64(started.dwProcessId), qintptr(readEnd), qintptr(started.hProcess)};
}

bool startedDetached()
{
    return !qgetenv(kReportVariable).isEmpty();
}

void takeStartReport()
{
    const QByteArray value = qgetenv(kReportVariable);
    if (value.isEmpty())
        return;
    qunsetenv(kReportVariable);
    const HANDLE handle = HANDLE(quintptr(value.toULongLong()));
    DWORD flags = 0;
    if (handle && GetHandleInformation(handle, &flags)) {
        // Nothing that it starts inherits the pipe.
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
        g_report = handle;
    }
}

bool reportsStart()
{
    return g_report != nullptr;
}

void reportStart(int status)
{
    if (!g_report)
        return;
    // What it said comes before the starter ends.
    std::fflush(stdout);
    std::fflush(stderr);
    const unsigned char byte = static_cast<unsigned char>(status);
    DWORD written = 0;
    WriteFile(g_report, &byte, 1, &written, nullptr);
    CloseHandle(std::exchange(g_report, nullptr));
    if (status != 0)
        return;
    std::freopen("NUL", "r", stdin);
    std::freopen("NUL", "w", stdout);
    std::freopen("NUL", "w", stderr);
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    FILE* streams[] = {stdin, stdout, stderr};
    for (int i = 0; i < 3; ++i)
        SetStdHandle(kinds[i], HANDLE(_get_osfhandle(_fileno(streams[i]))));
}
