#include "ProcessControl.h"
#include "StatusSocket.h"

#include <QDir>
#include <vector>
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <shlobj.h>
#include <windows.h>
// clang-format on

namespace {

// A process handle that closes itself.
struct Process {
    explicit Process(qint64 pid, DWORD access) : handle(OpenProcess(access, FALSE, DWORD(pid))) {}
    ~Process()
    {
        if (handle)
            CloseHandle(handle);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    HANDLE handle;
};

} // namespace

std::optional<ProcessIdentity> processIdentity(qint64 pid)
{
    const Process process(pid, PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE);
    if (!process.handle || WaitForSingleObject(process.handle, 0) != WAIT_TIMEOUT)
        return std::nullopt;
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process.handle, &created, &exited, &kernel, &user))
        return std::nullopt;
    // The creation time counts from 1601, across boots.
    const quint64 start = (quint64(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return ProcessIdentity{QString::number(start), {}};
}

std::optional<quint16> udpPortIn(const MIB_UDPTABLE_OWNER_PID& table, qint64 pid)
{
    for (DWORD i = 0; i < table.dwNumEntries; ++i) {
        const MIB_UDPROW_OWNER_PID& row = table.table[i];
        if (row.dwOwningPid != 0 && qint64(row.dwOwningPid) == pid)
            return ntohs(u_short(row.dwLocalPort));
    }
    return std::nullopt;
}

std::optional<quint16> openedUdpPort(qint64 pid)
{
    ULONG size = 0;
    GetExtendedUdpTable(nullptr, &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
    std::vector<char> buffer(size + 1024);
    size = ULONG(buffer.size());
    if (GetExtendedUdpTable(buffer.data(), &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0) !=
        NO_ERROR)
        return std::nullopt;
    return udpPortIn(*reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(buffer.data()), pid);
}

// A console program in a console of its own gets no request to quit from another program,
// but the engine's remote console takes one.
bool askToQuit(qint64 pid, quint16 port, const QString& rconPassword)
{
    if (port != 0 && !rconPassword.isEmpty()) {
        StatusSocket socket;
        if (!socket.failure()) {
            socket.send(QByteArray(4, '\xff') + "rcon " + rconPassword.toLatin1() + " quit", port);
            return true;
        }
    }
    const Process process(pid, PROCESS_TERMINATE);
    return process.handle && TerminateProcess(process.handle, 1);
}

void forceToEnd(qint64 pid)
{
    const Process process(pid, PROCESS_TERMINATE);
    if (process.handle)
        TerminateProcess(process.handle, 1);
}

QStringList processGroup(qint64)
{
    return {};
}

QString stateFolder()
{
    wchar_t folder[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return QDir::toNativeSeparators(QDir::homePath() +
                                        QStringLiteral("/AppData/Local/quorvex-config-creator"));
    return QDir::toNativeSeparators(QString::fromWCharArray(folder)) +
           QStringLiteral("\\quorvex-config-creator");
}
