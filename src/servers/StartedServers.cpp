#include "StartedServers.h"

#include "ServerProcess.h"
#include "Supervisions.h"
#include "config/ConfigFile.h"
#include "launch/LaunchPlan.h"
#include "network/StatusSocket.h"
#include "script/ScriptReader.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// Makes the folder at path, and each missing one above it: on POSIX systems each the user's
// alone whatever the umask, as the folders of a user's state should be; on Windows as the
// user's profile folder that holds them lets them be. True when it is a folder.
bool makeOwnFolders(const QString& path)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (parent == path || !makeOwnFolders(parent))
        return false;
#ifdef Q_OS_WIN
    QDir().mkdir(path);
#else
    QDir().mkdir(path, kOwnerOnly);
#endif
    return QFileInfo(path).isDir();
}

} // namespace

QString StartedServers::recordsFolder()
{
    return stateFolder() + QStringLiteral("/servers");
}

bool StartedServers::makeRecordsFolder()
{
    return makeOwnFolders(recordsFolder());
}

QString StartedServers::lastLines(const QString& log)
{
    QFile file;
    if (log.isEmpty() || openRegularFile(file, log))
        return {};
    file.seek(std::max<qint64>(0, file.size() - 4096));
    const QStringList lines =
        QString::fromLocal8Bit(file.readAll())
            .split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts);
    return lines.mid(std::max<qsizetype>(0, lines.size() - 8)).join(u'\n');
}

