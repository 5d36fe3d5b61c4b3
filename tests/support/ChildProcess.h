#pragma once

#include <QtGlobal>

// POSIX only: Windows has neither fork nor a user whose file rights a child can take on.
#ifndef Q_OS_WIN

#include <QFile>
#include <QString>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

// Work run in a forked child process, so that a test can watch it be killed or give it
// an ordinary user's rights. A child that hangs is killed by SIGALRM after 30 seconds.
struct ChildResult {
    bool exited = false;
    int exitCode = -1;
    int signal = 0;
};

inline ChildResult runInChild(const std::function<int()>& work)
{
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(30);
        _exit(work());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ChildResult result;
    result.exited = WIFEXITED(status);
    result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

// The ordinary user that work runs as when the tests run as the superuser, whom file
// permissions do not bind.
inline constexpr uid_t kNobody = 65534;

// Runs work as an ordinary user: as nobody under the superuser, otherwise as is. Exit code
// 125 means the rights could not be dropped.
inline ChildResult runUnprivileged(const std::function<int()>& work)
{
    return runInChild([&] {
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
            return 125;
        return work();
    });
}

// Gives path to the user that runUnprivileged runs as, with the given permissions for
// that user and read and search rights for everyone.
inline bool handOver(const QString& path, QFile::Permissions owner)
{
    if (geteuid() == 0 && chown(QFile::encodeName(path).constData(), kNobody, kNobody) != 0)
        return false;
    return QFile::setPermissions(path, owner | QFile::ReadGroup | QFile::ExeGroup |
                                           QFile::ReadOther | QFile::ExeOther);
}

#endif
