#pragma once

#include "StartedServers.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// When the tool starts a server again that ended, in systemd's words for Restart=.
enum class RestartPolicy { No, OnFailure, Always };

QString restartWord(RestartPolicy policy);
std::optional<RestartPolicy> restartPolicyOf(const QString& word);

// A run of the tool that keeps a server up, as it remembers itself while it runs, and after
// it gave up, until that has been told.
struct Supervision {
    // The supervisor's process.
    qint64 pid = 0;
    ProcessIdentity identity;
    RestartPolicy policy = RestartPolicy::No;
    QString gameDir;
    quint16 port = 0;
    int restarts = 0;
    QDateTime lastRestartAt;
    QString lastReason;
    // The server that it keeps up now, by its process; none while it waits to start it again.
    qint64 serverPid = 0;
    QString serverStartTime;
    // When it starts the server again, and why it is down, while it waits to.
    QDateTime restartAt;
    QString downReason;
    // Why it gave up, once it has.
    QString ended;
    // A stop of the tool's has asked it to end.
    bool stopping = false;

    // Whether it keeps the server up: its process still runs, and it has not given up.
    bool running() const;
    // Whether it is the supervision of the server.
    bool keeps(const ServerRecord& server) const;
    // Whether it keeps the server up, or is starting it again: a server of its game directory
    // on its port while it has none.
    bool keepsOrStarts(const ServerRecord& server) const;
    // As status gives it: "restart", in the server's entry.
    QJsonObject json() const;
    // Its lines for status, indented as the server's.
    QStringList described() const;
};

// The supervisions' records, one small file each beside the servers' records.
namespace Supervisions {

// Keeps the supervision's record, and what to tell of it once, after what is still untold,
// and a stop's request; on failure, why.
std::optional<QString> keep(const Supervision& supervision, const QString& tell = {});

// Forgets the supervision, which has ended as asked, with what of it is untold.
void forget(qint64 pid);

// The supervisions that still keep a server up, of the game directory and on the port where
// given, as StartedServers::chosen chooses servers.
QList<Supervision> running(const std::optional<QString>& gameDir = std::nullopt,
                           std::optional<quint16> port = std::nullopt);

// The supervision that keeps the server up, if any.
std::optional<Supervision> of(const ServerRecord& server);

// What the supervisions have to tell that has not been told: each restart with the end of the
// log, and a supervision that gave up or whose supervisor ended; each said once. The records
// of supervisions that no longer run go with it.
QStringList takeUntold();

// Whether a stop of the tool's has asked the supervision to end.
bool stopAsked(qint64 pid);

// Ends the supervision as stop does: asks the supervisor, through its record, to stop its
// server and end, which it sees within a tenth of a second, waits until it has, and forces it
// after the time that a stop takes; the supervision's server, if one is left, is for the
// caller to stop. On failure, why.
std::optional<Problem> end(const Supervision& supervision);

} // namespace Supervisions
