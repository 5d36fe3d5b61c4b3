#pragma once

#include "LaunchPlan.h"
#include "config/ServerSettings.h"
#include "network/ServerConsole.h"
#include "script/ScriptReader.h"
#include "servers/ScriptNumbers.h"
#include "servers/ServerProcess.h"

#include <QString>
#include <memory>
#include <optional>
#include <variant>

struct ServerRecord;

// A server that "Run Config" started, with what is needed to watch its start.
struct StartedServer {
    std::unique_ptr<ServerProcess> process;
    QString program;
    int scriptNumber = 0;
    // Where the script was installed for the server.
    QString installedPath;
    // The server's console output; empty where it keeps a console window of its own.
    QString logPath;
    // The FIFO where it takes console commands; empty for none.
    QString inputPath;
    // The port that it was started on, and whether something else already held it then.
    quint16 port = kServerPort;
    bool portWasTaken = false;
    // The home path of its own that it was given on another port; empty for the engine's.
    QString homePath;
    // What the installed script sets, for telling whether the server runs it.
    ScriptReading script;
    // The files that the script executes and that the tool cannot read as the server does,
    // such as a pk3 entry packed by another method, which may set any of its values.
    QStringList unread;
    // The mark that the server and all that it starts carry.
    QString mark;
};

// The home path of the server on port: the engine's own on the game's port; on any other, one
// of that port's own beside it, such as ~/.q3a-27961, so that two servers never share the
// engine's archive. Nothing where the engine's own cannot be known, or where it keeps none
// and another port's server would have none of its own.
std::optional<QString> homePathOf(quint16 port);

// Why the server on port can have no home path of its own, or nothing: it is unknown, or
// the server's command line cannot carry it.
std::optional<Problem> homePathProblem(quint16 port);

// Why no server can start on port, chosen by the operator, or nothing: its home path, or a
// program other than a server of the tool's, which a replace would stop, holds the port.
std::optional<Problem> chosenPortProblem(quint16 port);

// The script number for a "Run Config" click: the next number of numbers, or when the
// engine's home path already holds arena/conf<N>.cfg, which the server would run in place
// of the script installed under that name, or when a live server runs the script or writes
// the log of that number, or an ended one keeps it (one of liveFiles, however its path is
// written), the next number after it that is free. Says
// why no number will do when the home path is unknown or every name is taken.
[[nodiscard]] std::variant<int, Problem> drawScriptNumber(ScriptNumberSequence& numbers,
                                                          const QString& typedGameDir,
                                                          const std::optional<QString>& homePath,
                                                          const QStringList& liveFiles = {});

// What keeps the config file at outputPath from starting a server in the game tree, found
// before anything is stopped or started: the game directory or the config file named
// wrong, or a map or an executed file that the server cannot find in the tree's folders,
// its home path's included.
[[nodiscard]] Problems checkBeforeStart(const QString& typedGameDir, const QString& outputPath,
                                        const std::optional<QString>& homePath);

// What becomes of the values that earlier servers left in the engine's archive,
// q3config_server.cfg, which the server runs before the script: kept, as the engine keeps
// them, or left: each that the script does not set is given its registered value on the
// server's command line, which the engine applies after the archive. The archive itself
// stays, and a value that the script sets with seta is archived again.
enum class Archived { Kept, Left };

// Why a console command must not reach the running server, or nothing: a map command whose
// map its game tree, its home path's included, lacks; quit or killserver, which end it behind
// the tool's records; a change of the remote console password, which the tool reads from the
// server's script; vstr, game_restart and cvar_restart, whose effects it cannot check; and
// wait, which holds up the command buffer.
std::optional<QString> consoleCommandProblem(const ServerRecord& server, const QByteArray& command);

// What the tool needs to talk to a server: the remote console's password, and every
// password of its script, the longest first, which its replies must not show.
struct ConsoleAccess {
    QByteArray password;
    QStringList secrets;
};

// The access that the server's installed script gives, read from that copy, which only its
// owner can read; or why it gives none, where the remote console is needed.
std::variant<ConsoleAccess, QString> consoleAccess(const QString& installedScript,
                                                   bool remoteConsole);

// Whether the server answers its remote console, as it does with the password of its script,
// another or none, which it refuses. A flood of
// status queries from elsewhere keeps the engine from answering any, as it means to, but not
// from answering its remote console, which it no longer answers once it has no map.
bool answersRemoteConsole(const ServerRecord& server);

// The way in to a running server of the tool's: its console input while it has one, or else
// its remote console with the password of its script; with every password of the script,
// the longest first, which what it prints must not show.
struct ServerLine {
    std::unique_ptr<ServerConsole> console;
    QStringList secrets;
    bool throughInput = false;
};
std::variant<ServerLine, QString> serverLine(const ServerRecord& server);

// What the operator should know before the start of the values that the server will hold
// from its archive: which they are, passwords masked, and the file; nothing without any.
std::optional<QString> archivedValuesNotice(const QString& typedGameDir, const QString& outputPath,
                                            const std::optional<QString>& homePath);

// The "Run Config" command: installs the config file at outputPath into the game
// directory's arena folder as conf<scriptNumber>.cfg and starts the dedicated server there
// to execute it. The typed game directory is made absolute once, against the current
// directory, which itself is left alone. A script that holds passwords is installed for its
// owner alone to read. Returns the started server, or why nothing was started or the start
// failed.
// archived says what becomes of the values in the engine's archive; the server opens port,
// with that port's home path.
[[nodiscard]] std::variant<StartedServer, Problem>
launchServer(const QString& typedGameDir, const QString& outputPath, int scriptNumber,
             Archived archived = Archived::Kept, quint16 port = kServerPort);

// Starts again, as it was started, the server that a record names: its program in its game
// directory with its installed script on its port, its output after what its log holds.
[[nodiscard]] std::variant<StartedServer, Problem>
relaunchServer(const QString& gameDir, const QString& program, const QString& installedPath,
               const QString& logPath, quint16 port = kServerPort);
