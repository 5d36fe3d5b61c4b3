#include "LaunchPlan.h"
#include "ServerProcess.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

PathStyle nativePathStyle()
{
    return PathStyle::Posix;
}

bool serverLogsToFile()
{
    return true;
}

namespace {

// What the watcher between the tool and the server reports through its pipe.
struct Report {
    enum Kind : int { Started, StartFailed, Ended } kind;
    int value; // the server's process id, the start's errno, or the wait status
};

// Moves all of size bytes through transfer, a read or write of the rest, across short
// and interrupted transfers.
template <typename Transfer> bool transferAll(Transfer transfer, char* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t n = transfer(bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= size_t(n);
    }
    return true;
}

bool writeAll(int fd, const void* data, size_t size)
{
    return transferAll([fd](char* bytes, size_t n) { return write(fd, bytes, n); },
                       static_cast<char*>(const_cast<void*>(data)), size);
}

bool readAll(int fd, void* data, size_t size)
{
    return transferAll([fd](char* bytes, size_t n) { return read(fd, bytes, n); },
                       static_cast<char*>(data), size);
}

QString describeStatus(int status)
{
    if (WIFEXITED(status))
        return QStringLiteral("exited with status %1").arg(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return QStringLiteral("was ended by signal %1 (%2)")
            .arg(WTERMSIG(status))
            .arg(QString::fromLocal8Bit(strsignal(WTERMSIG(status))));
    return QStringLiteral("ended with wait status %1").arg(status);
}

// The server's process, as the tool sees it through the watcher's pipe.
class PosixServerProcess : public ServerProcess {
public:
    explicit PosixServerProcess(int reports) : m_reports(reports) {}
    ~PosixServerProcess() override { close(m_reports); }

    std::optional<QString> ended() override
    {
        if (!m_ended) {
            Report report{};
            if (read(m_reports, &report, sizeof report) == sizeof report &&
                report.kind == Report::Ended)
                m_ended = describeStatus(report.value);
        }
        return m_ended;
    }

private:
    int m_reports;
    std::optional<QString> m_ended;
};

// Closes every descriptor from 3 up but the two given; safe between fork and exec.
void closeAllBut(int a, int b)
{
    const int kept[2] = {std::min(a, b), std::max(a, b)};
    unsigned from = 3;
    for (const int fd : kept) {
        if (unsigned(fd) > from)
            close_range(from, unsigned(fd) - 1, 0);
        from = std::max(from, unsigned(fd) + 1);
    }
    close_range(from, ~0u, 0);
}

// The server's side of the start, in the grandchild: only async-signal-safe calls.
[[noreturn]] void becomeServer(const char* directory, char* const* argv, int input, int log,
                               int startErrors)
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    if (chdir(directory) == 0 && dup2(input, 0) >= 0 && dup2(log, 1) >= 0 && dup2(log, 2) >= 0) {
        closeAllBut(startErrors, startErrors);
        execv(argv[0], argv);
    }
    const int error = errno;
    writeAll(startErrors, &error, sizeof error);
    _exit(127);
}

} // namespace

// The server is started through two forks: the first child starts a session of its own and
// a watcher, then exits at once, so the tool never keeps a child. The watcher starts the
// server, reports its process id or why it could not start, then waits for it and reports
// how it ended. The server outlives the tool; a watcher whose tool has gone just exits.
std::variant<std::unique_ptr<ServerProcess>, QString> startServerProcess(const ServerStart& start)
{
    QList<QByteArray> arguments{QFile::encodeName(start.program)};
    for (const QString& argument : start.arguments)
        arguments << argument.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const QByteArray directory = QFile::encodeName(start.workingDirectory);

    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int log = open(QFile::encodeName(start.logPath).constData(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    int reports[2] = {-1, -1};
    int startErrors[2] = {-1, -1};
    const auto closeAll = [&] {
        for (const int fd : {input, log, reports[0], reports[1], startErrors[0], startErrors[1]})
            if (fd >= 0)
                close(fd);
    };
    if (log < 0) {
        const QString reason = QString::fromLocal8Bit(strerror(errno));
        closeAll();
        return QStringLiteral("Could not create the server's log file \"%1\": %2.")
            .arg(start.logPath, reason);
    }
    if (input < 0 || pipe2(reports, O_CLOEXEC) != 0 || pipe2(startErrors, O_CLOEXEC) != 0) {
        const QString reason = QString::fromLocal8Bit(strerror(errno));
        closeAll();
        return reason;
    }

    const pid_t first = fork();
    if (first == 0) {
        setsid();
        if (fork() != 0)
            _exit(0);
        // The watcher.
        signal(SIGPIPE, SIG_IGN);
        close(reports[0]);
        const pid_t server = fork();
        if (server == 0)
            becomeServer(directory.constData(), argv.data(), input, log, startErrors[1]);
        // The watcher keeps nothing of the tool's: no terminal, no display connection.
        dup2(input, 0);
        dup2(input, 1);
        dup2(input, 2);
        closeAllBut(reports[1], startErrors[0]);
        Report report{Report::Started, int(server)};
        int error = 0;
        if (server < 0)
            report = {Report::StartFailed, errno};
        else if (readAll(startErrors[0], &error, sizeof error))
            report = {Report::StartFailed, error};
        writeAll(reports[1], &report, sizeof report);
        if (server > 0) {
            int status = 0;
            while (waitpid(server, &status, 0) < 0 && errno == EINTR) {
            }
            if (report.kind == Report::Started) {
                report = {Report::Ended, status};
                writeAll(reports[1], &report, sizeof report);
            }
        }
        _exit(0);
    }
    const int forkError = errno;
    // The watcher alone reads the start's errors and writes reports.
    for (int* fd : {&reports[1], &startErrors[0], &startErrors[1]}) {
        close(*fd);
        *fd = -1;
    }
    if (first < 0) {
        closeAll();
        return QString::fromLocal8Bit(strerror(forkError));
    }
    while (waitpid(first, nullptr, 0) < 0 && errno == EINTR) {
    }

    Report report{};
    const bool reported = readAll(reports[0], &report, sizeof report);
    const int reportsFd = reports[0];
    reports[0] = -1;
    closeAll();
    if (!reported || report.kind != Report::Started) {
        close(reportsFd);
        return QString::fromLocal8Bit(strerror(reported ? report.value : EIO));
    }
    fcntl(reportsFd, F_SETFL, fcntl(reportsFd, F_GETFL) | O_NONBLOCK);
    return std::make_unique<PosixServerProcess>(reportsFd);
}
