#include "LaunchPlan.h"

namespace {

QChar separator(PathStyle style)
{
    return style == PathStyle::Windows ? u'\\' : u'/';
}

} // namespace

QString basePath(const QString& gameDir, PathStyle style)
{
    return gameDir.endsWith(separator(style)) ? gameDir : gameDir + separator(style);
}

QString arenaPath(const QString& gameDir, PathStyle style)
{
    return basePath(gameDir, style) + QStringLiteral("arena");
}

QString installedScriptPath(const QString& gameDir, int scriptNumber, PathStyle style)
{
    return arenaPath(gameDir, style) + separator(style) + QStringLiteral("conf") +
           QString::number(scriptNumber) + QStringLiteral(".cfg");
}

QString serverProgram(const QString& gameDir, PathStyle style)
{
    return basePath(gameDir, style) + QStringLiteral("quake3.exe");
}

QStringList serverArguments(int scriptNumber)
{
    return QStringLiteral("+set fs_game arena +set sv_pure 0 +set bot_enable 0 +set dedicated 2 "
                          "+set net_port 27960 +exec conf%1")
        .arg(scriptNumber)
        .split(u' ');
}

QString serverCommandLine(const QString& gameDir, int scriptNumber, PathStyle style)
{
    return serverProgram(gameDir, style) + u' ' + serverArguments(scriptNumber).join(u' ');
}
