#include "DetachedRun.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The variable that tells a detached run which descriptor to report on.
constexpr char kReportVariable[] = "QUORVEX_START_REPORT_FD";
constexpr int kReportFd = 3;

int g_report = -1;

} // namespace

std::optional<int> DetachedRun::outcome()
{
    unsigned char status = 0;
    const ssize_t read = ::read(int(report), &status, 1);
    if (read < 0 && (errno == EAGAIN || errno == EINTR))
        return std::nullopt;
    // One that failed ends, and is waited for, so that nothing of it is left.
    if (read == 1 && status != 0)
        waitpid(pid_t(pid), nullptr, 0);
    if (read == 1)
        return int(status);
    // Ended without a report: its own status, as a shell gives it.
    int ended = 0;
    if (waitpid(pid_t(pid), &ended, 0) != pid_t(pid))
        return 1;
    return WIFEXITED(ended) ? WEXITSTATUS(ended) : 128 + WTERMSIG(ended);
}

// In a session and the root folder of its own, with the starter's standard input, output and
// error and its report pipe, and no other descriptor of the starter's, as a daemon would be.
std::variant<DetachedRun, QString> startDetachedRun(const QStringList& arguments)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    QList<QByteArray> words{QFile::encodeName(QCoreApplication::applicationFilePath())};
    for (const QString& argument : arguments)
        words << argument.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    QByteArray variable = QByteArray(kReportVariable) + '=' + QByteArray::number(kReportFd);
    std::vector<char*> environment{variable.data()};
    for (char** each = environ; *each; ++each) {
        if (!QByteArray(*each).startsWith(QByteArray(kReportVariable) + '='))
            environment.push_back(*each);
    }
    environment.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD})
        sigaddset(&defaults, signal);
    int error = 0;
    for (const int step :
         {posix_spawn_file_actions_adddup2(&actions, ends[1], kReportFd),
          posix_spawn_file_actions_addclosefrom_np(&actions, kReportFd + 1),
          posix_spawn_file_actions_addchdir_np(&actions, "/"),
          posix_spawnattr_setsigmask(&attributes, &none),
          posix_spawnattr_setsigdefault(&attributes, &defaults),
          posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                    POSIX_SPAWN_SETSIGDEF)})
        error = error ? error : step;
    pid_t pid = 0;
    if (!error)
        error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(ends[1]);
    if (error) {
        close(ends[0]);
        return QString::fromLocal8Bit(std::strerror(error));
    }
    return DetachedRun{pid, ends[0]};
}

void takeStartReport()
{
    const QByteArray value = qgetenv(kReportVariable);
    if (value.isEmpty())
        return;
    qunsetenv(kReportVariable);
    if (value.toInt() == kReportFd && fcntl(kReportFd, F_SETFD, FD_CLOEXEC) == 0)
        g_report = kReportFd;
}

bool startedDetached()
{
    return !qgetenv(kReportVariable).isEmpty();
}

bool reportsStart()
{
    return g_report >= 0;
}

void reportStart(int status)
{
    if (g_report < 0)
        return;
    // What it said comes before the starter ends.
    std::fflush(stdout);
    std::fflush(stderr);
    const unsigned char byte = static_cast<unsigned char>(status);
    [[maybe_unused]] const ssize_t written = write(g_report, &byte, 1);
    close(std::exchange(g_report, -1));
    if (status != 0)
        return;
    if (const int null = open("/dev/null", O_RDWR | O_CLOEXEC); null >= 0) {
        for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
            dup2(null, fd);
        close(null);
    }
}
