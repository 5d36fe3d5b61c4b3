#include "Supervisor.h"

#include <QCoreApplication>

namespace {

QString duration(int ms)
{
    if (ms % 60000 == 0)
        return ms == 60000 ? QStringLiteral("1 minute")
                           : QStringLiteral("%1 minutes").arg(ms / 60000);
    return ms % 1000 == 0 ? QStringLiteral("%1 s").arg(ms / 1000)
                          : QStringLiteral("%1 s").arg(ms / 1000.0, 0, 'f', 1);
}

} // namespace

Supervisor::Timings Supervisor::Timings::fromEnvironment()
{
    Timings timings;
    const QStringList shortened =
        qEnvironmentVariable("QUORVEX_TEST_RESTART_MS").split(u',', Qt::SkipEmptyParts);
    if (shortened.size() == 2 && shortened[0].toInt() > 0 && shortened[1].toInt() > 0) {
        timings.firstWaitMs = shortened[0].toInt();
        timings.silenceMs = shortened[1].toInt();
    }
    return timings;
}

Supervisor::Supervisor(RestartPolicy policy, std::unique_ptr<RunConfig> run, Telling telling,
                       QObject* parent)
    : QObject(parent), m_policy(policy), m_telling(telling), m_timings(Timings::fromEnvironment()),
      m_run(std::move(run)), m_server(m_run->record())
{
    m_record.pid = QCoreApplication::applicationPid();
    m_record.identity = processIdentity(m_record.pid).value_or(ProcessIdentity{});
    m_record.policy = policy;
    m_record.gameDir = m_server.gameDir;
    m_record.port = m_server.knownPort();
    m_starts << QDateTime::currentDateTime();
    m_upFor.start();
    m_lastAnswer.start();
    keepRecord();
    connect(&m_poll, &QTimer::timeout, this, &Supervisor::look);
    m_poll.start(100);
    m_restartTimer.setSingleShot(true);
    connect(&m_restartTimer, &QTimer::timeout, this, &Supervisor::restart);
}

Supervisor::~Supervisor()
{
    if (m_policy != RestartPolicy::No && m_record.ended.isEmpty())
        Supervisions::forget(m_record.pid);
}

const ServerRecord* Supervisor::server() const
{
    return m_up ? &m_server : nullptr;
}

void Supervisor::look()
{
    // A stop of the tool's asks through the record, and is answered as an interruption is.
    if (m_policy != RestartPolicy::No && !m_over && Supervisions::stopAsked(m_record.pid)) {
        const auto [said, stopped] = stop();
        emit told(said);
        return emit ended(stopped ? 0 : 1);
    }
    if (!m_up || m_over)
        return;
    const std::optional<StartedServers::Ending> ending =
        StartedServers::ending(m_server, *m_run->process());
    if (ending && ending->how.isEmpty())
        return finish(0);
    if (ending)
        return lost(ending->status, ending->how);
    if (m_policy != RestartPolicy::No)
        checkAnswer();
}

void Supervisor::checkAnswer()
{
    // Asked as often as six times within the silence that it takes to restart the server, and
    // at most every other second: the engine answers one address once a second after a burst,
    // its remote console and other runs of the tool included.
    const int every = std::clamp(m_timings.silenceMs / 6, 2000, 10000);
    if (m_lastQuery >= 0 && m_upFor.elapsed() - m_lastQuery < every)
        return;
    m_lastQuery = m_upFor.elapsed();
    if (askStatus(m_server.currentPort(), std::min(1000, every))) {
        m_lastAnswer.restart();
        return;
    }
    if (m_lastAnswer.elapsed() < m_timings.silenceMs)
        return;
    // Status queries that a flood keeps unanswered are no silence of the server's own.
    if (answersRemoteConsole(m_server)) {
        m_lastAnswer.restart();
        return;
    }
    const QString how = QStringLiteral("answered no status query for %1 while its process ran")
                            .arg(duration(m_timings.silenceMs));
    if (const std::optional<Problem> problem = StartedServers::stop(m_server))
        return finish(1, QStringLiteral("The server %1, and could not be stopped to start it "
                                        "again: %2")
                             .arg(how, problem->text));
    lost(m_run->process()->exitStatus().value_or(1), how);
}

