#include "ServerStatus.h"

#include "StatusSocket.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <array>

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

QHash<quint16, ServerStatus> askStatuses(const QList<quint16>& ports, int timeoutMs)
{
    QHash<quint16, ServerStatus> statuses;
    StatusSocket socket;
    if (socket.failure() || ports.isEmpty())
        return statuses;
    QEventLoop loop;
    QObject::connect(&socket, &StatusSocket::readyRead, &loop, [&] {
        while (const std::optional<StatusSocket::Datagram> answer = socket.receive()) {
            if (!ports.contains(answer->senderPort) ||
                !answer->data.startsWith(QByteArray(4, '\xff')))
                continue;
            if (const std::optional<ServerStatus> status = parseStatus(answer->data.mid(4)))
                statuses.insert(answer->senderPort, *status);
            if (statuses.size() == QSet<quint16>(ports.begin(), ports.end()).size())
                loop.quit();
        }
    });
    // All are asked at once; a packet lost on the way is asked for again, within the
    // server's rate limit.
    const auto ask = [&] {
        for (const quint16 port : ports) {
            if (!statuses.contains(port))
                socket.send(QByteArray(4, '\xff') + "getstatus", port);
        }
    };
    QTimer again;
    QObject::connect(&again, &QTimer::timeout, &loop, ask);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    ask();
    again.start(500);
    loop.exec();
    return statuses;
}

std::optional<ServerStatus> askStatus(quint16 port, int timeoutMs)
{
    const QHash<quint16, ServerStatus> statuses = askStatuses({port}, timeoutMs);
    return statuses.contains(port) ? std::optional(statuses[port]) : std::nullopt;
}

namespace {

// Whether a colour code starts at text[i]: ^ followed by a letter or digit, as the engine's
// Q_IsColorString has it.
bool isColourCode(const QString& text, qsizetype i)
{
    return text[i] == u'^' && i + 1 < text.size() && text[i + 1].isLetterOrNumber() &&
           text[i + 1].unicode() < 0x80;
}

} // namespace

QString withoutColours(const QString& name)
{
    QString plain;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (isColourCode(name, i))
            ++i;
        else
            plain += name[i];
    }
    return plain;
}

QString withAnsiColours(const QString& text)
{
    // The engine's own table for its terminal: black shows inverse, white as the default.
    constexpr std::array<int, 8> kAnsi{7, 31, 32, 33, 34, 36, 35, 0};
    QString shown;
    bool coloured = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isColourCode(text, i)) {
            shown +=
                QStringLiteral("\x1b[0m\x1b[%1m").arg(kAnsi[(text[i + 1].unicode() - '0') & 7]);
            coloured = true;
            ++i;
        } else if (text[i] == u'\n' && coloured) {
            shown += QStringLiteral("\x1b[0m\n");
            coloured = false;
        } else {
            shown += text[i];
        }
    }
    return coloured ? shown + QStringLiteral("\x1b[0m") : shown;
}

std::optional<ConsoleStatus> parseConsoleStatus(const QByteArray& reply)
{
    const QStringList lines = QString::fromUtf8(reply).split(u'\n');
    ConsoleStatus status;
    qsizetype at = 0;
    while (at < lines.size() && !lines[at].startsWith(QStringLiteral("map: ")))
        ++at;
    if (at + 2 >= lines.size())
        return std::nullopt;
    status.map = lines[at].mid(5).trimmed();
    // The header names the columns in order; their widths vary between engines, and colour
    // codes in names break the padding, so a row is read by its words: the name runs up to
    // the colour reset that the engine prints before the address.
    if (lines[at + 1].split(u' ', Qt::SkipEmptyParts) !=
        QStringList{"cl", "score", "ping", "name", "address", "rate"})
        return std::nullopt;
    static const QRegularExpression row(
        QStringLiteral("^\\s*(\\d+)\\s+(-?\\d+)\\s+(\\S+) (.*)\\^7(\\S+)\\s+(\\d+)\\s*$"));
    for (at += 3; at < lines.size() && !lines[at].trimmed().isEmpty(); ++at) {
        const QRegularExpressionMatch match = row.match(lines[at]);
        if (!match.hasMatch())
            return std::nullopt;
        QString name = match.captured(4);
        while (name.endsWith(u' '))
            name.chop(1);
        status.clients.append({match.captured(1).toInt(), match.captured(2).toInt(),
                               match.captured(3), name, match.captured(5),
                               match.captured(6).toInt()});
    }
    return status;
}

QList<ConsoleStatus::Client> ConsoleStatus::fitting(const QString& player) const
{
    const bool isSlot = !player.isEmpty() &&
                        std::ranges::all_of(player, [](QChar c) { return c >= u'0' && c <= u'9'; });
    QList<Client> fit;
    for (const Client& client : clients) {
        if ((isSlot && client.slot == player.toInt()) ||
            withoutColours(client.name).compare(player, Qt::CaseInsensitive) == 0)
            fit << client;
    }
    return fit;
}

QJsonObject ConsoleStatus::toJson() const
{
    QJsonArray players;
    for (const Client& client : clients) {
        bool isNumber = false;
        const int ping = client.ping.toInt(&isNumber);
        players.append(QJsonObject{{"slot", client.slot},
                                   {"name", client.name},
                                   {"plainName", withoutColours(client.name)},
                                   {"score", client.score},
                                   {"ping", isNumber ? QJsonValue(ping) : QJsonValue()},
                                   {"state", isNumber ? "active" : client.ping},
                                   {"address", client.address},
                                   {"rate", client.rate}});
    }
    return QJsonObject{{"map", map}, {"players", players}};
}
