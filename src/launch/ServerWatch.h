#pragma once

#include "LaunchPlan.h"
#include "ServerLaunch.h"
#include "network/StatusSocket.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Watches a server that "Run Config" started, for up to kWatchMs, without blocking: the
// watch ends as soon as the server answers a status query on 127.0.0.1, stops, or shows
// in its log that it could not find its map or execute its script. Only the new server's
// answers count: those from the game's port when it was free at the start, otherwise from
// the port that the server's log, or else the system, says it opened. Ending the watch early, by
// destroying it, leaves the server running.
class ServerWatch : public QObject {
    Q_OBJECT

public:
    static constexpr int kWatchMs = 10000;

    explicit ServerWatch(StartedServer server, QObject* parent = nullptr);

    // The port whose answers are the new server's, once known.
    std::optional<quint16> port() const { return m_port; }

signals:
    // Sent once, when the watch ends: what went wrong; empty when the server runs and
    // answers on the game's port.
    void finished(const Problems& problems);

private:
    void look();
    void readAnswers();
    // What the server's status info shows other than its script sets.
    QStringList differencesFromScript(const QByteArray& info) const;
    // What the server's log shows that keeps its start from working as its script sets it.
    std::optional<Problem> logProblem(const QString& text) const;
    void finish(Problems problems);
    QString log() const;
    QString logTail() const;

    StartedServer m_server;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
    qint64 m_lastQuery = -1;
    StatusSocket m_socket;
    // The port whose answers are the new server's, once known.
    std::optional<quint16> m_port;
};
