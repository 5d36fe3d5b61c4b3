#include "RunConfig.h"

#include "LaunchPlan.h"
#include "ServerLaunch.h"
#include "servers/Supervisions.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QPointer>
#include <QTimer>

RunConfig::RunConfig(QString typedGameDir, QString outputPath, Archived archived,
                     std::optional<quint16> port, QObject* parent)
    : QObject(parent), m_typedGameDir(std::move(typedGameDir)), m_outputPath(std::move(outputPath)),
      m_archived(archived), m_chosenPort(port), m_port(port.value_or(kServerPort))
{
}

RunConfig::~RunConfig() = default;

namespace {

// A run waits this long for another to have drawn its number and kept its record.
constexpr int kNumbersWaitMs = 30000;

// Whether anything of what the start made still runs: the process, what it started in its
// group, such as the engine that a start script forked before it ended, or anywhere else
// with the start's mark, such as an engine that it put in a session of its own.
bool stillRunning(ServerProcess& process, const QString& mark)
{
    return !process.ended() || !processGroup(process.pid()).isEmpty() ||
           !markedProcesses(mark).isEmpty();
}

// Stops the new server, all that its start made, and says how that went.
QString stopped(ServerProcess& process, const QString& mark)
{
    const bool group = process.stop();
    return endMarked(mark, ServerProcess::kStopMs) && group
               ? QStringLiteral("The tool stopped the new server.")
               : QStringLiteral("The tool has no hold on the new server to stop it: stop it "
                                "yourself.");
}

} // namespace

bool RunConfig::goesOn()
{
    const QPointer<RunConfig> self(this);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return self && !m_cancelled;
}

Problems RunConfig::check()
{
    m_checked = true;
    if (const std::optional<QString> narrowed = StartedServers::narrowFolders())
        emit notice(*narrowed);
    for (const QString& text : StartedServers::takeEnded())
        emit notice(text);
    // The refused run still draws its number, as every run does.
    Problems problems = checkBeforeStart(m_typedGameDir, m_outputPath, homePathOf(m_port));
    if (const std::optional<Problem> problem = StartedServers::untrusted())
        problems << *problem;
    if (const std::optional<Problem> problem =
            m_chosenPort && problems.isEmpty() ? chosenPortProblem(m_port) : std::nullopt)
        problems << *problem;
    if (const std::optional<QString> archived =
            problems.isEmpty() && m_archived == Archived::Kept
                ? archivedValuesNotice(m_typedGameDir, m_outputPath, homePathOf(m_port))
                : std::nullopt)
        emit notice(*archived);
    if (!problems.isEmpty())
        processScriptNumbers().next();
    return problems;
}

