#pragma once

#include "support/Files.h"

#include <QStringList>

// What a test executable started and left running. POSIX only: on Windows no process tree
// is read, and nothing is ever reported.
#ifndef Q_OS_WIN

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <csignal>
#include <optional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

// Makes this test process the parent of every process it starts, also of one whose own
// parent has ended, such as a server started by a program that then exits, so that
// livingDescendants() finds them all.
inline void adoptOrphans()
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

// A process's parent and state letter from /proc, or nothing when it is gone.
inline std::optional<std::pair<pid_t, char>> processStatus(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // "pid (name) S ppid ...", where the name may hold spaces and parentheses.
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 2 || fields[0].isEmpty())
        return std::nullopt;
    return std::pair{pid_t(fields[1].toInt()), fields[0][0]};
}

// Whether a process has ended; a zombie has, and holds nothing any more.
inline bool processGone(pid_t pid)
{
    const auto status = processStatus(pid);
    return !status || status->second == 'Z';
}

// Kills a process of this one's and waits until it has ended, so that whatever it held,
// such as a port, is free again. A number that no longer belongs to a child, as once the
// process has ended and been reaped, is left alone.
inline bool stopProcess(pid_t pid)
{
    if (const auto status = processStatus(pid); !status || status->first != getpid())
        return true;
    ::kill(pid, SIGKILL);
    const QDeadlineTimer deadline(10000);
    while (!processGone(pid)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

// The processes whose parent is one of parents, alive or zombies as asked.
inline QList<pid_t> childrenOf(const QList<pid_t>& parents, bool zombies)
{
    QList<pid_t> children;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = name.toInt(&number);
        if (const auto status = number ? processStatus(pid) : std::nullopt;
            status && parents.contains(status->first) && (status->second == 'Z') == zombies)
            children << pid;
    }
    return children;
}

// Every process this one started, directly or through others, that is still alive, each
// as its id and command line. Ended orphans that were handed to this process are reaped.
inline QStringList livingDescendants()
{
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    QStringList living;
    for (QList<pid_t> generation = childrenOf({getpid()}, false); !generation.isEmpty();
         generation = childrenOf(generation, false)) {
        for (const pid_t pid : generation)
            living << QStringLiteral("%1 %2").arg(pid).arg(QString::fromLocal8Bit(
                readAll(QStringLiteral("/proc/%1/cmdline").arg(pid)).replace('\0', ' ')));
    }
    return living;
}

#else

inline void adoptOrphans() {}

inline QStringList livingDescendants()
{
    return {};
}

#endif

#include <QTest>

// Fails the test when a process that the test executable started is still alive: called
// as the executable's last test step, after adoptOrphans() as its first.
inline void checkNothingLeftRunning()
{
    const QStringList living = livingDescendants();
    QVERIFY2(living.isEmpty(), qPrintable(QStringLiteral("still running: ") + living.join(u'\n')));
}
