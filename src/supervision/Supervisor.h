#pragma once

#include "launch/RunConfig.h"
#include "servers/Supervisions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>

// Stays with the server that a run started and saw answer until it ends, and as its policy
// asks, as systemd's Restart= does, starts it again: after it ended, or after it answered no
// status query for a while as its process ran. The waits between restarts double from the
// first up to the longest, and begin again once a server has been up long enough; a number of
// starts within an interval ends the supervision, as systemd's start limit does. A restart
// starts the same installed script on the same port, its output after its log, and is
// watched as any start.
class Supervisor : public QObject {
    Q_OBJECT

public:
    struct Timings {
        int firstWaitMs = 1000;
        int longestWaitMs = 60000;
        int upToResetMs = 600000;
        int silenceMs = 60000;
        int startLimit = 5;
        int startIntervalMs = 300000;

        // The defaults; tests shorten the waits and the silence through
        // QUORVEX_TEST_RESTART_MS, as "FIRST_WAIT,SILENCE" in milliseconds.
        static Timings fromEnvironment();
    };

    // Where what the supervision has to say goes: to the operator who waits with it, as told
    // says it; or, for one that runs alone, to its record, for the next status to tell once.
    enum class Telling { Here, Later };

    // Takes over the server that the run started and saw answer, and the run with it.
    Supervisor(RestartPolicy policy, std::unique_ptr<RunConfig> run, Telling telling,
               QObject* parent = nullptr);
    ~Supervisor() override;

    // The server that it stays with now; none while it waits to start it again.
    const ServerRecord* server() const;

    // Ends the supervision: stops the server that runs, or whose start is watched, and calls
    // off a restart. What became of it, to say, and whether the server is surely stopped.
    std::pair<QString, bool> stop();

signals:
    // What the operator who waits with it should know: a restart and why, or why the
    // supervision ends.
    void told(const QString& text);
    // The supervision is over by itself, with the status to end with: 0 after a stop of the
    // tool's given elsewhere, otherwise the last server's.
    void ended(int status);

private:
    void look();
    void checkAnswer();
    // The server ended or went silent as said; starts it again after the wait, or ends.
    void lost(int status, const QString& how);
    void restart();
    void restarted(const Problems& problems);
    // Keeps the record, with what to tell later, if anything, where it is told later.
    void keepRecord(const QString& tell = {});
    // Says what the operator should know, here or later.
    void tell(const QString& text);
    void finish(int status, const QString& why = {});

    RestartPolicy m_policy;
    Telling m_telling;
    Timings m_timings;
    std::unique_ptr<RunConfig> m_run;
    ServerRecord m_server;
    bool m_up = true;
    bool m_over = false;
    Supervision m_record;
    QTimer m_poll;
    QTimer m_restartTimer;
    QElapsedTimer m_upFor;
    QElapsedTimer m_lastAnswer;
    qint64 m_lastQuery = -1;
    int m_doublings = 0;
    QList<QDateTime> m_starts;
};