void RunConfig::start(InTheWay inTheWay)
{
    const auto fail = [this](const Problem& problem) {
        emit finished({problem}, m_installed, m_program);
    };
    if (!m_checked) {
        if (const Problems problems = check(); !problems.isEmpty())
            return emit finished(problems, m_installed, m_program);
    }
    const QDeadlineTimer patience(kNumbersWaitMs);
    bool gone = false;
    const std::variant<std::unique_ptr<QLockFile>, Problem> numbers =
        StartedServers::holdNumbers([&] {
            gone = !goesOn();
            return !gone && !patience.hasExpired();
        });
    if (gone)
        return;
    if (const Problem* problem = std::get_if<Problem>(&numbers))
        return fail(*problem);
    if (!std::get<std::unique_ptr<QLockFile>>(numbers))
        return fail({nullptr,
                     QStringLiteral("Another run of the tool has been starting a server "
                                    "for %1 seconds. Nothing was stopped or started; "
                                    "try again once it has ended.")
                         .arg(kNumbersWaitMs / 1000),
                     Retry::Run});
    // The number is drawn before a server is stopped for it, and never a live server's, so
    // the one stopped keeps its script and log to start again from.
    QStringList liveFiles;
    for (const ServerRecord& server : StartedServers::live() + StartedServers::untold())
        liveFiles << server.script << server.log;
    liveFiles << StartedServers::pruneEnded(liveFiles);
    const std::variant<int, Problem> number =
        drawScriptNumber(processScriptNumbers(), m_typedGameDir, homePathOf(m_port), liveFiles);
    if (const Problem* problem = std::get_if<Problem>(&number))
        return fail(*problem);
    // A server that the tool keeps up holds its port while it is down, until its restart, from
    // the moment that it ends, before its supervision has seen it.
    const QList<ServerRecord> live = StartedServers::live();
    for (const Supervision& down : Supervisions::running(std::nullopt, m_port)) {
        if (std::ranges::any_of(
                live, [&](const ServerRecord& server) { return down.keepsOrStarts(server); }))
            continue;
        const QString described =
            QStringLiteral("the tool's process %1, which was to start the server of \"%2\" "
                           "again%3")
                .arg(down.pid)
                .arg(down.gameDir, down.restartAt.isValid()
                                       ? down.restartAt.toString(QStringLiteral(" 'at' HH:mm:ss"))
                                       : QString());
        if (inTheWay == InTheWay::Refuse)
            return fail({nullptr,
                         QStringLiteral("The server that this tool keeps up on UDP port %1 is "
                                        "down for now, and %2, so a new one would take another "
                                        "port, where players do not look. Nothing was started.")
                             .arg(m_port)
                             .arg(described),
                         Retry::Replace});
        if (const std::optional<Problem> problem = Supervisions::end(down))
            return fail(*problem);
        emit stoppedInTheWay(described);
    }
    if (const std::optional<ServerRecord> running = StartedServers::holdingGamePort(m_port)) {
        const QString described = running->described(askStatus(running->currentPort()));
        // Asking it took a moment, in which the run may have been interrupted.
        if (!goesOn())
            return;
        if (inTheWay == InTheWay::Refuse)
            return fail({nullptr,
                         QStringLiteral("A server that this tool started already holds UDP port "
                                        "%1, so a new one would take another port, where players "
                                        "do not look: %2. Nothing was started.")
                             .arg(m_port)
                             .arg(described),
                         Retry::Replace});
        // It is started again from its script should the new one fail, so that script must be
        // there to read.
        if (const auto script = readScriptBytes(running->script);
            const QString* problem = std::get_if<QString>(&script))
            return fail({nullptr, QStringLiteral("The running server could not be started again "
                                                 "should the new one fail: %1 Nothing was "
                                                 "stopped or started. Stop that server first, "
                                                 "then start the new one.")
                                      .arg(*problem)});
        // What keeps it up ends first, so that nothing starts it again, and stops it.
        if (const std::optional<Supervision> supervision = Supervisions::of(*running)) {
            if (const std::optional<Problem> problem = Supervisions::end(*supervision))
                return fail(*problem);
        }
        if (const std::optional<Problem> problem = StartedServers::stoppedElsewhere(*running)
                                                       ? std::nullopt
                                                       : StartedServers::stop(*running))
            return fail(*problem);
        m_replaced = {*running, described};
        emit stoppedInTheWay(described);
        // Interrupted during the stop, the run ends with it, and starts nothing.
        if (!goesOn())
            return;
    }
    std::variant<StartedServer, Problem> launched =
        launchServer(m_typedGameDir, m_outputPath, std::get<int>(number), m_archived, m_port);
    if (const Problem* problem = std::get_if<Problem>(&launched))
        return notStarted({*problem});
    StartedServer& server = std::get<StartedServer>(launched);
    m_installed = server.installedPath;
    m_program = server.program;
    ServerRecord record;
    record.gameDir = absoluteGameDir(m_typedGameDir, nativePathStyle());
    record.configFile = QFileInfo(m_outputPath).absoluteFilePath();
    record.configDigest = ServerRecord::digestOf(server.installedPath);
    if (const std::optional<QString> error = watch(record, std::move(server)))
        return notStarted({{nullptr, *error}});
    connect(m_watch.get(), &ServerWatch::finished, this, &RunConfig::watched);
}

