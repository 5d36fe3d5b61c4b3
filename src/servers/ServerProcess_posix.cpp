#include "ProcessControl.h"
#include "ServerProcess.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

bool serverLogsToFile()
{
    return true;
}

bool serverReadsInput()
{
    return true;
}

bool isServerInput(const QString& path)
{
    struct stat status {};
    return !path.isEmpty() && lstat(QFile::encodeName(path).constData(), &status) == 0 &&
           S_ISFIFO(status.st_mode);
}

void removeServerInput(const QString& path)
{
    if (!isServerInput(path))
        return;
    QFile::remove(path);
    QFile::remove(path + QStringLiteral(".lock"));
}

// The engine keeps its home path in $HOME/.q3a whenever HOME is set, even to nothing, which
// gives /.q3a; it keeps none when HOME is unset.
std::optional<QString> engineHomePath()
{
    if (!qEnvironmentVariableIsSet("HOME"))
        return QString();
    return qEnvironmentVariable("HOME") + QStringLiteral("/.q3a");
}

namespace {

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

// How the server ended, written once by the thread that waits for it.
struct Ending {
    std::atomic<bool> known{false};
    QString description; // written before known is set
    int status = 1;      // likewise
};

class PosixServerProcess : public ServerProcess {
public:
    PosixServerProcess(pid_t pid, std::shared_ptr<const Ending> ending)
        : m_pid(pid), m_ending(std::move(ending))
    {
    }

    std::optional<QString> ended() override
    {
        if (!m_ending->known.load(std::memory_order_acquire))
            return std::nullopt;
        return m_ending->description;
    }

    std::optional<int> exitStatus() override
    {
        if (!m_ending->known.load(std::memory_order_acquire))
            return std::nullopt;
        return m_ending->status;
    }

    qint64 pid() const override { return m_pid; }