void Supervisor::lost(int status, const QString& how)
{
    const QString subject =
        (m_up
             ? QStringLiteral("The server of process %1 in \"%2\" on UDP port %3").arg(m_server.pid)
             : QStringLiteral("The server of \"%2\" on UDP port %3"))
            .arg(m_server.gameDir)
            .arg(m_record.port);
    m_up = false;
    const bool again =
        m_policy == RestartPolicy::Always || (m_policy == RestartPolicy::OnFailure && status != 0);
    if (!again)
        return finish(status, m_telling == Telling::Here
                                  ? QStringLiteral("The server %1.").arg(how)
                                  : QStringLiteral("%1 %2, and is not started again, as "
                                                   "--restart=%3 asks.")
                                        .arg(subject, how, restartWord(m_policy)));
    const QDateTime now = QDateTime::currentDateTime();
    m_starts.removeIf(
        [&](const QDateTime& start) { return start.msecsTo(now) >= m_timings.startIntervalMs; });
    if (m_starts.size() >= m_timings.startLimit)
        return finish(status, QStringLiteral("%1 %2. It was started %3 times within %4, so the "
                                             "tool starts it no more, as systemd's start limit "
                                             "does; start it with run once its fault is mended.")
                                  .arg(subject, how)
                                  .arg(m_timings.startLimit)
                                  .arg(duration(m_timings.startIntervalMs)));
    if (m_upFor.elapsed() >= m_timings.upToResetMs)
        m_doublings = 0;
    const int wait = int(
        std::min<qint64>(qint64(m_timings.firstWaitMs) << m_doublings, m_timings.longestWaitMs));
    m_doublings = std::min(m_doublings + 1, 16);
    // The first reason of a restart that took more than one start.
    if (m_record.downReason.isEmpty())
        m_record.downReason = how;
    m_record.restartAt = now.addMSecs(wait);
    const QString text = QStringLiteral("%1 %2; the tool starts it again in %3, as --restart=%4 "
                                        "asks.")
                             .arg(subject, how, duration(wait), restartWord(m_policy));
    // Its lines went by as they came where the operator waits with it.
    const QString tail =
        m_telling == Telling::Later ? StartedServers::lastLines(m_server.log) : QString();
    tell(
        tail.isEmpty()
            ? text
            : text +
                  QStringLiteral(" The last lines of its log \"%1\":\n%2").arg(m_server.log, tail));
    m_restartTimer.start(wait);
}

void Supervisor::restart()
{
    // A server that another run of the tool's started since holds the port.
    if (const std::optional<ServerRecord> holder = StartedServers::holdingGamePort(m_record.port)) {
        m_record.downReason.clear();
        return finish(1, QStringLiteral("The server of \"%1\" on UDP port %2 is started no more: "
                                        "the server of process %3 holds that port now.")
                             .arg(m_server.gameDir)
                             .arg(m_record.port)
                             .arg(holder->pid));
    }
    m_starts << QDateTime::currentDateTime();
    m_run = std::make_unique<RunConfig>(m_server.gameDir, m_server.configFile, Archived::Kept,
                                        m_record.port);
    connect(m_run.get(), &RunConfig::notice, this, &Supervisor::told);
    connect(m_run.get(), &RunConfig::finished, this, &Supervisor::restarted);
    m_run->restart(m_server);
}

void Supervisor::restarted(const Problems& problems)
{
    if (m_over)
        return;
    if (m_run->stoppedElsewhere())
        return finish(0);
    if (!problems.isEmpty()) {
        QStringList why;
        for (const Problem& problem : problems)
            why << problem.text;
        QString said = why.join(u' ');
        while (said.endsWith(u'.'))
            said.chop(1);
        return lost(1, QStringLiteral("could not be started again: ") + said);
    }
    m_server = m_run->record();
    m_up = true;
    m_upFor.restart();
    m_lastAnswer.restart();
    m_lastQuery = -1;
    ++m_record.restarts;
    m_record.lastRestartAt = QDateTime::currentDateTime();
    m_record.lastReason = std::exchange(m_record.downReason, {});
    m_record.restartAt = {};
    keepRecord();
    emit told(
        QStringLiteral("The server runs again, as process %1, and answers.").arg(m_server.pid));
}

void Supervisor::keepRecord(const QString& tell)
{
    if (m_policy == RestartPolicy::No)
        return;
    m_record.serverPid = m_up ? m_server.pid : 0;
    m_record.serverStartTime = m_up ? m_server.identity.startTime : QString();
    if (const std::optional<QString> error = Supervisions::keep(m_record, tell))
        emit told(*error);
}

void Supervisor::tell(const QString& text)
{
    if (m_telling == Telling::Here)
        emit told(text);
    keepRecord(m_telling == Telling::Later ? text : QString());
}

void Supervisor::finish(int status, const QString& why)
{
    m_over = true;
    m_up = false;
    m_poll.stop();
    m_restartTimer.stop();
    // What a supervision that runs alone ends with stays in its record, to be told later.
    if (!why.isEmpty() && m_telling == Telling::Later && m_policy != RestartPolicy::No) {
        m_record.ended = why;
        m_record.restartAt = {};
        m_record.downReason.clear();
    }
    if (!why.isEmpty())
        tell(why);
    emit ended(status);
}

std::pair<QString, bool> Supervisor::stop()
{
    const bool up = m_up;
    const bool waiting = m_restartTimer.isActive();
    m_over = true;
    m_up = false;
    m_poll.stop();
    m_restartTimer.stop();
    if (up) {
        const QString described = m_server.described(askStatus(m_server.currentPort(), 500));
        if (const std::optional<Problem> problem = StartedServers::stop(m_server))
            return {problem->text, false};
        return {QStringLiteral("Stopped %1.").arg(described), true};
    }
    if (waiting || !m_run)
        return {QStringLiteral("The server had ended, and is not started again."), true};
    // A restart whose start is watched.
    return {m_run->cancel().value_or(QStringLiteral("Nothing was started.")), true};
}
