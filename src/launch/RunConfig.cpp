#include "RunConfig.h"

#include "LaunchPlan.h"
#include "ServerLaunch.h"

#include <QTimer>

RunConfig::RunConfig(QString typedGameDir, QString outputPath, InTheWay inTheWay, QObject* parent)
    : QObject(parent), m_typedGameDir(std::move(typedGameDir)), m_outputPath(std::move(outputPath)),
      m_inTheWay(inTheWay)
{
}

RunConfig::~RunConfig() = default;

namespace {

// Stops the new server and says how that went.
QString stopped(ServerProcess& process)
{
    return process.stop() ? QStringLiteral("The tool stopped the new server.")
                          : QStringLiteral("The tool has no hold on the new server to stop it: "
                                           "stop it yourself.");
}

} // namespace

void RunConfig::start()
{
    const auto fail = [this](const Problem& problem) {
        emit finished({problem}, m_installed, m_program);
    };
    // What cannot work is refused before a running server is stopped for it. The refused
    // run still draws its number, as every run does.
    if (const Problems problems = checkBeforeStart(m_typedGameDir, m_outputPath, engineHomePath());
        !problems.isEmpty()) {
        processScriptNumbers().next();
        return emit finished(problems, m_installed, m_program);
    }
    if (const std::optional<Problem> problem = StartedServers::untrusted())
        return fail(*problem);
    QStringList liveFiles;
    if (const std::optional<ServerRecord> running = StartedServers::holdingGamePort()) {
        const QString described = running->described(askStatus(running->currentPort()));
        if (m_inTheWay == InTheWay::Refuse)
            return fail({nullptr,
                         QStringLiteral("A server that this tool started already holds UDP port "
                                        "%1, so a new one would take another port, where players "
                                        "do not look: %2. Nothing was started.")
                             .arg(kServerPort)
                             .arg(described),
                         Retry::Replace});
        if (const std::optional<Problem> problem = StartedServers::stop(*running))
            return fail(*problem);
        // Its script and log stay for it to start again from.
        m_replaced = {*running, described};
        liveFiles << running->script << running->log;
        emit stoppedInTheWay(described);
    }
    for (const ServerRecord& server : StartedServers::live() + StartedServers::untold())
        liveFiles << server.script << server.log;
    const std::variant<int, Problem> number =
        drawScriptNumber(processScriptNumbers(), m_typedGameDir, engineHomePath(), liveFiles);
    if (const Problem* problem = std::get_if<Problem>(&number))
        return notStarted({*problem});
    std::variant<StartedServer, Problem> launched =
        launchServer(m_typedGameDir, m_outputPath, std::get<int>(number));
    if (const Problem* problem = std::get_if<Problem>(&launched))
        return notStarted({*problem});
    StartedServer& server = std::get<StartedServer>(launched);
    m_installed = server.installedPath;
    m_program = server.program;
    if (const std::optional<QString> error =
            watch(absoluteGameDir(m_typedGameDir, nativePathStyle()), std::move(server)))
        return notStarted({{nullptr, *error}});
    connect(m_watch.get(), &ServerWatch::finished, this, &RunConfig::watched);
}

std::optional<QString> RunConfig::watch(const QString& gameDir, StartedServer server)
{
    m_process = server.process.get();
    // A server that Wine starts as a Unix program has no number to remember it by.
    if (const std::optional<ProcessIdentity> identity = processIdentity(m_process->pid())) {
        m_record = {gameDir, server.program,       m_process->pid(), *identity,
                    0,       server.installedPath, server.logPath,   QDateTime::currentDateTime()};
        // A server that the tool cannot remember, it could neither show nor stop later.
        if (const std::optional<QString> error = StartedServers::remember(m_record)) {
            m_process = nullptr;
            return *error + u' ' + stopped(*server.process);
        }
    }
    m_watch = std::make_unique<ServerWatch>(std::move(server));
    return std::nullopt;
}

std::optional<QString> RunConfig::confirm()
{
    // As it runs now, after any start script, and the port it opened.
    if (m_record.pid == 0)
        return std::nullopt;
    m_record.identity = processIdentity(m_record.pid).value_or(m_record.identity);
    m_record.port = openedUdpPort(m_record.pid).value_or(m_watch->port().value_or(0));
    return StartedServers::remember(m_record);
}

void RunConfig::watched(Problems problems)
{
    if (problems.isEmpty()) {
        if (const std::optional<QString> error = confirm())
            problems << Problem{nullptr, *error};
    }
    if (!problems.isEmpty()) {
        // One that stopped by itself has said so.
        if (!m_process->ended())
            problems << Problem{nullptr, stopped(*m_process)};
        StartedServers::forget(m_record);
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
    const ServerRecord& earlier = replaced.first;
    const auto said = [this, described = replaced.second](Problems problems, const QString& how) {
        problems << Problem{nullptr, QStringLiteral("The server that the new one was to replace, "
                                                    "%1, %2")
                                         .arg(described, how)};
        emit finished(problems, m_installed, m_program);
    };
    const QString couldNot = QStringLiteral("could not be started again: ");
    std::variant<StartedServer, Problem> again =
        relaunchServer(earlier.gameDir, earlier.program, earlier.script, earlier.log);
    if (const Problem* problem = std::get_if<Problem>(&again))
        return said(problems, couldNot + problem->text);
    // The watch that reported is the sender, and goes once the event loop has it back.
    if (m_watch)
        m_watch.release()->deleteLater();
    if (const std::optional<QString> error =
            watch(earlier.gameDir, std::move(std::get<StartedServer>(again))))
        return said(problems, couldNot + *error);
    connect(m_watch.get(), &ServerWatch::finished, this,
            [this, problems, said, couldNot](Problems answer) {
                if (answer.isEmpty()) {
                    if (const std::optional<QString> error = confirm())
                        answer << Problem{nullptr, *error};
                }
                if (answer.isEmpty())
                    return said(problems, QStringLiteral("runs again and answers as before."));
                if (!m_process->ended())
                    m_process->stop();
                StartedServers::forget(m_record);
                m_process = nullptr;
                QStringList why;
                for (const Problem& each : answer)
                    why << each.text;
                said(problems, couldNot + why.join(u' '));
            });
}

bool RunConfig::cancel()
{
    if (m_watch)
        m_watch->disconnect(this);
    if (!m_process)
        return true;
    StartedServers::forget(m_record);
    return m_process->stop();
}
