#include "ServerStatus.h"

#include "StatusSocket.h"

#include <QEventLoop>
#include <QTimer>

std::optional<ServerStatus> parseStatus(const QByteArray& answer)
{
    const QList<QByteArray> lines = answer.split('\n');
    if (lines.size() < 2 || lines[0] != "statusResponse")
        return std::nullopt;
    ServerStatus status;
    const QList<QByteArray> info = lines[1].split('\\');
    for (qsizetype i = 1; i + 1 < info.size(); i += 2) {
        const QString value = QString::fromLatin1(info[i + 1]);
        if (info[i] == "sv_hostname")
            status.hostname = value;
        else if (info[i] == "mapname")
            status.map = value;
        else if (info[i] == "sv_maxclients")
            status.maxClients = value.toInt();
    }
    // Each player: score ping "name".
    for (const QByteArray& line : lines.mid(2)) {
        const qsizetype quote = line.indexOf('"');
        const QList<QByteArray> numbers = line.left(quote).simplified().split(' ');
        if (quote < 0 || numbers.size() < 2)
            continue;
        status.players << ServerStatus::Player{
            QString::fromLatin1(line.mid(quote + 1, line.lastIndexOf('"') - quote - 1)),
            numbers[0].toInt(), numbers[1].toInt()};
    }
    return status;
}

std::optional<ServerStatus> askStatus(quint16 port, int timeoutMs)
{
    StatusSocket socket;
    if (socket.failure())
        return std::nullopt;
    std::optional<ServerStatus> status;
    QEventLoop loop;
    QObject::connect(&socket, &StatusSocket::readyRead, &loop, [&] {
        while (const std::optional<StatusSocket::Datagram> answer = socket.receive()) {
            if (answer->senderPort == port && answer->data.startsWith(QByteArray(4, '\xff')) &&
                (status = parseStatus(answer->data.mid(4))))
                loop.quit();
        }
    });
    // A packet lost on the way is asked for again, within the server's rate limit.
    QTimer again;
    QObject::connect(&again, &QTimer::timeout, &loop,
                     [&] { socket.send(QByteArray(4, '\xff') + "getstatus", port); });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    socket.send(QByteArray(4, '\xff') + "getstatus", port);
    again.start(500);
    loop.exec();
    return status;
}

QString withoutColours(const QString& name)
{
    QString plain;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == u'^' && i + 1 < name.size() && name[i + 1].isLetterOrNumber() &&
            name[i + 1].unicode() < 0x80)
            ++i;
        else
            plain += name[i];
    }
    return plain;
}
