#pragma once

#include "ServerState.h"

#include <QByteArray>
#include <QHash>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

// Debian's ioquake3 dedicated server, the real judge of the scripts the tool writes and of
// the servers it starts.
inline const QString kEngineProgram = QStringLiteral("/usr/lib/ioquake3/ioq3ded");

// A map of version 46 that the engine loads: one shader, plane, node, leaf and model, the
// other lumps empty, and the entities a deathmatch needs.
QByteArray smallMap();

// A game tree that the engine runs without any commercial game data: a base game folder
// of its own with a default.cfg and the native game module, a baseq3 folder with a small
// map named after the tool's default first map, and an empty arena folder for the scripts.
class EngineTree {
public:
    static inline const QString kMap = QStringLiteral("quorvexmap1");

    // A tree in a temporary folder of its own, or in folder.
    explicit EngineTree(const QString& folder = {});

    QString root() const { return m_path; }
    QString arena() const { return root() + QStringLiteral("/arena"); }

    // The options that point the engine at this tree, with a fresh home path each time, and
    // keep it from looking up master servers.
    QStringList engineOptions();

    // Runs each script in turn in one engine process, with the variables of kScriptCvars
    // unset before each, and returns what each left in the engine: those variables, and the
    // also printed ones.
    QList<ServerState> runScripts(const QList<QByteArray>& scripts,
                                  const QStringList& alsoPrinted = {});

    // Runs each script in an engine of its own, as a server starts with it, where the map of
    // kMap loads and the game module with it: what each leaves in the level that runs, the
    // value of each variable of kScriptCvars that exists and the map loaded, with the map
    // files that map commands looked for in vain. Each engine's home path holds archive as the
    // archive that an earlier server left, if given.
    QList<ServerState> runEach(const QList<QByteArray>& scripts, const QByteArray& archive = {});

private:
    QStringList engineOptions(const QString& baseGame);

    QTemporaryDir m_temporary;
    QString m_path;
    int m_runs = 0;
};

// Sends the engine's connectionless packet for command to the server on 127.0.0.1 and
// returns its answer, without the leading four 0xFF bytes, or nothing within timeoutMs.
std::optional<QByteArray> askServer(const QByteArray& command, quint16 port = 27960,
                                    int timeoutMs = 500);

// Asks again, a little apart so as to stay within the server's rate limit, until the
// server answers or timeoutMs have passed.
std::optional<QByteArray> waitForAnswer(const QByteArray& command, int timeoutMs,
                                        quint16 port = 27960);

// The key-value pairs of an info string, "\key\value\key\value".
QHash<QString, QString> infoPairs(const QByteArray& info);

// A real dedicated server on the tree, started with the given options after the tree's
// own; it is killed when this goes out of scope.
class EngineServer {
public:
    EngineServer(EngineTree& tree, const QStringList& options);
    ~EngineServer();

    QProcess& process() { return m_process; }
    QByteArray output() { return m_output += m_process.readAll(); }

private:
    QProcess m_process;
    QByteArray m_output;
};
