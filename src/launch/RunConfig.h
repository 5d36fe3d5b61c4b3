#pragma once

#include "ServerWatch.h"
#include "servers/StartedServers.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

// The "Run Config" operation of both faces: stops a server of the tool's in the way when
// asked to, draws the script number, installs the config file and starts the server, keeps
// its record and watches its start. A start that the watch does not confirm is stopped, so
// that nothing it started is left running unless it answers as its script sets it; the
// server it stopped for it is then started again from its own script, and watched.
class RunConfig : public QObject {
    Q_OBJECT

public:
    // What to do when a server that the tool started holds the game's port, where the new
    // one could not open it.
    enum class InTheWay { Refuse, Replace };

    // The server opens the chosen port, which must be free but for a server of the tool's
    // in the way; without one, the game's own, which it leaves for the next where taken.
    RunConfig(QString typedGameDir, QString outputPath, Archived archived = Archived::Kept,
              std::optional<quint16> port = std::nullopt, QObject* parent = nullptr);
    ~RunConfig() override;

    // What keeps the run from starting a server, found before a running server is asked
    // about or stopped for it: the game tree, the config file and the state folder. Tells
    // on its way what the operator should know. A refused run still draws its number.
    Problems check();

    // Runs up to the start and its watch, after the check unless it was made; finished
    // follows once, now or when the watch ends.
    void start(InTheWay inTheWay);

    // Starts again, as it was started, the server of the record, which has ended, and watches
    // its start; finished follows once, as for a start.
    void restart(const ServerRecord& earlier);

    // Whether a stop of the tool's, given elsewhere, ended the server while its start was
    // watched.
    bool stoppedElsewhere() const { return m_stoppedElsewhere; }

    // Ends the run as its user interrupted it: stops the server that it started and
    // watches, if any, and returns what became of the servers, to say. Where that would
    // leave no server in place of one that a replace stopped, the run brings that one back
    // first, returns nothing, and finished follows once its watch has ended; cancelled again,
    // it ends at once.
    std::optional<QString> cancel();

    // The server that the run started and saw answer, once finished has said so; owned by
    // the run.
    ServerProcess* process() const { return m_process; }
    const ServerRecord& record() const { return m_record; }

signals:
    // What the operator should know that the run found on its way, said once: a server
    // that the tool started and that ended by itself since, with the last lines of its log,
    // a state folder made the user's alone, or the values that the server will hold from
    // the engine's archive.
    void notice(const QString& text);

    // The server in the way was stopped, as described.
    void stoppedInTheWay(const QString& described);

    // What kept the run from a confirmed start, empty when the server answers as its script
    // sets it; and, once started, the installed script and the program.
    void finished(const Problems& problems, const QString& installed, const QString& program);

private:
    // Lets an interruption that came while the run was busy reach it; false when the run has
    // been cancelled or is gone since.
    bool goesOn();
    // Remembers the started server and watches its start; or stops it and says why it could
    // not be remembered.
    // The record holds the game directory and the config file that the server runs.
    std::optional<QString> watch(ServerRecord record, StartedServer server);
    // Keeps the record of a confirmed start, with what the server runs and the port it took.
    std::optional<QString> confirm();
    void watched(Problems problems);
    // Ends a run that started nothing: with the server it stopped brought back, if any.
    void notStarted(Problems problems);
    // Starts again the server that the run stopped, and ends the run with how that went.
    void bringBack(Problems problems);
    // Starts the server of the record again and watches it; then, with what kept it from
    // answering, empty when it answers.
    void startAgain(const ServerRecord& earlier, const std::function<void(Problems)>& then);

    QString m_typedGameDir;
    QString m_outputPath;
    Archived m_archived;
    std::optional<quint16> m_chosenPort;
    quint16 m_port;
    ServerProcess* m_process = nullptr; // owned by the watch
    std::unique_ptr<ServerWatch> m_watch;
    ServerRecord m_record;
    // The server that the run stopped to start its own, and how it was described then.
    std::optional<std::pair<ServerRecord, QString>> m_replaced;
    // The server that was replaced is being started again.
    bool m_bringingBack = false;
    bool m_cancelled = false;
    bool m_checked = false;
    bool m_stoppedElsewhere = false;
    QString m_installed;
    QString m_program;
};