    // The engine answers SIGTERM by telling its players and quitting. The start made the
    // server the leader of a process group of its own, whose number stays the group's while
    // any process of it runs, or the server is not yet reaped, so the signal reaches what it
    // started too, such as the engine that a start script runs or forks.
    bool stop() override
    {
        const auto over = [this] { return ended() && processGroup(m_pid).isEmpty(); };
        for (const int signal : {SIGTERM, SIGKILL}) {
            if (over())
                return true;
            kill(-m_pid, signal);
            for (int waited = 0; waited < kStopMs && !over(); waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return over();
    }

private:
    pid_t m_pid;
    std::shared_ptr<const Ending> m_ending;
};

// Reaps the server whenever it ends, for as long as the tool runs, so that it never stays
// behind as a zombie; when the tool ends first, the server lives on on its own.
void waitInTheBackground(pid_t server, std::shared_ptr<Ending> ending)
{
    std::thread([server, ending = std::move(ending)] {
        int status = 0;
        pid_t waited = -1;
        do {
            waited = waitpid(server, &status, 0);
        } while (waited < 0 && errno == EINTR);
        ending->description = waited == server ? describeStatus(status)
                                               : QStringLiteral("ended, how could not be told");
        if (waited == server && WIFEXITED(status))
            ending->status = WEXITSTATUS(status);
        else if (waited == server && WIFSIGNALED(status))
            ending->status = 128 + WTERMSIG(status);
        ending->known.store(true, std::memory_order_release);
    }).detach();
}

// Opens path as a descriptor numbered 3 or above, so that placing it on 0, 1 or 2 in the
// server always makes a copy without close-on-exec, even when the tool itself was started
// with those closed.
int openAboveStandard(const char* path, int flags, mode_t mode = 0)
{
    const int fd = open(path, flags | O_CLOEXEC, mode);
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

// The server's start as the system spawns it: in the game directory, in a session of its
// own so that it outlives the tool's terminal, with no descriptor of the tool's but its
// input from /dev/null and its output to the log, and with signals as a fresh program has
// them.
class Spawn {
public:
    Spawn() : m_valid(posix_spawn_file_actions_init(&m_actions) == 0)
    {
        m_valid = posix_spawnattr_init(&m_attributes) == 0 && m_valid;
    }
    ~Spawn()
    {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    Spawn(const Spawn&) = delete;
    Spawn& operator=(const Spawn&) = delete;

    // Zero, or the error number that stops the start. A step after a failed one still
    // runs, harmlessly: the start is then not made.
    int prepare(const char* directory, int input, int log)
    {
        if (!m_valid)
            return ENOMEM;
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signal : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD})
            sigaddset(&defaults, signal);
        for (const int error :
             {posix_spawn_file_actions_addchdir_np(&m_actions, directory),
              posix_spawn_file_actions_adddup2(&m_actions, input, 0),
              posix_spawn_file_actions_adddup2(&m_actions, log, 1),
              posix_spawn_file_actions_adddup2(&m_actions, log, 2),
              posix_spawn_file_actions_addclosefrom_np(&m_actions, 3),
              posix_spawnattr_setsigmask(&m_attributes, &none),
              posix_spawnattr_setsigdefault(&m_attributes, &defaults),
              posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                          POSIX_SPAWN_SETSIGDEF)}) {
            if (error != 0)
                return error;
        }
        return 0;
    }

    // Zero with the server's process id, or the error number that stopped the start, an
    // execution failure included.
    int start(pid_t& pid, char* const* argv, char* const* environment)
    {
        return posix_spawn(&pid, argv[0], &m_actions, &m_attributes, argv, environment);
    }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
    bool m_valid;
};

} // namespace

std::variant<std::unique_ptr<ServerProcess>, QString> startServerProcess(const ServerStart& start)
{
    QList<QByteArray> arguments{QFile::encodeName(start.program)};
    for (const QString& argument : start.arguments)
        arguments << argument.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    // The tool's environment, with the start's mark in place of any that it carries.
    const QByteArray prefix = QByteArray(kStartMarkVariable) + '=';
    QByteArray mark = prefix + start.mark.toLatin1();
    std::vector<char*> environment;
    for (char** each = environ; *each; ++each) {
        if (!QByteArray(*each).startsWith(prefix))
            environment.push_back(*each);
    }
    if (!start.mark.isEmpty())
        environment.push_back(mark.data());
    environment.push_back(nullptr);

    // The server writes every remote command into its log, the remote console's password
    // with it, so the log is its owner's alone, and never the file a link leads to.
    const int log = openAboveStandard(
        QFile::encodeName(start.logPath).constData(),
        O_WRONLY | O_CREAT | (start.appendToLog ? 0 : O_TRUNC) | O_APPEND | O_NOFOLLOW, 0600);
    if (log >= 0)
        fchmod(log, 0600);
    if (log < 0)
        return QStringLiteral("Could not create the server's log file \"%1\": %2.")
            .arg(start.logPath, QString::fromLocal8Bit(strerror(errno)));
    // The server's input: nothing, or a FIFO that it holds open for writing too, so that it
    // never reads the FIFO's end while no command is being written.
    const QByteArray inputPath = QFile::encodeName(start.inputPath);
    const bool fifo = !inputPath.isEmpty();
    int error = fifo && mkfifo(inputPath.constData(), 0600) != 0 ? errno : 0;
    const bool made = fifo && error == 0;
    const int input = error  ? -1
                      : fifo ? openAboveStandard(inputPath.constData(), O_RDWR | O_NOFOLLOW)
                             : openAboveStandard("/dev/null", O_RDONLY);
    if (input >= 0 && fifo)
        fchmod(input, 0600);
    if (error == 0 && input < 0)
        error = errno;

    pid_t server = -1;
    if (error == 0) {
        Spawn spawn;
        const QByteArray directory = QFile::encodeName(start.workingDirectory);
        error = spawn.prepare(directory.constData(), input, log);
        if (error == 0)
            error = spawn.start(server, argv.data(), environment.data());
    }
    if (input >= 0)
        close(input);
    close(log);
    if (error != 0) {
        if (made)
            removeServerInput(start.inputPath);
        return fifo && !made
                   ? QStringLiteral("Could not make the server's console input \"%1\": %2")
                         .arg(start.inputPath, QString::fromLocal8Bit(strerror(error)))
                   : QString::fromLocal8Bit(strerror(error));
    }

    auto ending = std::make_shared<Ending>();
    waitInTheBackground(server, ending);
    return std::make_unique<PosixServerProcess>(server, std::move(ending));
}
