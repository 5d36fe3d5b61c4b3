#include "ServerLaunch.h"

#include "LaunchPlan.h"
#include "ServerProcess.h"
#include "config/ConfigFile.h"
#include "config/ServerSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

// Why the game tree at gameDir cannot take a script and start a server, if it cannot.
std::optional<QString> checkGameDir(const QString& gameDir)
{
    const PathStyle style = nativePathStyle();
    if (!isTypedPath(gameDir, kGameDirPlaceholder))
        return QStringLiteral("%1: type the folder where Quake III Arena is installed, the one "
                              "that holds quake3.exe, into the box below the buttons.")
            .arg(fieldCaption(&ServerSettings::gameDir));
    if (!QFileInfo(gameDir).isDir())
        return QStringLiteral("The game directory \"%1\" does not exist. Type the folder where "
                              "Quake III Arena is installed.")
            .arg(gameDir);
    if (!QFileInfo(arenaPath(gameDir, style)).isDir())
        return QStringLiteral("The game directory \"%1\" has no arena folder. Install the "
                              "Quorvex modification there, or type the right game directory.")
            .arg(gameDir);
    const QFileInfo program(serverProgram(gameDir, style));
    if (!program.isFile())
        return QStringLiteral("The game directory \"%1\" has no quake3.exe. Type the folder where "
                              "Quake III Arena is installed.")
            .arg(gameDir);
    if (!program.isExecutable())
        return QStringLiteral("\"%1\" cannot be run: it is not marked as a program.")
            .arg(program.filePath());
    return std::nullopt;
}

std::optional<QString> readConfigFile(const QString& outputPath, QByteArray& bytes)
{
    if (!isTypedPath(outputPath, kOutputPathPlaceholder))
        return QStringLiteral("%1: type the path of the config file into the bottom box and "
                              "click Create Config first.")
            .arg(fieldCaption(&ServerSettings::outputPath));
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

} // namespace

std::optional<QString> launchServer(const QString& gameDir, const QString& outputPath,
                                    int scriptNumber)
{
    if (std::optional<QString> problem = checkGameDir(gameDir))
        return problem;
    QByteArray script;
    if (std::optional<QString> problem = readConfigFile(outputPath, script))
        return problem;

    const PathStyle style = nativePathStyle();
    const QString installed = installedScriptPath(gameDir, scriptNumber, style);
    if (std::optional<QString> reason = writeFileAtomically(installed, script))
        return QStringLiteral("Could not install the config file as \"%1\": %2.")
            .arg(installed, *reason);

    QProcess server;
    server.setProgram(serverProgram(gameDir, style));
    server.setArguments(serverArguments(scriptNumber));
    server.setWorkingDirectory(basePath(gameDir, style));
    prepareServerProcess(server);
    if (!server.startDetached())
        return QStringLiteral("Could not start the game server (%1): %2.")
            .arg(serverCommandLine(gameDir, scriptNumber, style), server.errorString());
    return std::nullopt;
}
