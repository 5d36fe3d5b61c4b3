#include "InputConsole.h"
#include "config/ConfigFile.h"

#include <QEventLoop>
#include <QFile>
#include <QLockFile>
#include <QTimer>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether the engine's command buffer takes the text as the one command that the remote
// console would run. The buffer ends a command at a line end or NUL, at a semicolon outside
// quotes and comments, and at the end of a /* */ comment; a comment left open would take the
// echo's line with it.
bool oneCommand(const QByteArray& command)
{
    if (command.contains('\n') || command.contains('\r') || command.contains('\0'))
        return false;
    int quotes = 0;
    for (qsizetype at = 0; at < command.size(); ++at) {
        const char c = command[at];
        quotes += c == '"';
        if (quotes % 2 == 0 && command.mid(at, 2) == "//")
            return true;
        if (quotes % 2 == 0 && (command.mid(at, 2) == "/*" || c == ';'))
            return false;
    }
    return true;
}

// The FIFO, opened for writing where it is the user's own FIFO and a server reads it; -1
// otherwise. Never waits: with no reader it fails at once.
int openInput(const QString& path)
{
    const int fd =
        open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat status {};
    if (fd >= 0 &&
        (fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode) || status.st_uid != geteuid())) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

InputConsole::InputConsole(QString input, QString log)
    : m_input(std::move(input)), m_log(std::move(log))
{
}

ServerConsole::Reply InputConsole::run(const QByteArray& given)
{
    const QByteArray command = asTheEngineReads(given);
    if (command.size() > kLongest || !oneCommand(command))
        return {Reply::Kind::Unfit, {}};
    const QByteArray token = endToken();
    const QByteArray text = command + "\necho " + token + '\n';
    QLockFile lock(m_input + QStringLiteral(".lock"));
    QFile log;
    if (!lock.tryLock(2 * kReplyMs) || openRegularFile(log, m_log))
        return {Reply::Kind::Unwritten, {}};
    log.seek(log.size());
    const int input = openInput(m_input);
    if (input < 0)
        return {Reply::Kind::Unwritten, {}};
    const auto unread = [input] {
        int bytes = 0;
        return ioctl(input, FIONREAD, &bytes) == 0 ? bytes : -1;
    };
    if (unread() != 0 || write(input, text.constData(), size_t(text.size())) != text.size()) {
        close(input);
        return {Reply::Kind::Unwritten, {}};
    }
    // The log is read as it grows, until the echo's line comes or the time is out.
    const QByteArray end = token + '\n';
    QByteArray got;
    qsizetype at = -1;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        got += log.readAll();
        at = got.startsWith(end) ? 0 : got.indexOf('\n' + end);
        if (at >= 0)
            loop.quit();
    });
    QTimer::singleShot(kReplyMs, &loop, &QEventLoop::quit);
    poll.start(5);
    loop.exec();
    const bool read = unread() == 0;
    close(input);
    if (at < 0)
        return {read ? Reply::Kind::Lost : Reply::Kind::NoAnswer, {}};
    return {Reply::Kind::Answered, withoutEchoes(got.left(at == 0 ? 0 : at + 1))};
}
