#include "ProcessControl.h"
#include "network/StatusSocket.h"

#include <QDir>
#include <vector>
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <aclapi.h>
#include <shlobj.h>
#include <windows.h>
// clang-format on

namespace {

// A handle that closes itself, such as of a process or of a server's job.
struct Handle {
    explicit Handle(HANDLE opened) : handle(opened) {}
    ~Handle()
    {
        if (handle)
            CloseHandle(handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE handle;
};

Handle openProcess(qint64 pid, DWORD access)
{
    return Handle(OpenProcess(access, FALSE, DWORD(pid)));
}

// The job of a server's start, opened by its name.
Handle openJob(qint64 pid, DWORD access)
{
    return Handle(OpenJobObjectW(access, FALSE, serverJobName(pid).toStdWString().c_str()));
}

// The program that the process runs, as its file's name.
QString programName(qint64 pid)
{
    const Handle process = openProcess(pid, PROCESS_QUERY_LIMITED_INFORMATION);
    wchar_t path[MAX_PATH];
    DWORD size = MAX_PATH;
    if (!process.handle || !QueryFullProcessImageNameW(process.handle, 0, path, &size))
        return QString();
    const QString program = QString::fromWCharArray(path, int(size));
    return program.mid(program.lastIndexOf(u'\\') + 1);
}

// The system's table of IPv4 UDP sockets, with the process of each.
std::vector<char> udpTable()
{
    ULONG size = 0;
    GetExtendedUdpTable(nullptr, &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
    std::vector<char> buffer(size + 1024);
    size = ULONG(buffer.size());
    if (GetExtendedUdpTable(buffer.data(), &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0) !=
        NO_ERROR)
        return {};
    return buffer;
}

} // namespace

QString serverJobName(qint64 pid)
{
    return QStringLiteral("Local\\quorvex-config-creator-server-%1").arg(pid);
}

std::optional<ProcessIdentity> processIdentity(qint64 pid)
{
    const Handle process = openProcess(pid, PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE);
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
    const std::vector<char> table = udpTable();
    if (table.empty())
        return std::nullopt;
    return udpPortIn(*reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(table.data()), pid);
}

// Wine gives every socket's owner as process 0, which names no program.
std::optional<QString> udpPortHolder(quint16 port)
{
    const std::vector<char> buffer = udpTable();
    if (buffer.empty())
        return std::nullopt;
    const auto& table = *reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(buffer.data());
    for (DWORD i = 0; i < table.dwNumEntries; ++i) {
        const MIB_UDPROW_OWNER_PID& row = table.table[i];
        if (ntohs(u_short(row.dwLocalPort)) != port || row.dwOwningPid == 0)
            continue;
        const QString program = programName(row.dwOwningPid);
        return program.isEmpty()
                   ? QStringLiteral("process %1").arg(row.dwOwningPid)
                   : QStringLiteral("\"%1\" (process %2)").arg(program).arg(row.dwOwningPid);
    }
    return std::nullopt;
}

QList<GroupMember> markedProcesses(const QString&)
{
    return {};
}

bool endMarked(const QString&, int)
{
    return true;
}

std::optional<qint64> serverOnPort(quint16, const QString&)
{
    return std::nullopt;
}

qint64 processGroupOf(qint64 pid)
{
    return pid;
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
    const Handle process = openProcess(pid, PROCESS_TERMINATE);
    return process.handle && TerminateProcess(process.handle, 1);
}

// The whole job of the server's start ends with it, such as a child that it started.
void forceToEnd(qint64 pid)
{
    if (const Handle job = openJob(pid, JOB_OBJECT_TERMINATE); job.handle)
        TerminateJobObject(job.handle, 1);
    const Handle process = openProcess(pid, PROCESS_TERMINATE);
    if (process.handle)
        TerminateProcess(process.handle, 1);
}

void endProcess(qint64 pid, bool)
{
    if (const Handle process = openProcess(pid, PROCESS_TERMINATE); process.handle)
        TerminateProcess(process.handle, 1);
}

QList<GroupMember> processGroup(qint64 pid)
{
    const Handle job = openJob(pid, JOB_OBJECT_QUERY);
    if (!job.handle)
        return {};
    constexpr DWORD kMost = 1024;
    std::vector<char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + kMost * sizeof(ULONG_PTR));
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    if (!QueryInformationJobObject(job.handle, JobObjectBasicProcessIdList, list,
                                   DWORD(buffer.size()), nullptr))
        return {};
    QList<GroupMember> members;
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) {
        const qint64 member = qint64(list->ProcessIdList[i]);
        if (processIdentity(member))
            members << GroupMember{member, programName(member)};
    }
    return members;
}

bool ownedByUser(const QString& path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.toStdWString().c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                              &descriptor) != ERROR_SUCCESS)
        return false;
    // The user's own, or a group's that the user's token holds.
    bool own = false;
    HANDLE token = nullptr;
    if (owner && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<char> user(size);
        own = GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
              EqualSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, owner);
        CloseHandle(token);
    }
    BOOL member = FALSE;
    own = own || (owner && CheckTokenMembership(nullptr, owner, &member) && member);
    LocalFree(descriptor);
    return own;
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
