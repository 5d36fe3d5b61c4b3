#include "ProcessControl.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readProcFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The start time is the 22nd field of /proc/PID/stat, in clock ticks since the boot, which
// the kernel's boot id names; a zombie has ended.
std::optional<ProcessIdentity> processIdentity(qint64 pid)
{
    const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype name = stat.lastIndexOf(')');
    if (name < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(name + 2).split(' ');
    if (fields.size() < 20 || fields[0] == "Z" || fields[0] == "X")
        return std::nullopt;
    return ProcessIdentity{
        QString::fromLatin1(fields[19]),
        QString::fromLatin1(readProcFile(QStringLiteral("/proc/sys/kernel/random/boot_id")))
            .trimmed()};
}

// The process's sockets are links to socket:[INODE] among its descriptors, and
// /proc/net/udp gives each UDP socket's local address and inode.
std::optional<quint16> openedUdpPort(qint64 pid)
{
    QStringList inodes;
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& descriptor : descriptors.entryInfoList(QDir::System | QDir::Files)) {
        const QString target = descriptor.symLinkTarget();
        const qsizetype slash = target.lastIndexOf(u'/');
        const QString name = target.mid(slash + 1);
        if (name.startsWith(u"socket:["))
            inodes << name.mid(8).chopped(1);
    }
    if (inodes.isEmpty())
        return std::nullopt;
    const QList<QByteArray> lines = readProcFile(QStringLiteral("/proc/net/udp")).split('\n');
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 10 || !inodes.contains(QString::fromLatin1(fields[9])))
            continue;
        bool ok = false;
        const uint port = fields[1].mid(fields[1].indexOf(':') + 1).toUInt(&ok, 16);
        if (ok)
            return quint16(port);
    }
    return std::nullopt;
}

namespace {

// Who holds a UDP port: its user, and its process where the system lets the tool see it.
struct PortHolder {
    uid_t uid;
    std::optional<qint64> pid;
};

// /proc/net/udp and udp6 give each socket's local port, its user and its inode, and the
// holder's descriptors link to socket:[INODE], which only its user and root may read.
std::optional<PortHolder> portHolder(quint16 port)
{
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        const QList<QByteArray> lines = readProcFile(QString::fromLatin1(table)).split('\n');
        for (const QByteArray& line : lines.mid(1)) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            bool ok = false;
            if (fields.size() < 10 ||
                fields[1].mid(fields[1].indexOf(':') + 1).toUInt(&ok, 16) != port || !ok)
                continue;
            const uid_t uid = fields[7].toUInt();
            const QString socket = QStringLiteral("socket:[%1]").arg(QLatin1String(fields[9]));
            for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
                const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(name));
                for (const QFileInfo& descriptor :
                     descriptors.entryInfoList(QDir::System | QDir::Files)) {
                    if (descriptor.symLinkTarget().endsWith(u'/' + socket))
                        return PortHolder{uid, name.toLongLong()};
                }
            }
            return PortHolder{uid, std::nullopt};
        }
    }
    return std::nullopt;
}

} // namespace

namespace {

// Whether the running process pid carries the mark in the environment it started with,
// which only its user may read.
bool carries(qint64 pid, const QByteArray& assignment)
{
    const QByteArray environment = readProcFile(QStringLiteral("/proc/%1/environ").arg(pid));
    return environment.startsWith(assignment + '\0') ||
           environment.contains('\0' + assignment + '\0');
}

} // namespace

QList<GroupMember> markedProcesses(const QString& mark)
{
    QList<GroupMember> marked;
    if (mark.isEmpty())
        return marked;
    const QByteArray assignment = QByteArray(kStartMarkVariable) + '=' + mark.toLatin1();
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = name.toLongLong(&number);
        if (number && pid != getpid() && carries(pid, assignment) && processIdentity(pid))
            marked << GroupMember{pid, QString::fromLocal8Bit(
                                           readProcFile(QStringLiteral("/proc/%1/cmdline").arg(pid))
                                               .replace('\0', ' ')
                                               .trimmed())};
    }
    return marked;
}

