#pragma once

#include "ProcessControl.h"
#include "ServerProcess.h"
#include "config/ServerSettings.h"
#include "launch/LaunchPlan.h"
#include "network/ServerStatus.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

class QLockFile;

// A server that the tool started, as it remembers it until the server ends.
struct ServerRecord {
    QString gameDir;
    QString program;
    qint64 pid = 0;
    ProcessIdentity identity;
    // The process that the tool started, whose group the server is in: pid itself, or the
    // start script that forked the server and ended.
    qint64 group = 0;
    quint16 port = 0;      // the port it opened, once known
    quint16 startPort = 0; // the port it was started on, where known
    QString script;        // the installed script
    QString log;           // empty where the server keeps a console of its own
    QString input;         // the FIFO where it takes console commands; empty for none
    QString home;          // the home path of its own that it was given; empty for the engine's
    QDateTime startedAt;
    // The config file that was installed as its script, and its bytes' digest then.
    QString configFile;
    QByteArray configDigest;
    // A stop of the tool's has begun to end it.
    bool stopping = false;
    // The mark that its start gave it and all that it starts.
    QString mark;

    bool operator==(const ServerRecord&) const = default;

    // The process group or job to stop it by.
    qint64 groupLeader() const { return group ? group : pid; }

    // Whether the config file no longer holds what was installed from it at the start.
    bool configChanged() const;
    // The digest of a file's bytes that configDigest keeps; empty when it cannot be read.
    static QByteArray digestOf(const QString& path);

    // The engine's home path that it uses: its own, or else the engine's; empty for none.
    QString homePath() const;

    // The port it opened, or while it starts, the one it was started on; 0 where neither is
    // known.
    quint16 knownPort() const { return port ? port : startPort; }

    // The port it holds now, as the system tells it, or else the one remembered.
    quint16 currentPort() const;

    // The server in one line for the operator: its name, map and players as it answers,
    // its port, process and start.
    QString described(const std::optional<ServerStatus>& status) const;

    // The server as status --json gives it, on the port the system gives, with its answer.
    QJsonObject statusJson(quint16 port, const std::optional<ServerStatus>& answer) const;
};

// The records of the servers that the tool started, one small file each in the user's state
// folder, shared by every run of the tool and by both faces.
namespace StartedServers {

// The folder of the records, in the state folder.
QString recordsFolder();

// Makes the records folder, and the state folder that holds it, each the user's alone; true
// when it is a folder.
bool makeRecordsFolder();

// The last lines of the log, from at most its last 4 KiB, one per line; none where it cannot
// be read.
QString lastLines(const QString& log);

// Narrows the state folder and its records folder, where they are the user's and an earlier
// version left them writable by others, to the user alone; what it did, to say once.
std::optional<QString> narrowFolders();

// Why the records cannot be trusted, where another user could have put them there: the
// folder or a record is a link, is no folder or regular file, or is another user's, or
// others may write the folder. Nothing when they can.
std::optional<Problem> untrusted();

// The servers that still run, each still the process that was started. Records that
// cannot be trusted are passed over.
QList<ServerRecord> live();

// The live servers of the game directory gameDir, however its path is written, and on port,
// where either is given; or why they cannot be told: the records cannot be trusted, or
// gameDir is no folder.
std::variant<QList<ServerRecord>, Problem> chosen(const std::optional<QString>& gameDir,
                                                  std::optional<quint16> port);

// The servers that ended without the tool stopping them, or whose number now belongs to
// another program, each said once with when it started and the last lines of its log; their
// records go, and with them the hold on their script numbers. Then what the supervisions
// have to tell, each said once.
QStringList takeEnded();

// The servers that ended by themselves and have not been said yet, whose script numbers
// stay taken until then.
QList<ServerRecord> untold();

// Where the server of the start's mark takes console commands, in the records' own folder;
// empty when that folder cannot be made.
QString inputPath(const QString& mark);

// Keeps the record, in place of an earlier one of the same process; on failure, why.
std::optional<QString> remember(const ServerRecord& server);

// Forgets the server, as when its record moves to another process of it.
void forget(const ServerRecord& server);

// Forgets the server, which has ended and been told, and keeps its script and log among
// those of the last servers of its game directory.
void retire(const ServerRecord& server);

// How many ended servers of one game directory keep their scripts and logs.
inline constexpr int kKeptEnded = 10;

// Removes the scripts and logs of the ended servers of each game directory but the last
// kKeptEnded, and only files that the tool installed in its arena folder, never one of inUse
// or a link; returns the files kept, which a new start passes over. Removes too the console
// inputs that no record names, left by a run that ended before it kept its server's record.
// Called while the script numbers are held, so that no new server takes such a file, nor
// starts with an input not yet named, meanwhile.
QStringList pruneEnded(const QStringList& inUse);

// Whether a stop of the tool's, from another run, has ended or is ending the server that
// this run started and still watches.
bool stoppedElsewhere(const ServerRecord& server);

// Held by one run at a time, from the draw of its script number until its server's record
// is kept, so that two runs at once never take one number; or why it cannot be held, such
// as a state folder that cannot be written. Waits while another run holds it and
// keepWaiting, asked about every tenth of a second, says to; nothing when it says not to.
std::variant<std::unique_ptr<QLockFile>, Problem>
holdNumbers(const std::function<bool()>& keepWaiting);

// How a server that this run started has ended, when it has: status 0 when a stop of the
// tool's, from any run, ended it; else its exit status, or 1 where it is not the process
// started, and how it ended, its record retired as told where no other run has told it.
struct Ending {
    int status = 0;
    QString how; // such as "exited with status 2"; empty after a stop of the tool's
};
std::optional<Ending> ending(const ServerRecord& server, ServerProcess& process);

// The live server that holds the port, the game's own unless given, so that a new one would
// move to another.
std::optional<ServerRecord> holdingGamePort(quint16 port = kServerPort);

// Stops the server once it is sure that the process is still the one started, never
// another program that got its number: asks it to quit, forces it after the stop's time,
// waits until it has ended and its port is free, and forgets it. On failure, why.
std::optional<Problem> stop(const ServerRecord& server);

} // namespace StartedServers