std::optional<QString> RunConfig::watch(ServerRecord record, StartedServer server)
{
    m_process = server.process.get();
    // A server that Wine starts as a Unix program has no number to remember it by. A start
    // script that has already ended, having left the server elsewhere, has no identity left
    // to tell it by, and the record names none: the start's mark finds its server.
    if (m_process->pid() != 0) {
        record.program = server.program;
        record.pid = record.group = m_process->pid();
        record.identity = processIdentity(m_process->pid())
                              .value_or(ProcessIdentity{QStringLiteral("ended"), {}});
        record.port = 0;
        record.startPort = server.port;
        record.script = server.installedPath;
        record.log = server.logPath;
        record.input = server.inputPath;
        record.home = server.homePath;
        record.mark = server.mark;
        record.startedAt = QDateTime::currentDateTime();
        m_record = record;
        // A server that the tool cannot remember, it could neither show nor stop later.
        if (const std::optional<QString> error = StartedServers::remember(m_record)) {
            m_process = nullptr;
            const QString end = stopped(*server.process, server.mark);
            removeServerInput(server.inputPath);
            return *error + u' ' + end;
        }
    }
    m_watch = std::make_unique<ServerWatch>(std::move(server));
    return std::nullopt;
}

std::optional<QString> RunConfig::confirm()
{
    if (m_record.pid == 0)
        return std::nullopt;
    const quint16 port = m_watch->port().value_or(0);
    // The server is the process of the user's that holds the port and carries the start's
    // mark: the one started, one that a start script runs in its group, or one that it left
    // in a session of its own. Where the system does not say, a start script that forked the
    // server and ended leaves it in its group: the one that holds the port, or else the one
    // left.
    const std::optional<qint64> holder = port ? serverOnPort(port, m_record.mark) : std::nullopt;
    const std::optional<ProcessIdentity> holderIdentity =
        holder ? processIdentity(*holder) : std::nullopt;
    if (holderIdentity) {
        if (*holder != m_record.pid)
            StartedServers::forget(m_record);
        m_record.pid = *holder;
        m_record.identity = *holderIdentity;
        m_record.group = processGroupOf(*holder);
    } else if (m_process->ended()) {
        const QList<GroupMember> members = processGroup(m_record.group);
        const auto holder = std::find_if(members.begin(), members.end(), [&](const auto& member) {
            return openedUdpPort(member.pid) == port;
        });
        const qint64 server = holder != members.end() ? holder->pid : members.value(0).pid;
        if (const std::optional<ProcessIdentity> identity = processIdentity(server)) {
            StartedServers::forget(m_record);
            m_record.pid = server;
            m_record.identity = *identity;
        }
    } else {
        // As it runs now, after any start script that execs the engine.
        m_record.identity = processIdentity(m_record.pid).value_or(m_record.identity);
    }
    m_record.port = openedUdpPort(m_record.pid).value_or(port);
    return StartedServers::remember(m_record);
}

void RunConfig::watched(Problems problems)
{
    // A stop of the tool's from elsewhere ended it while it was watched, as asked.
    if (!problems.isEmpty() && m_record.pid != 0 && !stillRunning(*m_process, m_record.mark) &&
        StartedServers::stoppedElsewhere(m_record)) {
        m_process = nullptr;
        m_replaced.reset();
        return emit finished({{nullptr, QStringLiteral("A stop of the tool's, given elsewhere, "
                                                       "stopped the new server while its start "
                                                       "was watched.")}},
                             m_installed, m_program);
    }
    if (problems.isEmpty()) {
        if (const std::optional<QString> error = confirm())
            problems << Problem{nullptr, *error};
    }
    if (!problems.isEmpty()) {
        // One that stopped by itself has said so.
        if (stillRunning(*m_process, m_record.mark))
            problems << Problem{nullptr, stopped(*m_process, m_record.mark)};
        StartedServers::retire(m_record);
        m_process = nullptr;
    }
    if (!problems.isEmpty() && m_replaced)
        return bringBack(problems);
    emit finished(problems, m_installed, m_program);
}