namespace {

using StartedServers::makeRecordsFolder;
using StartedServers::recordsFolder;

QString recordPath(qint64 pid)
{
    return recordsFolder() + QStringLiteral("/%1.json").arg(pid);
}

QJsonObject toJson(const ServerRecord& server)
{
    return {{"gameDir", server.gameDir},
            {"program", server.program},
            {"pid", server.pid},
            {"startTime", server.identity.startTime},
            {"boot", server.identity.boot},
            {"port", server.port},
            {"startPort", server.startPort},
            {"script", server.script},
            {"log", server.log},
            {"input", server.input},
            {"home", server.home},
            {"startedAt", server.startedAt.toString(Qt::ISODateWithMs)},
            {"group", server.group},
            {"configFile", server.configFile},
            {"configDigest", QString::fromLatin1(server.configDigest.toHex())},
            {"stopping", server.stopping},
            {"mark", server.mark}};
}

// Whether the entry of the records folder is named as a server's console input.
bool namedAsInput(const QFileInfo& entry)
{
    return entry.fileName().startsWith(QLatin1String("input.")) &&
           !entry.fileName().endsWith(QLatin1String(".lock"));
}

// Why a record or its folder, or a server's console input, is not surely the user's own, or
// nothing, at one look.
std::optional<QString> foreignNow(const QFileInfo& entry, bool folder)
{
    if (entry.isSymLink())
        return QStringLiteral("it is a link");
    if (!folder && namedAsInput(entry)) {
        if (!isServerInput(entry.filePath()))
            return QStringLiteral("it is no named pipe (FIFO)");
    } else if (folder ? !entry.isDir()
                      : specialFileKind(entry.filePath()).has_value() || !entry.isFile())
        return folder ? QStringLiteral("it is no folder") : QStringLiteral("it is no regular file");
    if (!ownedByUser(entry.filePath()))
        return QStringLiteral("it belongs to another user");
#ifndef Q_OS_WIN
    if (folder && (entry.permissions() & (QFile::WriteGroup | QFile::WriteOther)))
        return QStringLiteral("other users may write to it");
#endif
    return std::nullopt;
}

// The same, for what holds at a second look too: another run's lock or temporary file can go,
// or come anew, while it is looked at, and what has gone is no concern.
std::optional<QString> foreign(const QFileInfo& listed, bool folder)
{
    std::optional<QString> why;
    for (int look = 0; look < 2; ++look) {
        const QFileInfo entry(listed.filePath());
        if (!entry.exists() && !entry.isSymLink())
            return std::nullopt;
        if (!(why = foreignNow(entry, folder)))
            return std::nullopt;
    }
    return why;
}

std::optional<ServerRecord> fromJson(const QByteArray& bytes)
{
    const QJsonObject json = QJsonDocument::fromJson(bytes).object();
    const ServerRecord server{
        .gameDir = json["gameDir"].toString(),
        .program = json["program"].toString(),
        .pid = qint64(json["pid"].toDouble()),
        .identity = {json["startTime"].toString(), json["boot"].toString()},
        .group = qint64(json["group"].toDouble()),
        .port = quint16(json["port"].toInt()),
        .startPort = quint16(json["startPort"].toInt()),
        .script = json["script"].toString(),
        .log = json["log"].toString(),
        .input = json["input"].toString(),
        .home = json["home"].toString(),
        .startedAt = QDateTime::fromString(json["startedAt"].toString(), Qt::ISODateWithMs),
        .configFile = json["configFile"].toString(),
        .configDigest = QByteArray::fromHex(json["configDigest"].toString().toLatin1()),
        .stopping = json["stopping"].toBool(),
        .mark = json["mark"].toString()};
    if (server.pid <= 0 || server.identity.startTime.isEmpty())
        return std::nullopt;
    return server;
}

// The record in the file at path, read only from a regular file.
std::optional<ServerRecord> readRecord(const QString& path)
{
    QFile file;
    return openRegularFile(file, path) ? std::nullopt : fromJson(file.read(65536));
}

// Whether the server's process runs, still the one started, never another program that got
// its number.
bool processRuns(const ServerRecord& server)
{
    // A record from before boots were kept holds none.
    const std::optional<ProcessIdentity> now = processIdentity(server.pid);
    return now && now->startTime == server.identity.startTime &&
           (server.identity.boot.isEmpty() || now->boot == server.identity.boot);
}

// Whether the server runs: its process, or where that has ended, a process that its start
// left with its mark, such as an engine that a start script put in a session of its own.
bool stillRuns(const ServerRecord& server)
{
    return processRuns(server) || !markedProcesses(server.mark).isEmpty();
}

// Waits up to ms for every process of the server's group to end.
bool groupEnds(qint64 group, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!processGroup(group).isEmpty()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

// Waits up to ms for the server's process to end. A process that is ending may already
// have let go of its program, so only its start time tells it apart until it has ended.
bool ends(const ServerRecord& server, int ms)
{
    const QDeadlineTimer deadline(ms);
    const auto ending = [&] {
        const std::optional<ProcessIdentity> now = processIdentity(server.pid);
        return now && now->startTime == server.identity.startTime;
    };
    while (ending()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

} // namespace

QByteArray ServerRecord::digestOf(const QString& path)
{
    QFile file;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return !openRegularFile(file, path) && hash.addData(&file) ? hash.result() : QByteArray();
}

bool ServerRecord::configChanged() const
{
    // A file that can no longer be read holds what the server runs no more.
    return !configFile.isEmpty() && !configDigest.isEmpty() && digestOf(configFile) != configDigest;
}

QString ServerRecord::homePath() const
{
    return home.isEmpty() ? engineHomePath().value_or(QString()) : home;
}

quint16 ServerRecord::currentPort() const
{
    return openedUdpPort(pid).value_or(port);
}

QString ServerRecord::described(const std::optional<ServerStatus>& status) const
{
    const QString answer = status ? QStringLiteral("\"%1\" on %2 with %3 of %4 players")
                                        .arg(withoutColours(status->hostname), status->map)
                                        .arg(status->players.size())
                                        .arg(status->maxClients)
                                  : QStringLiteral("a server that does not answer");
    // While its start is watched, the port that it was started on.
    const quint16 on = currentPort() ? currentPort() : startPort;
    return QStringLiteral("%1, on UDP port %2, process %3, started %4")
        .arg(answer, on ? QString::number(on) : QStringLiteral("unknown"))
        .arg(pid)
        .arg(startedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

QJsonObject ServerRecord::statusJson(quint16 port, const std::optional<ServerStatus>& answer) const
{
    QJsonObject entry{
        {"gameDir", gameDir},
        {"pid", pid},
        {"port", port ? QJsonValue(port) : QJsonValue()},
        {"startedAt", startedAt.toOffsetFromUtc(startedAt.offsetFromUtc()).toString(Qt::ISODate)},
        {"script", script},
        {"log", log},
        {"homePath", home.isEmpty() ? QJsonValue() : QJsonValue(home)},
        {"configFile",
         configFile.isEmpty() ? QJsonValue() : QJsonValue(QDir::toNativeSeparators(configFile))},
        {"configChanged", configChanged()},
        {"answering", answer.has_value()}};
    if (answer) {
        QJsonArray players;
        for (const ServerStatus::Player& player : answer->players)
            players.append(
                QJsonObject{{"name", player.name}, {"score", player.score}, {"ping", player.ping}});
        entry.insert("hostname", answer->hostname);
        entry.insert("plainHostname", withoutColours(answer->hostname));
        entry.insert("map", answer->map);
        entry.insert("maxClients", answer->maxClients);
        entry.insert("players", players);
    }
    return entry;
}

namespace StartedServers {

std::optional<QString> narrowFolders()
{
#ifdef Q_OS_WIN
    return std::nullopt;
#else
    QStringList narrowed;
    for (const QString& path : {stateFolder(), recordsFolder()}) {
        const QFileInfo folder(path);
        const QFile::Permissions others = QFile::WriteGroup | QFile::WriteOther;
        if (folder.isSymLink() || !folder.isDir() || !ownedByUser(path) ||
            !(folder.permissions() & others))
            continue;
        if (QFile::setPermissions(path, kOwnerOnly))
            narrowed << QDir::toNativeSeparators(path);
    }
    if (narrowed.isEmpty())
        return std::nullopt;
    return QStringLiteral("Other users could write to \"%1\", where the tool keeps the records "
                          "of the servers it started; it is now yours alone.")
        .arg(narrowed.join(QStringLiteral("\" and \"")));
#endif
}

std::optional<Problem> untrusted()
{
    // The state folder and the records folder in it, then each record.
    QFileInfoList entries{QFileInfo(stateFolder()), QFileInfo(recordsFolder())};
    entries.removeIf([](const QFileInfo& entry) { return !entry.exists() && !entry.isSymLink(); });
    const qsizetype folders = entries.size();
    if (folders == 2 && entries[1].isDir() && !entries[1].isSymLink())
        entries += QDir(recordsFolder())
                       .entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                      QDir::NoDotAndDotDot);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (const std::optional<QString> why = foreign(entries[i], i < folders))
            return Problem{nullptr,
                           QStringLiteral("The tool does not trust \"%1\", which should "
                                          "hold its records of the servers it started: "
                                          "%2. Nothing was stopped or started; remove it, "
                                          "or make it yours alone.")
                               .arg(QDir::toNativeSeparators(entries[i].filePath()), *why)};
    }
    return std::nullopt;
}

namespace {

// The records, the servers that still run or else those that ended by themselves, by start.
QList<ServerRecord> records(bool running)
{
    if (untrusted())
        return {};
    QList<ServerRecord> servers;
    const QDir folder(recordsFolder());
    for (const QString& name : folder.entryList({QStringLiteral("*.json")}, QDir::Files)) {
        if (foreign(QFileInfo(folder.filePath(name)), false))
            continue;
        const std::optional<ServerRecord> server = readRecord(folder.filePath(name));
        if (!server)
            QFile::remove(folder.filePath(name));
        else if (stillRuns(*server) == running)
            servers << *server;
    }
    std::sort(servers.begin(), servers.end(), [](const ServerRecord& a, const ServerRecord& b) {
        return a.startedAt < b.startedAt;
    });
    return servers;
}

} // namespace

QList<ServerRecord> live()
{
    return records(true);
}

QList<ServerRecord> untold()
{
    return records(false);
}

std::variant<QList<ServerRecord>, Problem> chosen(const std::optional<QString>& gameDir,
                                                  std::optional<quint16> port)
{
    if (const std::optional<Problem> problem = untrusted())
        return *problem;
    QList<ServerRecord> servers = live();
    if (port)
        servers.removeIf([&](const ServerRecord& server) { return server.knownPort() != *port; });
    if (!gameDir)
        return servers;
    if (!QFileInfo(*gameDir).isDir())
        return Problem{&ServerSettings::gameDir,
                       QStringLiteral("\"%1\" is no folder, so no server is of it; nothing was "
                                      "stopped. Give the game directory as it is now, or no "
                                      "--game-dir for every server.")
                           .arg(*gameDir)};
    // One folder by its cleaned path, or where both exist, by the path links lead to.
    const auto same = [](const QString& a, const QString& b) {
        const QString canonical = QFileInfo(a).canonicalFilePath();
        return QDir::cleanPath(a) == QDir::cleanPath(b) ||
               (!canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath());
    };
    servers.removeIf([&](const ServerRecord& server) { return !same(server.gameDir, *gameDir); });
    return servers;
}

QStringList takeEnded()
{
    QStringList texts;
    for (const ServerRecord& server : records(false)) {
        QString text = QStringLiteral("The server of process %1 in \"%2\", started %3, has "
                                      "ended by itself since.")
                           .arg(server.pid)
                           .arg(server.gameDir,
                                server.startedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        if (QFile log; !server.log.isEmpty() && !openRegularFile(log, server.log))
            text += QStringLiteral(" The last lines of its log \"%1\":\n%2")
                        .arg(server.log, lastLines(server.log));
        texts << text;
        retire(server);
    }
    return texts + Supervisions::takeUntold();
}

std::optional<QString> remember(const ServerRecord& server)
{
    if (!makeRecordsFolder())
        return QStringLiteral("Could not create the folder \"%1\" for the record of the "
                              "server.")
            .arg(recordsFolder());
    if (const std::optional<QString> reason = writeFileAtomically(
            recordPath(server.pid), QJsonDocument(toJson(server)).toJson(), Readers::OwnerOnly))
        return QStringLiteral("Could not keep the record of the server as \"%1\": %2.")
            .arg(recordPath(server.pid), *reason);
    return std::nullopt;
}

namespace {

// The servers that have ended and been told, oldest first, whose scripts and logs are
// kept for a while: each as its game directory, script and log.
QString endedPath()
{
    return recordsFolder() + QStringLiteral("/ended.list");
}

QJsonArray endedServers()
{
    QFile file;
    return openRegularFile(file, endedPath()) ? QJsonArray()
                                              : QJsonDocument::fromJson(file.readAll()).array();
}

void keepEnded(const QJsonArray& ended)
{
    if (makeRecordsFolder())
        (void)writeFileAtomically(endedPath(), QJsonDocument(ended).toJson(QJsonDocument::Compact),
                                  Readers::OwnerOnly);
}

// Whether path is a script or log that the tool installs in the game directory's arena
// folder: a regular file there, no link, named conf<N>.cfg or conf<N>.log.
bool installedFile(const QString& path, const QString& gameDir)
{
    static const QRegularExpression name(QStringLiteral("^conf\\d+\\.(cfg|log)$"));
    const QFileInfo file(path);
    return !file.isSymLink() && file.isFile() && !specialFileKind(path) &&
           name.match(file.fileName()).hasMatch() &&
           fileKey(file.absolutePath()) == fileKey(arenaPath(gameDir, nativePathStyle()));
}

} // namespace

QString inputPath(const QString& mark)
{
    if (!makeRecordsFolder())
        return {};
    return recordsFolder() + QStringLiteral("/input.") + mark;
}

void retire(const ServerRecord& server)
{
    forget(server);
    if (QFileInfo(server.input).absolutePath() == QFileInfo(recordsFolder()).absoluteFilePath())
        removeServerInput(server.input);
    // With the process and whether a stop of the tool's ended it, for the run that waits on
    // the server to tell.
    QJsonArray ended = endedServers();
    ended.append(QJsonObject{{"gameDir", server.gameDir},
                             {"script", server.script},
                             {"log", server.log},
                             {"pid", server.pid},
                             {"startTime", server.identity.startTime},
                             {"stopped", server.stopping}});
    keepEnded(ended);
}

QStringList pruneEnded(const QStringList& inUse)
{
    QSet<QString> inputs;
    for (const ServerRecord& server : records(true) + records(false))
        inputs << QFileInfo(server.input).fileName();
    for (const QFileInfo& entry :
         QDir(recordsFolder()).entryInfoList({QStringLiteral("input.*")}, QDir::System)) {
        if (namedAsInput(entry) && !inputs.contains(entry.fileName()))
            removeServerInput(entry.filePath());
    }
    const QJsonArray ended = endedServers();
    QHash<QString, int> laterOfTheirGame;
    QJsonArray kept;
    QList<QJsonObject> older;
    for (qsizetype i = ended.size() - 1; i >= 0; --i) {
        const QJsonObject server = ended[i].toObject();
        if (laterOfTheirGame[server["gameDir"].toString()]++ < kKeptEnded)
            kept.prepend(server);
        else
            older << server;
    }
    QStringList keptFiles;
    for (const QJsonValue& server : kept)
        keptFiles << server["script"].toString() << server["log"].toString();
    keptFiles.removeAll(QString());
    if (older.isEmpty())
        return keptFiles;
    QSet<QString> keep;
    for (const QString& file : inUse + keptFiles)
        keep << fileKey(file);
    for (const QJsonObject& server : older) {
        for (const QString& path : {server["script"].toString(), server["log"].toString()}) {
            if (!path.isEmpty() && !keep.contains(fileKey(path)) &&
                installedFile(path, server["gameDir"].toString()))
                QFile::remove(path);
        }
    }
    keepEnded(kept);
    return keptFiles;
}

void forget(const ServerRecord& server)
{
    if (readRecord(recordPath(server.pid)) == server)
        QFile::remove(recordPath(server.pid));
}

std::optional<Ending> ending(const ServerRecord& server, ServerProcess& process)
{
    const bool child = process.pid() == server.pid;
    const std::optional<ServerRecord> kept = readRecord(recordPath(server.pid));
    const bool recorded = kept && kept->identity == server.identity;
    if (child ? !process.exitStatus() : recorded && stillRuns(*kept))
        return std::nullopt;
    // A stop of the tool's marks the record, and lists the end as its own once done.
    const QJsonArray ended = endedServers();
    if ((recorded && kept->stopping) || std::ranges::any_of(ended, [&](const QJsonValue& each) {
            return each["pid"].toInteger() == server.pid &&
                   each["startTime"].toString() == server.identity.startTime &&
                   each["stopped"].toBool();
        }))
        return Ending{};
    if (recorded)
        retire(server);
    if (!child)
        return Ending{1, QStringLiteral("has ended by itself")};
    return Ending{*process.exitStatus(), *process.ended()};
}

std::optional<ServerRecord> holdingGamePort(quint16 port)
{
    for (const ServerRecord& server : live()) {
        if (server.currentPort() == port)
            return server;
    }
    return std::nullopt;
}

std::optional<Problem> stop(const ServerRecord& server)
{
    const quint16 port = server.currentPort();
    // Windows asks a server to quit through its remote console, with the password that its
    // script sets; POSIX systems signal it, and read nothing.
    QString rconPassword;
#ifdef Q_OS_WIN
    if (QFile script; !server.script.isEmpty() && !openRegularFile(script, server.script))
        rconPassword = readScript(script.read(ServerScript::kMaxBytes))
                           .value(&ServerSettings::rconPassword)
                           .value_or(QString());
#endif
    // A run that still watches this server's start tells by the mark that a stop ended it.
    ServerRecord marked = server;
    marked.stopping = true;
    remember(marked);
    if (processRuns(server)) {
        askToQuit(server.pid, port, rconPassword);
        if (!ends(server, ServerProcess::kStopMs) && processRuns(server)) {
            forceToEnd(server.pid);
            ends(server, ServerProcess::kStopMs);
        }
    }
    // The rest of its group, such as the engine that a start script runs as its child,
    // ends with it, or is made to.
    const qint64 group = server.groupLeader();
    if (!groupEnds(group, ServerProcess::kStopMs)) {
        forceToEnd(group);
        groupEnds(group, ServerProcess::kStopMs);
    }
    // And so does what its start left elsewhere with its mark, such as the start script of
    // an engine that it put in a session of its own.
    endMarked(server.mark, ServerProcess::kStopMs);
    QStringList left;
    for (const GroupMember& member : processGroup(group) + markedProcesses(server.mark))
        left << QStringLiteral("process %1, %2").arg(member.pid).arg(member.commandLine);
    left.removeDuplicates();
    if (stillRuns(server) || !left.isEmpty()) {
        remember(server);
        return Problem{nullptr, QStringLiteral("Could not stop the server of process %1; stop "
                                               "it from its console or the system's tools.%2")
                                    .arg(server.pid)
                                    .arg(left.isEmpty() ? QString()
                                                        : QStringLiteral(" Still running: ") +
                                                              left.join(QStringLiteral("; ")))};
    }
    retire(marked);
    // Its port is free once the system has closed its sockets.
    const QDeadlineTimer deadline(ServerProcess::kStopMs);
    while (port != 0 && udpPortTaken(port) && !deadline.hasExpired())
        QThread::msleep(10);
    if (port != 0 && udpPortTaken(port))
        return Problem{nullptr,
                       QStringLiteral("The server of process %1 has ended, but UDP port %2 is "
                                      "still taken %3 seconds later, by %4.")
                           .arg(server.pid)
                           .arg(port)
                           .arg(ServerProcess::kStopMs / 1000)
                           .arg(udpPortHolder(port).value_or(QStringLiteral("a program that "
                                                                            "the system does "
                                                                            "not name")))};
    return std::nullopt;
}

bool stoppedElsewhere(const ServerRecord& server)
{
    const std::optional<ServerRecord> kept = readRecord(recordPath(server.pid));
    return !kept || kept->identity != server.identity || kept->stopping;
}

std::variant<std::unique_ptr<QLockFile>, Problem>
holdNumbers(const std::function<bool()>& keepWaiting)
{
    const QString folder = recordsFolder();
    const bool made = makeRecordsFolder();
    auto lock = std::make_unique<QLockFile>(folder + QStringLiteral("/numbers.lock"));
    while (made && !lock->tryLock(100) && lock->error() == QLockFile::LockFailedError) {
        if (!keepWaiting())
            return std::unique_ptr<QLockFile>();
    }
    if (made && lock->isLocked())
        return lock;
    const QString why = !made ? QStringLiteral("it cannot be made there")
                        : lock->error() == QLockFile::PermissionError
                            ? QStringLiteral("it may not be written")
                            : QStringLiteral("no file can be made in it");
    return Problem{nullptr, QStringLiteral("Could not write to the tool's state folder \"%1\", "
                                           "where it keeps the records of the servers it "
                                           "started: %2. Nothing was stopped or started; make "
                                           "the folder yours and writable.")
                                .arg(QDir::toNativeSeparators(folder), why)};
}

} // namespace StartedServers
