#include "BootService.h"

#include "config/ConfigFile.h"
#include "launch/ServerLaunch.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

Problems bootServiceProblems(const QString& typedGameDir, const QString& outputPath, quint16 port)
{
    if (std::optional<Problem> problem = homePathProblem(port))
        return Problems{*problem};
    return checkBeforeStart(typedGameDir, outputPath, homePathOf(port));
}

std::variant<bool, QString> writeBootService(const BootService& service)
{
    QFile file;
    if (QFileInfo(service.unitPath).isSymLink())
        return QStringLiteral("\"%1\" is a link; the tool writes no %2 through it. Remove it, "
                              "or leave it as your own.")
            .arg(service.unitPath, service.what);
    if (QFileInfo::exists(service.unitPath)) {
        if (const std::optional<QString> problem = openRegularFile(file, service.unitPath))
            return QStringLiteral("\"%1\" cannot be read: %2.").arg(service.unitPath, *problem);
        if (file.readAll() == service.unit)
            return true;
        return QStringLiteral("\"%1\" holds another %2 than the one that service would write, "
                              "such as one that was edited since, and is left as it is. Compare "
                              "it with service --print, or take it away with service --remove "
                              "and write it again.")
            .arg(service.unitPath, service.what);
    }
    const QString folder = QFileInfo(service.unitPath).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("The folder \"%1\" cannot be made.").arg(folder);
    if (std::optional<QString> problem = writeFileAtomically(service.unitPath, service.unit))
        return QStringLiteral("Could not write \"%1\": %2.").arg(service.unitPath, *problem);
    return false;
}

std::optional<QString> runForService(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return QStringLiteral("%1 could not be run: %2").arg(program, process.errorString());
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return std::nullopt;
    return QString::fromLocal8Bit(process.readAll()).trimmed();
}