void RunConfig::notStarted(Problems problems)
{
    if (m_replaced)
        return bringBack(problems);
    emit finished(problems, m_installed, m_program);
}

void RunConfig::bringBack(Problems problems)
{
    const std::pair<ServerRecord, QString> replaced = *std::exchange(m_replaced, std::nullopt);
    m_bringingBack = true;
    startAgain(replaced.first, [this, problems, described = replaced.second](Problems answer) {
        m_bringingBack = false;
        QStringList why;
        for (const Problem& each : answer)
            why << each.text;
        const QString how = answer.isEmpty()
                                ? QStringLiteral("runs again and answers as before.")
                                : QStringLiteral("could not be started again: ") + why.join(u' ');
        const Problem said{nullptr, QStringLiteral("The server that the new one was to replace, "
                                                   "%1, %2")
                                        .arg(described, how)};
        emit finished(problems + Problems{said}, m_installed, m_program);
    });
}

void RunConfig::restart(const ServerRecord& earlier)
{
    m_installed = earlier.script;
    m_program = earlier.program;
    startAgain(earlier, [this](const Problems& problems) {
        emit finished(problems, m_installed, m_program);
    });
}

void RunConfig::startAgain(const ServerRecord& earlier, const std::function<void(Problems)>& then)
{
    std::variant<StartedServer, Problem> again =
        relaunchServer(earlier.gameDir, earlier.program, earlier.script, earlier.log,
                       earlier.knownPort() ? earlier.knownPort() : kServerPort);
    if (const Problem* problem = std::get_if<Problem>(&again))
        return then({*problem});
    // The watch that reported is the sender, and goes once the event loop has it back.
    if (m_watch)
        m_watch.release()->deleteLater();
    if (const std::optional<QString> error =
            watch(earlier, std::move(std::get<StartedServer>(again))))
        return then({{nullptr, *error}});
    connect(m_watch.get(), &ServerWatch::finished, this, [this, then](Problems answer) {
        if (!answer.isEmpty() && m_record.pid != 0 && !stillRunning(*m_process, m_record.mark) &&
            StartedServers::stoppedElsewhere(m_record))
            m_stoppedElsewhere = true;
        if (answer.isEmpty()) {
            if (const std::optional<QString> error = confirm())
                answer << Problem{nullptr, *error};
        }
        if (!answer.isEmpty()) {
            if (stillRunning(*m_process, m_record.mark))
                stopped(*m_process, m_record.mark);
            StartedServers::retire(m_record);
            m_process = nullptr;
        }
        then(answer);
    });
}

std::optional<QString> RunConfig::cancel()
{
    // The first interruption of a replace's watch keeps a server up: the new one has not
    // answered yet, so it goes and the earlier one comes back, and the run ends once that
    // one's watch has. A second interruption ends the run at once.
    const bool again = std::exchange(m_cancelled, true);
    if (!again && m_bringingBack)
        return std::nullopt;
    if (!again && m_replaced && m_process) {
        m_watch->disconnect(this);
        StartedServers::retire(m_record);
        ServerProcess* process = std::exchange(m_process, nullptr);
        bringBack({{nullptr, QStringLiteral("Interrupted while the new server's start was "
                                            "watched. ") +
                                 stopped(*process, m_record.mark)}});
        return std::nullopt;
    }
    if (m_watch)
        m_watch->disconnect(this);
    // The earlier server, started again, is left to run rather than stopped a second time.
    if (m_bringingBack)
        return QStringLiteral("The server that the new one was to replace was started again, "
                              "and is left running; the tool did not see it answer.");
    const QString replaced =
        m_replaced
            ? QStringLiteral(" The tool had stopped %1 for it, as asked.").arg(m_replaced->second)
            : QString();
    if (!m_process)
        return m_replaced ? QStringLiteral("The tool stopped %1, as asked, and started nothing in "
                                           "its place.")
                                .arg(m_replaced->second)
                          : QStringLiteral("Nothing was started.");
    StartedServers::retire(m_record);
    ServerProcess* process = std::exchange(m_process, nullptr);
    return stopped(*process, m_record.mark) + replaced;
}
