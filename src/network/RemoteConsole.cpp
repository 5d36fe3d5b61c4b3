#include "RemoteConsole.h"

#include "StatusSocket.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

namespace {

const QByteArray kHeader(4, '\xff');
const QByteArray kPrint = kHeader + "print\n";
// The engine's own words for a password that differs, and for none set.
constexpr char kBadPassword[] = "Bad rconpassword.\n";
constexpr char kNoPassword[] = "No rconpassword set on the server.\n";
// The engine takes ten packets a second from one address, and its status queries count;
// the tool sends half as many.
constexpr int kPacketsPerSecond = 5;
constexpr int kAnswerMs = 1000;
constexpr int kSilenceMs = 300;

} // namespace

RemoteConsole::RemoteConsole(quint16 port, QByteArray password, QString paceFile)
    : m_port(port), m_password(std::move(password)), m_paceFile(std::move(paceFile))
{
}

RemoteConsole::Reply RemoteConsole::run(const QByteArray& command)
{
    StatusSocket socket;
    if (socket.failure())
        return {};
    const QByteArray token =
        "quorvex-end-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    Reply reply;
    bool heard = false;
    QEventLoop loop;
    QTimer silence;
    silence.setSingleShot(true);
    QObject::connect(&silence, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &StatusSocket::readyRead, &loop, [&] {
        while (const std::optional<StatusSocket::Datagram> packet = socket.receive()) {
            if (packet->senderPort != m_port || !packet->data.startsWith(kPrint) ||
                reply.kind != Reply::Kind::NoAnswer)
                continue;
            const QByteArray text = packet->data.mid(kPrint.size());
            heard = true;
            if (text == kBadPassword || text == kNoPassword || text == token + '\n') {
                reply.kind = text == kBadPassword  ? Reply::Kind::BadPassword
                             : text == kNoPassword ? Reply::Kind::NoPassword
                                                   : Reply::Kind::Answered;
                loop.quit();
                continue;
            }
            reply.text += text;
            silence.start(kSilenceMs);
        }
    });
    // The command, and once more when nothing came in a second: a lost packet is more
    // likely than a server that is slow to answer, and the echo after it always prints.
    QTimer answer;
    answer.setSingleShot(true);
    QObject::connect(&answer, &QTimer::timeout, &loop, [&] {
        if (!heard)
            loop.quit();
    });
    for (int attempt = 0; attempt < 2 && !heard; ++attempt) {
        send(socket, "rcon " + m_password + ' ' + command);
        send(socket, "rcon " + m_password + " echo " + token);
        answer.start(kAnswerMs);
        loop.exec();
    }
    // Where the echo was lost, the silence after the reply ended it.
    if (heard && reply.kind == Reply::Kind::NoAnswer)
        reply.kind = Reply::Kind::Answered;
    return reply;
}

void RemoteConsole::send(StatusSocket& socket, const QByteArray& text)
{
    // The pace file holds the times of the last packets that any run of the tool sent to the
    // server; a file that cannot be used leaves this run's own pace.
    QLockFile lock(m_paceFile + QStringLiteral(".lock"));
    QFile pace(m_paceFile);
    const QFileInfo info(m_paceFile);
    const bool shared = !m_paceFile.isEmpty() && (!info.exists() || info.isFile()) &&
                        !info.isSymLink() && lock.tryLock(2000) &&
                        pace.open(QIODevice::ReadWrite) && pace.size() < 4096;
    if (shared) {
        m_sent.clear();
        for (const QByteArray& line : pace.readAll().split('\n'))
            if (!line.isEmpty())
                m_sent << line.toLongLong();
    }
    const auto forget = [this] {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        m_sent.removeIf([now](qint64 sent) { return sent <= now - 1000 || sent > now; });
    };
    forget();
    if (m_sent.size() >= kPacketsPerSecond) {
        std::ranges::sort(m_sent);
        const qint64 wait =
            m_sent[m_sent.size() - kPacketsPerSecond] + 1000 - QDateTime::currentMSecsSinceEpoch();
        QThread::msleep(quint64(std::clamp<qint64>(wait, 0, 1000)));
        forget();
    }
    socket.send(kHeader + text, m_port);
    m_sent << QDateTime::currentMSecsSinceEpoch();
    if (shared) {
        QByteArrayList lines;
        for (const qint64 sent : m_sent)
            lines << QByteArray::number(sent);
        pace.resize(0);
        pace.seek(0);
        pace.write(lines.join('\n'));
    }
}
