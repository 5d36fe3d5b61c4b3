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
    if (const std::optional<ServerRecord> running = StartedServers::holdingGamePort()) {
        if (m_inTheWay == InTheWay::Refuse)
            return fail({nullptr,
                         QStringLiteral("A server that this tool started already holds UDP port "
                                        "%1, so a new one would take another port, where players "
                                        "do not look: %2. Nothing was started.")
                             .arg(kServerPort)
                             .arg(running->described(askStatus(running->currentPort()))),
                         Retry::Replace});
        if (const std::optional<Problem> problem = StartedServers::stop(*running))
            return fail(*problem);
    }
    QStringList liveFiles;
    for (const ServerRecord& server : StartedServers::live())
        liveFiles << server.script << server.log;
    const std::variant<int, Problem> number =
        drawScriptNumber(processScriptNumbers(), m_typedGameDir, engineHomePath(), liveFiles);
    if (const Problem* problem = std::get_if<Problem>(&number))
        return fail(*problem);
    std::variant<StartedServer, Problem> launched =
        launchServer(m_typedGameDir, m_outputPath, std::get<int>(number));
    if (const Problem* problem = std::get_if<Problem>(&launched))
        return fail(*problem);
    StartedServer& server = std::get<StartedServer>(launched);
    m_installed = server.installedPath;
    m_program = server.program;
    m_process = server.process.get();
    // A server that Wine starts as a Unix program has no number to remember it by.
    if (const std::optional<ProcessIdentity> identity = processIdentity(m_process->pid())) {
        m_record = {absoluteGameDir(m_typedGameDir, nativePathStyle()),
                    server.program,
                    m_process->pid(),
                    *identity,
                    0,
                    server.installedPath,
                    server.logPath,
                    QDateTime::currentDateTime()};
        // A server that the tool cannot remember, it could neither show nor stop later.
        if (const std::optional<QString> error = StartedServers::remember(m_record)) {
            m_process = nullptr;
            return fail({nullptr, *error + u' ' + stopped(*server.process)});
        }
    }
    m_watch = std::make_unique<ServerWatch>(std::move(server));
    connect(m_watch.get(), &ServerWatch::finished, this, &RunConfig::watched);
}

void RunConfig::watched(Problems problems)
{
    const std::optional<quint16> port = m_watch->port();
    if (problems.isEmpty()) {
        // The program it runs now, after any start script, and the port it opened.
        if (m_record.pid != 0) {
            m_record.identity = processIdentity(m_record.pid).value_or(m_record.identity);
            m_record.port = openedUdpPort(m_record.pid).value_or(port.value_or(0));
            if (const std::optional<QString> error = StartedServers::remember(m_record))
                problems << Problem{nullptr, *error};
        }
    }
    if (!problems.isEmpty()) {
        // One that stopped by itself has said so.
        if (!m_process->ended())
            problems << Problem{nullptr, stopped(*m_process)};
        StartedServers::forget(m_record);
    }
    emit finished(problems, m_installed, m_program);
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
