#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <variant>

// A dedicated server started as a process of its own: it outlives this object and the
// tool, which only learn whether and how it ended.
class ServerProcess {
public:
    virtual ~ServerProcess() = default;

    // How the server ended, such as "exited with status 1"; nothing while it runs.
    virtual std::optional<QString> ended() = 0;

    // The status that a shell gives for how the server ended: its exit status, or 128 and
    // the number of the signal that ended it; nothing while it runs.
    virtual std::optional<int> exitStatus() = 0;

    // The system's number for the process; 0 where it has none, as a Unix program that
    // Wine starts has no Windows process.
    virtual qint64 pid() const = 0;

    // Ends the server: asks it to quit as the system lets a program ask, forces it after
    // kStopMs, and returns once it has ended; false where the tool has no hold on it.
    virtual bool stop() = 0;

    static constexpr int kStopMs = 5000;
};

struct ServerStart {
    QString program;
    QStringList arguments;
    QString workingDirectory;
    // Where the server's console output goes, on systems where it has no window of its own;
    // empty where it keeps its own console.
    QString logPath;
    // Whether the output goes after what the log holds, rather than in its place.
    bool appendToLog = false;
    // A FIFO to make, the user's alone, as the server's standard input, where it takes
    // console commands; empty for none, and on systems where servers read no input.
    QString inputPath;
    // The start's mark, given to the server's environment as kStartMarkVariable, on systems
    // where the tool finds a server's processes by it.
    QString mark;
};

// Whether this system's servers write their console output to a log file.
bool serverLogsToFile();

// Whether this system's servers can take console commands from a FIFO as their input.
bool serverReadsInput();

// Whether path is a FIFO itself, not a link to one: a server's console input.
bool isServerInput(const QString& path);

// Removes a server's input FIFO, and the lock of its writers, once the server has ended;
// only a FIFO, never a file that has taken its place.
void removeServerInput(const QString& path);

// The engine's home path on this system, where it looks for the game's files before the
// game directory, so that a file there shadows the one installed under the same name.
// Empty when the engine keeps none; nothing when it cannot be known.
std::optional<QString> engineHomePath();

// Starts the server, or says why it could not be started.
std::variant<std::unique_ptr<ServerProcess>, QString> startServerProcess(const ServerStart& start);
