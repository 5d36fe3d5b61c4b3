#include "ServerWatch.h"

#include "config/ConfigFile.h"
#include "gametree/GameTree.h"
#include "servers/ProcessControl.h"

#include <QFile>
#include <QRegularExpression>

namespace {

constexpr int kLookEveryMs = 100;
// The server answers a source address at most once a second after a burst of ten.
constexpr int kQueryEveryMs = 500;
constexpr int kTailLines = 8;
const QByteArray kPacketStart(4, '\xff');

// The program on the server's port, named where the system tells who it is.
QString portHolder(quint16 port)
{
    const std::optional<QString> holder = udpPortHolder(port);
    return holder ? QStringLiteral("Another program, %1,").arg(*holder)
                  : QStringLiteral("Another program");
}

// The port that the server's log says it opened. A server whose port is taken tries the next
// ones, each after an "Opening" line of its own that a warning follows when the port is
// taken, so a port counts once a line other than that warning follows its own line.
std::optional<quint16> openedPort(const QString& log)
{
    static const QRegularExpression opening(QStringLiteral("^Opening IP socket: .*:(\\d+)$"));
    const QStringList lines = log.split(u'\n'); // the last one is not yet finished
    std::optional<quint16> port;
    for (qsizetype i = 0; i + 2 < lines.size(); ++i) {
        const QRegularExpressionMatch match = opening.match(lines[i]);
        if (match.hasMatch() && !lines[i + 1].startsWith(u"WARNING: NET_IPSocket: bind"))
            port = quint16(match.captured(1).toUInt());
    }
    return port;
}

} // namespace

ServerWatch::ServerWatch(StartedServer server, QObject* parent)
    : QObject(parent), m_server(std::move(server))
{
    connect(&m_timer, &QTimer::timeout, this, &ServerWatch::look);
    connect(&m_socket, &StatusSocket::readyRead, this, &ServerWatch::readAnswers);
    m_elapsed.start();
    m_timer.start(kLookEveryMs);
    // Where something else held the game's port, that may be a server started earlier, whose
    // answers would pass for the new one's: only the port the new server names counts then.
    if (!m_server.portWasTaken)
        m_port = m_server.port;
    if (const std::optional<QString>& failure = m_socket.failure())
        QTimer::singleShot(0, this, [this, reason = *failure] {
            finish({{nullptr,
                     QStringLiteral("The game server was started, but the tool could not open a "
                                    "UDP socket to ask it for its status (%1), so its start "
                                    "cannot be confirmed. Ask it from a game client, or check "
                                    "its console.")
                         .arg(reason)}});
        });
}

QString ServerWatch::log() const
{
    if (m_server.logPath.isEmpty())
        return {};
    QFile file;
    return openRegularFile(file, m_server.logPath) ? QString()
                                                   : QString::fromLocal8Bit(file.readAll());
}

QString ServerWatch::logTail() const
{
    if (m_server.logPath.isEmpty())
        return {};
    const QStringList lines =
        log().split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return QStringLiteral("\n\nIts log \"%1\" is empty.").arg(m_server.logPath);
    return QStringLiteral("\n\nThe last lines of its log \"%1\":\n%2")
        .arg(m_server.logPath,
             lines.mid(std::max<qsizetype>(0, lines.size() - kTailLines)).join(u'\n'));
}

std::optional<Problem> ServerWatch::logProblem(const QString& text) const
{
    const QString script = QStringLiteral("conf%1").arg(m_server.scriptNumber);
    static const QRegularExpression noMap(QStringLiteral("Can't find map maps/([^\\r\\n]*)\\.bsp"));
    if (const QRegularExpressionMatch match = noMap.match(text); match.hasMatch()) {
        return Problem{
            &ServerSettings::initialMap,
            QStringLiteral("the game server could not find the map \"%1\"; give the name of "
                           "a map that is installed (maps/%1.bsp in the game's folders).")
                .arg(match.captured(1)),
            Retry::CreateAndRun, logTail()};
    }
    if (text.contains(QStringLiteral("couldn't exec ") + script + QStringLiteral(".cfg\n"))) {
        return Problem{nullptr,
                       QStringLiteral("The game server could not execute its script %1.cfg in the "
                                      "arena folder; check that the arena folder can be read.")
                           .arg(script),
                       Retry::Run, logTail()};
    }
    // The files that the script executes, each named as the server names it.
    for (const QString& executed : m_server.script.executed) {
        const QString path = GameTree::scriptPath(executed);
        if (text.contains(QStringLiteral("couldn't exec ") + path + u'\n')) {
            return Problem{
                nullptr,
                QStringLiteral("The game server could not find \"%1\", which its script "
                               "executes; put %1 in the arena folder, or remove its exec "
                               "line from the config file.")
                    .arg(path),
                Retry::Run, logTail()};
        }
    }
    return std::nullopt;
}

