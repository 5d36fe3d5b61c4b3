#include "Console.h"

#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace Console {

int attach()
{
    int error = 0;
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (fd == STDOUT_FILENO)
            error = EBADF;
        const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
    return error;
}

bool write(FILE* stream, const QString& text)
{
    return std::fputs(text.toLocal8Bit().constData(), stream) >= 0;
}

namespace {

// The signal handler's end of a pipe whose other end the event loop watches.
int g_signalled = -1;

void signalled(int signal)
{
    const char number = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalled, &number, 1);
}

} // namespace

void onInterrupt(QObject* context, std::function<void(int status)> action)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_signalled = ends[1];
    auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, context);
    QObject::connect(
        notifier, &QSocketNotifier::activated, context, [notifier, action = std::move(action)] {
            char number = SIGINT;
            [[maybe_unused]] const ssize_t read = ::read(int(notifier->socket()), &number, 1);
            action(128 + number);
        });
    struct sigaction handling {};
    handling.sa_handler = signalled;
    sigemptyset(&handling.sa_mask);
    handling.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &handling, nullptr);
}

} // namespace Console