bool endMarked(const QString& mark, int ms)
{
    for (const int signal : {SIGTERM, SIGKILL}) {
        const QList<GroupMember> left = markedProcesses(mark);
        if (left.isEmpty())
            return true;
        for (const GroupMember& member : left)
            kill(pid_t(member.pid), signal);
        const QDeadlineTimer deadline(ms);
        while (!markedProcesses(mark).isEmpty() && !deadline.hasExpired())
            QThread::msleep(10);
    }
    return markedProcesses(mark).isEmpty();
}

std::optional<qint64> serverOnPort(quint16 port, const QString& mark)
{
    const std::optional<PortHolder> holder = portHolder(port);
    if (mark.isEmpty() || !holder || !holder->pid || holder->uid != getuid() ||
        !carries(*holder->pid, QByteArray(kStartMarkVariable) + '=' + mark.toLatin1()))
        return std::nullopt;
    return holder->pid;
}

qint64 processGroupOf(qint64 pid)
{
    const pid_t group = getpgid(pid_t(pid));
    return group > 0 ? group : pid;
}

std::optional<QString> udpPortHolder(quint16 port)
{
    const std::optional<PortHolder> holder = portHolder(port);
    if (!holder)
        return std::nullopt;
    QString user = QString::number(holder->uid);
    passwd entry{};
    passwd* found = nullptr;
    char names[4096];
    if (getpwuid_r(holder->uid, &entry, names, sizeof names, &found) == 0 && found)
        user = QString::fromLocal8Bit(found->pw_name);
    if (!holder->pid)
        return QStringLiteral("a program of user %1").arg(user);
    return QStringLiteral("\"%1\" (process %2) of user %3")
        .arg(QString::fromLocal8Bit(readProcFile(QStringLiteral("/proc/%1/comm").arg(*holder->pid)))
                 .trimmed())
        .arg(*holder->pid)
        .arg(user);
}

namespace {

// Signals the server's process group, which its start made with the server as its leader,
// or the server alone where it has left it. A group's number is never given to another
// process while a process of it runs.
bool signalServer(qint64 pid, int signal)
{
    if (getpgid(pid_t(pid)) == pid_t(pid) || !processGroup(pid).isEmpty())
        return kill(-pid_t(pid), signal) == 0;
    return kill(pid_t(pid), signal) == 0;
}

} // namespace

bool askToQuit(qint64 pid, quint16, const QString&)
{
    return signalServer(pid, SIGTERM);
}

void forceToEnd(qint64 pid)
{
    signalServer(pid, SIGKILL);
}

void endProcess(qint64 pid, bool force)
{
    kill(pid_t(pid), force ? SIGKILL : SIGTERM);
}

QList<GroupMember> processGroup(qint64 pid)
{
    QList<GroupMember> members;
    if (pid <= 0)
        return members;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 member = name.toLongLong(&number);
        const QByteArray stat =
            number ? readProcFile(QStringLiteral("/proc/%1/stat").arg(member)) : QByteArray();
        // "pid (name) state ppid pgrp ...": a zombie runs no more.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[2].toLongLong() == pid && fields[0] != "Z" &&
            fields[0] != "X")
            members << GroupMember{
                member,
                QString::fromLocal8Bit(readProcFile(QStringLiteral("/proc/%1/cmdline").arg(member))
                                           .replace('\0', ' ')
                                           .trimmed())};
    }
    return members;
}

bool ownedByUser(const QString& path)
{
    struct stat entry {};
    return lstat(QFile::encodeName(path).constData(), &entry) == 0 && entry.st_uid == getuid();
}

QString stateFolder()
{
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    const QString base =
        QDir::isAbsolutePath(state) ? state : QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/quorvex-config-creator");
}
