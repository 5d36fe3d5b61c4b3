#include "ServerLaunch.h"

#include "LaunchPlan.h"
#include "config/ConfigFile.h"
#include "config/ServerSettings.h"
#include "config/SettingsCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUdpSocket>

namespace {

// The dedicated server in the game tree at gameDir, or why the tree cannot take a script
// and start one.
std::variant<QFileInfo, QString> findServer(const QString& typedGameDir, const QString& gameDir)
{
    const PathStyle style = nativePathStyle();
    if (!isTypedPath(typedGameDir, kGameDirPlaceholder))
        return QStringLiteral("%1: type the folder where Quake III Arena is installed, "
                              "the one that holds quake3.exe, into the box below the "
                              "buttons.")
            .arg(fieldCaption(&ServerSettings::gameDir));
    if (std::optional<QString> problem = pathTextProblem(&ServerSettings::gameDir, typedGameDir))
        return *problem;
    if (const QFileInfo typed(gameDir); typed.isFile())
        return QStringLiteral("The game directory \"%1\" is a file, not a folder. Type the "
                              "folder that holds it, \"%2\".")
            .arg(gameDir, QDir::toNativeSeparators(typed.absolutePath()));
    if (!QFileInfo(gameDir).isDir())
        return QStringLiteral("The game directory \"%1\" does not exist. Type the folder "
                              "where Quake III Arena is installed.")
            .arg(gameDir);
    if (!QFileInfo(arenaPath(gameDir, style)).isDir())
        return QStringLiteral("The game directory \"%1\" has no arena folder. Install the "
                              "Quorvex modification there, or type the right game "
                              "directory.")
            .arg(gameDir);
    const QStringList names = serverProgramNames(style);
    for (const QString& name : names) {
        const QFileInfo program(serverProgram(gameDir, style, name));
        if (!program.isFile())
            continue;
        if (!program.isExecutable())
            return QStringLiteral("\"%1\" cannot be run: it is not marked as a program.")
                .arg(QDir::toNativeSeparators(program.filePath()));
        return program;
    }
    if (names.size() == 1)
        return QStringLiteral("The game directory \"%1\" has no quake3.exe. Type the "
                              "folder where Quake III Arena is installed.")
            .arg(gameDir);
    return QStringLiteral("The game directory \"%1\" has no dedicated server: none of %2 "
                          "is there. Type the folder where Quake III Arena is installed, "
                          "or make a link named quake3.exe there to the dedicated "
                          "server, for example: ln -s /usr/lib/ioquake3/ioq3ded "
                          "quake3.exe")
        .arg(gameDir, names.join(QStringLiteral(", ")));
}

std::optional<QString> readConfigFile(const QString& outputPath, QByteArray& bytes)
{
    if (!isTypedPath(outputPath, kOutputPathPlaceholder))
        return QStringLiteral("%1: type the path of the config file into the bottom box and "
                              "click Create Config first.")
            .arg(fieldCaption(&ServerSettings::outputPath));
    if (std::optional<QString> problem = pathTextProblem(&ServerSettings::outputPath, outputPath))
        return *problem;
    if (QFileInfo(outputPath).isDir())
        return QStringLiteral("The config file \"%1\" is a folder, not a file. Type the path "
                              "of the config file, and click Create Config to write it.")
            .arg(outputPath);
    if (!QFileInfo(outputPath).isFile())
        return QStringLiteral("The config file \"%1\" does not exist. Click Create Config to "
                              "write it first.")
            .arg(outputPath);
    QFile file(outputPath);
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        if (file.error() == QFileDevice::NoError)
            return std::nullopt;
    }
    return QStringLiteral("Could not read the config file \"%1\": %2.")
        .arg(outputPath, file.errorString());
}

// Whether something already holds the game's UDP port, so that a new server would move to
// another one.
bool gamePortTaken()
{
    QUdpSocket probe;
    return !probe.bind(QHostAddress::AnyIPv4, kServerPort, QUdpSocket::DontShareAddress) &&
           probe.error() == QAbstractSocket::AddressInUseError;
}

} // namespace

std::variant<StartedServer, QString> launchServer(const QString& typedGameDir,
                                                  const QString& outputPath, int scriptNumber)
{
    const PathStyle style = nativePathStyle();
    const QString gameDir = absoluteGameDir(typedGameDir, style);
    const std::variant<QFileInfo, QString> found = findServer(typedGameDir, gameDir);
    if (const QString* problem = std::get_if<QString>(&found))
        return *problem;
    QByteArray script;
    if (std::optional<QString> problem = readConfigFile(outputPath, script))
        return *problem;

    const QString installed = installedScriptPath(gameDir, scriptNumber, style);
    if (std::optional<QString> reason = writeFileAtomically(installed, script))
        return QStringLiteral("Could not install the config file as \"%1\": %2.")
            .arg(installed, *reason);

    StartedServer server;
    // QFileInfo writes '/' on every system; the command line keeps the system's own.
    server.program = QDir::toNativeSeparators(std::get<QFileInfo>(found).filePath());
    server.scriptNumber = scriptNumber;
    if (serverLogsToFile())
        server.logPath = installed.chopped(4) + QStringLiteral(".log");
    server.portWasTaken = gamePortTaken();
    auto started = startServerProcess(
        {server.program, serverArguments(scriptNumber), basePath(gameDir, style), server.logPath});
    if (started.index() == 1)
        return QStringLiteral("Could not start the game server (%1): %2.")
            .arg(serverCommandLine(server.program, scriptNumber), std::get<1>(started));
    server.process = std::move(std::get<0>(started));
    return server;
}
