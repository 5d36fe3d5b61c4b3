#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// A run of this program that goes on alone, detached from the one that started it, such as
// the tool's own supervisor of a server: in a session of its own (on Windows, a process with
// no console), it writes to the starter's output and error until it reports how its start
// went, through a pipe that the starter reads.
struct DetachedRun {
    qint64 pid = 0;
    qintptr report = -1;  // the starter's end of the pipe
    qintptr process = -1; // on Windows, the starter's hold on the run

    // The status that the run reported, once it has, or else the one it ended with; nothing
    // while it has neither.
    std::optional<int> outcome();
};

// Starts this program with arguments, detached; or says why it could not be started.
std::variant<DetachedRun, QString> startDetachedRun(const QStringList& arguments);

// In a detached run, takes over the pipe to report on, which nothing that it starts inherits;
// elsewhere, does nothing. Called before anything is started.
void takeStartReport();

// Whether this run is detached, with a start to report.
bool reportsStart();

// Reports the start's status to the starter, and where the start is done, puts the null
// device in place of the standard input, output and error, which the starter's caller may be
// reading to their end.
void reportStart(int status);

// Whether this run was started detached, which on Windows joins no console: read before the
// report is taken over.
bool startedDetached();
