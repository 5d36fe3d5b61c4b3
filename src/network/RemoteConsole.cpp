#include "RemoteConsole.h"

#include "StatusSocket.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QThread>
#include <QTimer>

namespace {

const QByteArray kHeader(4, '\xff');
const QByteArray kPrint = kHeader + "print\n";
// The engine's own words for a password that differs, and for none set.
constexpr char kBadPassword[] = "Bad rconpassword.\n";
constexpr char kNoPassword[] = "No rconpassword set on the server.\n";
// Half the burst of packets that the engine takes from one address, its status queries
// included.
constexpr int kBurst = 5;
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
    const QByteArray token = endToken();
    Reply reply;
    bool heard = false;
    bool echoed = false;
    // The engine's words for a wrong or missing password, unless the echo follows them, in
    // which case the command printed them.
    std::optional<Reply::Kind> refused;
    QEventLoop loop;
    QTimer silence;
    silence.setSingleShot(true);
    QObject::connect(&silence, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &StatusSocket::readyRead, &loop, [&] {
        while (const std::optional<StatusSocket::Datagram> packet = socket.receive()) {
            if (packet->senderPort != m_port || !packet->data.startsWith(kPrint) || echoed)
                continue;
            const QByteArray text = packet->data.mid(kPrint.size());
            heard = true;
            if (text == token + '\n') {
                echoed = true;
                loop.quit();
                continue;
            }
            if (!refused && reply.text.isEmpty() && (text == kBadPassword || text == kNoPassword))
                refused = text == kBadPassword ? Reply::Kind::BadPassword : Reply::Kind::NoPassword;
            reply.text += text;
            silence.start(kSilenceMs);
        }
    });
    QTimer answer;
    answer.setSingleShot(true);
    QObject::connect(&answer, &QTimer::timeout, &loop, [&] {
        if (!heard)
            loop.quit();
    });
    send(socket, "rcon " + m_password + ' ' + command);
    send(socket, "rcon " + m_password + " echo " + token);
    answer.start(kAnswerMs);
    loop.exec();
    if (!heard) {
        // Nothing came: only the echo is asked again, since the command may have run and
        // must not run twice. An echo now says that the server is there but the command's
        // answer was lost.
        send(socket, "rcon " + m_password + " echo " + token);
        answer.start(kAnswerMs);
        loop.exec();
        reply.kind = echoed ? Reply::Kind::Lost : Reply::Kind::NoAnswer;
        return reply;
    }
    if (refused && !echoed)
        reply.kind = *refused;
    else
        reply.kind = Reply::Kind::Answered; // where the echo was lost, the silence ended it
    return reply;
}

void RemoteConsole::send(StatusSocket& socket, const QByteArray& text)
{
    // The engine takes a burst of ten packets from one address, then one a second; the tool
    // keeps to half that burst. The bucket, its level and when it was last drained, is kept
    // in the pace file, where given, so that every run of the tool keeps to it together; a
    // file that cannot be used leaves this run's own.
    const QFileInfo info(m_paceFile);
    const QFileInfo lockInfo(m_paceFile + QStringLiteral(".lock"));
    const auto usable = [](const QFileInfo& file) {
        return !file.isSymLink() && (!file.exists() || file.isFile());
    };
    QLockFile lock(lockInfo.filePath());
    QFile pace(m_paceFile);
    const bool shared = !m_paceFile.isEmpty() && usable(info) && usable(lockInfo) &&
                        lock.tryLock(500) && pace.open(QIODevice::ReadWrite) && pace.size() < 64;
    if (shared) {
        const QList<QByteArray> fields = pace.readAll().split(' ');
        if (fields.size() == 2) {
            m_level = fields[0].toInt();
            m_drained = fields[1].toLongLong();
        }
    }
    const auto drain = [this] {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const qint64 interval = now - m_drained;
        if (interval < 0 || interval / 1000 > m_level) {
            m_level = 0;
            m_drained = now;
        } else {
            m_level -= int(interval / 1000);
            m_drained = now - interval % 1000;
        }
    };
    drain();
    if (m_level >= kBurst) {
        QThread::msleep(quint64(
            std::clamp<qint64>(m_drained + 1000 - QDateTime::currentMSecsSinceEpoch(), 0, 1000)));
        drain();
    }
    socket.send(kHeader + text, m_port);
    ++m_level;
    if (shared) {
        pace.resize(0);
        pace.seek(0);
        pace.write(QByteArray::number(m_level) + ' ' + QByteArray::number(m_drained));
    }
}
