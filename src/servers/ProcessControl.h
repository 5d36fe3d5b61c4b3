#pragma once

#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <optional>

// What tells a process apart from a later one that the system gives the same number: when
// it started, in the system's own count, and on Linux, whose count starts at each boot, the
// boot. Not the program it runs, which a start script changes and an upgrade deletes.
struct ProcessIdentity {
    QString startTime;
    QString boot;

    bool operator==(const ProcessIdentity&) const = default;
};

// The identity of the running process pid; nothing once it has ended.
std::optional<ProcessIdentity> processIdentity(qint64 pid);

// The UDP port that the process pid holds on this machine's IPv4 addresses, as the system
// tells it; nothing where the system does not say.
std::optional<quint16> openedUdpPort(qint64 pid);

// Asks the server pid to quit, as the system lets a program ask one it did not start:
// SIGTERM to its process group on POSIX systems, which the engine answers by telling its
// players and quitting;
// on Windows, the remote console's quit when rconPassword is set and the port known, else
// the end of the process. False when the request could not be made.
bool askToQuit(qint64 pid, quint16 port, const QString& rconPassword);

// Ends the process pid at once, and on POSIX systems with it every process of its group.
void forceToEnd(qint64 pid);

// Asks the process pid alone, not its group, to end, as SIGTERM asks, or with force ends it at
// once; on Windows, where a console program cannot be asked, ends it either way.
void endProcess(qint64 pid, bool force);

// A process that still runs in a server's group.
struct GroupMember {
    qint64 pid;
    QString commandLine;
};

// The processes that still run in the group of the server started as pid, which may itself
// have ended: such as the engine that a start script runs as its child, or forks and leaves.
// On POSIX systems the process group that its start made, on Windows the job that its start
// put it in.
QList<GroupMember> processGroup(qint64 pid);

// A server's start gives it a mark of its own in its environment, as this variable, which
// whatever it starts inherits, so that the tool finds all of it wherever it goes: an engine
// that a start script leaves in a session of its own (setsid, screen -dm) included.
inline constexpr char kStartMarkVariable[] = "QUORVEX_SERVER_START";

// A new mark for a start, unlike any other.
inline QString newStartMark()
{
    return QString::number(QRandomGenerator::system()->generate64(), 16);
}

// The processes of the user's that carry the mark and still run; on Windows, where the job
// of a start holds whatever it starts, none.
QList<GroupMember> markedProcesses(const QString& mark);

// Ends the processes that carry the mark, as a stop ends a group: asks them to quit, forces
// them after ms, and returns whether none is left.
bool endMarked(const QString& mark, int ms);

// The process of the user's that holds the UDP port and carries the mark; nothing where there
// is none, or the system does not say.
std::optional<qint64> serverOnPort(quint16 port, const QString& mark);

// The process group that pid is in, to stop it by; on Windows pid itself, whose job is its
// start's.
qint64 processGroupOf(qint64 pid);

// Who holds the UDP port on this machine, as the system tells it: the program and its
// process, and on POSIX systems its user; nothing where the system does not say.
std::optional<QString> udpPortHolder(quint16 port);

// Whether the file or folder at path belongs to the user that runs the tool: on Windows, to
// the user or a group of the user's, such as the administrators' for an elevated tool.
bool ownedByUser(const QString& path);

// The user's folder for the tool's state, such as the servers it started:
// $XDG_STATE_HOME/quorvex-config-creator (by default ~/.local/state/...) on POSIX systems,
// %LOCALAPPDATA%\quorvex-config-creator on Windows.
QString stateFolder();

#ifdef Q_OS_WIN
// The name of the job that the start of the server pid puts it in, which lives on, with the
// name, for as long as a process of it runs.
QString serverJobName(qint64 pid);

struct _MIB_UDPTABLE_OWNER_PID;

// The port of the first socket that the system's table of UDP sockets gives as pid's. An
// owner given as process 0, as Wine gives every one, is unknown, and never pid.
std::optional<quint16> udpPortIn(const _MIB_UDPTABLE_OWNER_PID& table, qint64 pid);
#endif