void ServerWatch::look()
{
    // A start script that forks the server and ends leaves it in the start's group; one that
    // puts it in a session of its own leaves it to be found by the start's mark.
    const qint64 pid = m_server.process->pid();
    const std::optional<QString> ended = m_server.process->ended();
    const QList<GroupMember> group = ended || !m_port ? processGroup(pid) : QList<GroupMember>();
    if (ended && group.isEmpty() && markedProcesses(m_server.mark).isEmpty()) {
        const qint64 seconds = qMax<qint64>(1, (m_elapsed.elapsed() + 999) / 1000);
        finish({{nullptr,
                 QStringLiteral("The game server stopped within %1 of its start: it %2.")
                     .arg(seconds == 1 ? QStringLiteral("a second")
                                       : QStringLiteral("%1 seconds").arg(seconds),
                          *ended),
                 Retry::None, logTail()}});
        return;
    }
    const QString text = log();
    if (const std::optional<quint16> port = openedPort(text))
        m_port = port;
    else
        for (qsizetype i = -1; !m_port && pid != 0 && i < group.size(); ++i)
            m_port = openedUdpPort(i < 0 ? pid : group[i].pid);
    if (std::optional<Problem> problem = logProblem(text))
        return finish({*problem});
    if (m_elapsed.elapsed() >= kWatchMs) {
        if (!m_port)
            finish({{nullptr,
                     QStringLiteral("The new server's start cannot be confirmed: it does not "
                                    "say which port it took, and the program on UDP port %1 "
                                    "may be a game server itself, whose answers would pass for "
                                    "the new one's. Stop the program that holds port %1, such "
                                    "as a server started earlier: %2.")
                         .arg(m_server.port)
                         .arg(udpPortHolder(m_server.port)
                                  .value_or(QStringLiteral("the system does not say which"))),
                     Retry::Run, logTail()}});
        else
            finish({{nullptr,
                     QStringLiteral("The game server did not answer on UDP port %1 within %2 "
                                    "seconds of its start.")
                         .arg(*m_port)
                         .arg(kWatchMs / 1000),
                     Retry::None, logTail()}});
        return;
    }
    if (m_port && (m_lastQuery < 0 || m_elapsed.elapsed() - m_lastQuery >= kQueryEveryMs)) {
        m_lastQuery = m_elapsed.elapsed();
        m_socket.send(kPacketStart + "getstatus", *m_port);
    }
}

void ServerWatch::readAnswers()
{
    while (const std::optional<StatusSocket::Datagram> answer = m_socket.receive()) {
        if (m_port && answer->senderPort == *m_port &&
            answer->data.startsWith(kPacketStart + "statusResponse\n")) {
            const QStringList differences = differencesFromScript(answer->data.split('\n')[1]);
            // What the log shows of the start counts before an answer does.
            if (std::optional<Problem> problem = logProblem(log()))
                finish({*problem});
            else if (differences.isEmpty())
                finish({});
            else
                finish({{nullptr,
                         QStringLiteral("The game server runs, but not as its script "
                                        "conf%1.cfg sets it:\n%2\nThe server may have held a "
                                        "value within its own limits, such as at most 64 "
                                        "players, or another file of that name runs in its "
                                        "place, such as arena/conf%1.cfg in the engine's home "
                                        "folder or in a pk3 file of the game's folders. Correct "
                                        "the value or remove that file.")
                             .arg(m_server.scriptNumber)
                             .arg(differences.join(u'\n')),
                         Retry::Run}});
            return;
        }
    }
}

QStringList ServerWatch::differencesFromScript(const QByteArray& info) const
{
    // The status's server info: \key\value\key\value.
    const QList<QByteArray> parts = info.split('\\');
    const auto value = [&](const char* key) {
        for (qsizetype i = 1; i + 1 < parts.size(); i += 2) {
            if (parts[i] == key)
                return QString::fromLatin1(parts[i + 1]);
        }
        return QString();
    };
    // The engine reads the player count as a number and finds maps in any case.
    enum class Compare { Exactly, AsNumber, AnyCase };
    struct Shown {
        std::optional<QString> expected;
        const char* key;
        const char* what;
        Compare compare;
    };
    const ScriptReading& script = m_server.script;
    QStringList differences;
    for (const Shown& shown : {Shown{script.value(&ServerSettings::serverName), "sv_hostname",
                                     "Server name", Compare::Exactly},
                               Shown{script.value(&ServerSettings::maxClients), "sv_maxclients",
                                     "Maximum clients", Compare::AsNumber},
                               Shown{script.map, "mapname", "Map", Compare::AnyCase}}) {
        // What an unread file that the script executes sets is not known; the map is.
        if (!shown.expected || (!m_server.unread.isEmpty() && shown.compare != Compare::AnyCase))
            continue;
        const QString held = value(shown.key);
        const bool same = shown.compare == Compare::AsNumber
                              ? held.toInt() == shown.expected->toInt()
                              : held.compare(*shown.expected, shown.compare == Compare::AnyCase
                                                                  ? Qt::CaseInsensitive
                                                                  : Qt::CaseSensitive) == 0;
        if (!same)
            differences << QStringLiteral("%1 (%2): the server has \"%3\", the script \"%4\".")
                               .arg(QLatin1String(shown.what), QLatin1String(shown.key), held,
                                    *shown.expected);
    }
    return differences;
}

void ServerWatch::finish(Problems problems)
{
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    // A holder that let the port go before the server opened it leaves nothing to say, and
    // one that took it after the start moves the server as much.
    if (m_port ? *m_port != m_server.port : m_server.portWasTaken)
        problems.prepend(Problem{
            nullptr,
            m_port ? QStringLiteral("%1 already uses UDP port %2, so the new server took port "
                                    "%3, and players who connect to port %2 will not reach it.")
                         .arg(portHolder(m_server.port))
                         .arg(m_server.port)
                         .arg(*m_port)
                   : QStringLiteral("%1 already uses UDP port %2, so the new server will take "
                                    "another port, and players who connect to port %2 will not "
                                    "reach it.")
                         .arg(portHolder(m_server.port))
                         .arg(m_server.port)});
    emit finished(problems);
}
