#include "Supervisions.h"

#include "config/ConfigFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QThread>

namespace {

constexpr std::array<std::pair<RestartPolicy, const char*>, 3> kPolicies{{
    {RestartPolicy::No, "no"},
    {RestartPolicy::OnFailure, "on-failure"},
    {RestartPolicy::Always, "always"},
}};

const QString kPrefix = QStringLiteral("supervisor.");

QString supervisionPath(qint64 pid)
{
    return StartedServers::recordsFolder() + u'/' + kPrefix + QString::number(pid);
}

QString time(const QDateTime& at)
{
    return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString isoTime(const QDateTime& at)
{
    return at.isValid() ? at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate) : QString();
}

QJsonObject toJson(const Supervision& supervision, const QJsonArray& untold)
{
    return {{"pid", supervision.pid},
            {"startTime", supervision.identity.startTime},
            {"boot", supervision.identity.boot},
            {"policy", restartWord(supervision.policy)},
            {"gameDir", supervision.gameDir},
            {"port", supervision.port},
            {"restarts", supervision.restarts},
            {"lastRestartAt", supervision.lastRestartAt.toString(Qt::ISODateWithMs)},
            {"lastReason", supervision.lastReason},
            {"serverPid", supervision.serverPid},
            {"serverStartTime", supervision.serverStartTime},
            {"restartAt", supervision.restartAt.toString(Qt::ISODateWithMs)},
            {"downReason", supervision.downReason},
            {"ended", supervision.ended},
            {"stopping", supervision.stopping},
            {"untold", untold}};
}

// The record at path, and what of it is untold; nothing for one that is no record, or that
// another user could have put there.
std::optional<std::pair<Supervision, QJsonArray>> readSupervision(const QString& path)
{
    QFile file;
    if (StartedServers::untrusted() || openRegularFile(file, path))
        return std::nullopt;
    const QJsonObject json = QJsonDocument::fromJson(file.read(1 << 20)).object();
    const std::optional<RestartPolicy> policy = restartPolicyOf(json["policy"].toString());
    const Supervision supervision{
        .pid = qint64(json["pid"].toDouble()),
        .identity = {json["startTime"].toString(), json["boot"].toString()},
        .policy = policy.value_or(RestartPolicy::No),
        .gameDir = json["gameDir"].toString(),
        .port = quint16(json["port"].toInt()),
        .restarts = json["restarts"].toInt(),
        .lastRestartAt = QDateTime::fromString(json["lastRestartAt"].toString(), Qt::ISODateWithMs),
        .lastReason = json["lastReason"].toString(),
        .serverPid = qint64(json["serverPid"].toDouble()),
        .serverStartTime = json["serverStartTime"].toString(),
        .restartAt = QDateTime::fromString(json["restartAt"].toString(), Qt::ISODateWithMs),
        .downReason = json["downReason"].toString(),
        .ended = json["ended"].toString(),
        .stopping = json["stopping"].toBool()};
    if (supervision.pid <= 0 || supervision.identity.startTime.isEmpty() || !policy)
        return std::nullopt;
    return std::pair{supervision, json["untold"].toArray()};
}

// Held by one run at a time while it changes what of the supervisions is untold.
std::unique_ptr<QLockFile> holdUntold()
{
    if (!StartedServers::makeRecordsFolder())
        return nullptr;
    auto lock = std::make_unique<QLockFile>(StartedServers::recordsFolder() +
                                            QStringLiteral("/supervisions.lock"));
    return lock->tryLock(5000) ? std::move(lock) : nullptr;
}

QList<std::pair<Supervision, QJsonArray>> allSupervisions()
{
    QList<std::pair<Supervision, QJsonArray>> all;
    const QDir folder(StartedServers::recordsFolder());
    for (const QString& name : folder.entryList({kPrefix + u'*'}, QDir::Files | QDir::System)) {
        if (name.endsWith(QLatin1String(".lock")))
            continue;
        // Each is named after the process that it names.
        if (auto read = readSupervision(folder.filePath(name));
            read && name == kPrefix + QString::number(read->first.pid))
            all << *read;
    }
    return all;
}

bool supervisorRuns(const Supervision& supervision)
{
    const std::optional<ProcessIdentity> now = processIdentity(supervision.pid);
    return now && *now == supervision.identity;
}

} // namespace

QString restartWord(RestartPolicy policy)
{
    for (const auto& [each, word] : kPolicies) {
        if (each == policy)
            return QLatin1String(word);
    }
    return {};
}

std::optional<RestartPolicy> restartPolicyOf(const QString& word)
{
    for (const auto& [policy, each] : kPolicies) {
        if (word == QLatin1String(each))
            return policy;
    }
    return std::nullopt;
}

bool Supervision::running() const
{
    return ended.isEmpty() && supervisorRuns(*this);
}

bool Supervision::keeps(const ServerRecord& server) const
{
    return serverPid == server.pid && serverStartTime == server.identity.startTime;
}

bool Supervision::keepsOrStarts(const ServerRecord& server) const
{
    return keeps(server) || (serverPid == 0 && server.knownPort() == port &&
                             QDir::cleanPath(server.gameDir) == QDir::cleanPath(gameDir));
}

QJsonObject Supervision::json() const
{
    return {{"policy", restartWord(policy)},
            {"supervisor", pid},
            {"restarts", restarts},
            {"lastRestartAt",
             lastRestartAt.isValid() ? QJsonValue(isoTime(lastRestartAt)) : QJsonValue()},
            {"lastReason", lastReason.isEmpty() ? QJsonValue() : QJsonValue(lastReason)},
            {"restartAt", restartAt.isValid() ? QJsonValue(isoTime(restartAt)) : QJsonValue()},
            {"downReason", downReason.isEmpty() ? QJsonValue() : QJsonValue(downReason)}};
}

QStringList Supervision::described() const
{
    QStringList lines{QStringLiteral("  restart: %1, by the tool's process %2; %3 so far")
                          .arg(restartWord(policy))
                          .arg(pid)
                          .arg(restarts == 1 ? QStringLiteral("1 restart")
                                             : QStringLiteral("%1 restarts").arg(restarts))};
    if (lastRestartAt.isValid())
        lines << QStringLiteral("  last restart: %1, after the server %2")
                     .arg(time(lastRestartAt), lastReason);
    if (restartAt.isValid())
        lines << QStringLiteral("  next start: %1, after the server %2")
                     .arg(time(restartAt), downReason);
    return lines;
}

namespace Supervisions {

std::optional<QString> keep(const Supervision& supervision, const QString& tell)
{
    const std::unique_ptr<QLockFile> lock = holdUntold();
    const QString path = supervisionPath(supervision.pid);
    if (!lock)
        return QStringLiteral("Could not hold \"%1\" to keep the record of the restarts.")
            .arg(QDir::toNativeSeparators(StartedServers::recordsFolder()));
    QJsonArray untold;
    Supervision kept = supervision;
    if (const auto earlier = readSupervision(path)) {
        untold = earlier->second;
        kept.stopping = kept.stopping || earlier->first.stopping;
    }
    if (!tell.isEmpty())
        untold.append(tell);
    if (const std::optional<QString> reason = writeFileAtomically(
            path, QJsonDocument(toJson(kept, untold)).toJson(), Readers::OwnerOnly))
        return QStringLiteral("Could not keep the record of the restarts as \"%1\": %2.")
            .arg(QDir::toNativeSeparators(path), *reason);
    return std::nullopt;
}

void forget(qint64 pid)
{
    const std::unique_ptr<QLockFile> lock = holdUntold();
    QFile::remove(supervisionPath(pid));
}

QList<Supervision> running(const std::optional<QString>& gameDir, std::optional<quint16> port)
{
    QList<Supervision> chosen;
    for (const auto& [supervision, untold] : allSupervisions()) {
        if (supervision.running() && (!port || supervision.port == *port) &&
            (!gameDir || QDir::cleanPath(supervision.gameDir) == QDir::cleanPath(*gameDir) ||
             QFileInfo(supervision.gameDir).canonicalFilePath() ==
                 QFileInfo(*gameDir).canonicalFilePath()))
            chosen << supervision;
    }
    return chosen;
}

std::optional<Supervision> of(const ServerRecord& server)
{
    for (const Supervision& supervision : running()) {
        if (supervision.keeps(server))
            return supervision;
    }
    return std::nullopt;
}

QStringList takeUntold()
{
    const std::unique_ptr<QLockFile> lock = holdUntold();
    if (!lock)
        return {};
    QStringList texts;
    for (auto [supervision, untold] : allSupervisions()) {
        for (const QJsonValue& text : untold)
            texts << text.toString();
        const QString path = supervisionPath(supervision.pid);
        if (!supervision.running()) {
            // One that was asked to stop ended as asked, though its record outlived it.
            if (supervision.ended.isEmpty() && !supervision.stopping)
                texts << QStringLiteral("The tool's process %1, which kept the server of \"%2\" "
                                        "on port %3 up, has ended without being stopped; "
                                        "the server is restarted no more.")
                             .arg(supervision.pid)
                             .arg(supervision.gameDir)
                             .arg(supervision.port);
            QFile::remove(path);
        } else if (!untold.isEmpty()) {
            (void)writeFileAtomically(path, QJsonDocument(toJson(supervision, {})).toJson(),
                                      Readers::OwnerOnly);
        }
    }
    return texts;
}

bool stopAsked(qint64 pid)
{
    const auto kept = readSupervision(supervisionPath(pid));
    return kept && kept->first.stopping;
}

std::optional<Problem> end(const Supervision& supervision)
{
    if (!supervisorRuns(supervision))
        return std::nullopt;
    Supervision stopping = supervision;
    stopping.stopping = true;
    if (const std::optional<QString> error = keep(stopping))
        return Problem{nullptr, *error};
    // Its server's stop, or the stop of a start that it watches, takes up to twice the stop's
    // time, and the port's release as long again.
    constexpr int kEndMs = 4 * ServerProcess::kStopMs;
    for (const bool force : {false, true}) {
        const QDeadlineTimer deadline(force ? ServerProcess::kStopMs : kEndMs);
        while (supervisorRuns(supervision) && !deadline.hasExpired())
            QThread::msleep(10);
        if (!supervisorRuns(supervision)) {
            forget(supervision.pid);
            return std::nullopt;
        }
        endProcess(supervision.pid, true);
    }
    return Problem{nullptr, QStringLiteral("Could not end the tool's process %1, which restarts "
                                           "the server; stop it with the system's tools.")
                                .arg(supervision.pid)};
}

} // namespace Supervisions
