#include "LaunchPlan.h"

#include <QDir>
#include <QSysInfo>

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

QString absoluteGameDir(const QString& typed, PathStyle style)
{
    const bool absolute = style == PathStyle::Windows
                              ? QDir::isAbsolutePath(QDir::fromNativeSeparators(typed))
                              : typed.startsWith(u'/');
    if (absolute)
        return typed;
    const QString current = style == PathStyle::Windows
                                ? QDir::toNativeSeparators(QDir::currentPath())
                                : QDir::currentPath();
    return basePath(current, style) + typed;
}

QStringList serverProgramNames(PathStyle style)
{
    if (style == PathStyle::Windows)
        return {QStringLiteral("quake3.exe")};
    // The engine names its builds after the architecture as its own build does.
    QString arch = QSysInfo::buildCpuArchitecture();
    if (arch == u"i386")
        arch = QStringLiteral("x86");
    else if (arch == u"arm64")
        arch = QStringLiteral("aarch64");
    return {QStringLiteral("quake3.exe"), QStringLiteral("ioq3ded.") + arch,
            QStringLiteral("ioq3ded"), QStringLiteral("q3ded")};
}

QString serverProgram(const QString& gameDir, PathStyle style, const QString& name)
{
    return basePath(gameDir, style) + name;
}

QStringList serverArguments(int scriptNumber, quint16 port, const QString& homePath)
{
    QStringList arguments =
        QStringLiteral("+set fs_game arena +set sv_pure 0 +set bot_enable 0 +set dedicated 2 "
                       "+set net_port %1")
            .arg(port)
            .split(u' ');
    if (port != kServerPort)
        arguments << QStringLiteral("+set") << QStringLiteral("fs_homepath") << homePath;
    return arguments << QStringLiteral("+exec") << QStringLiteral("conf%1").arg(scriptNumber);
}

QString serverCommandLine(const QString& program, int scriptNumber, quint16 port,
                          const QString& homePath)
{
    return program + u' ' + serverArguments(scriptNumber, port, homePath).join(u' ');
}

QString windowsArgument(const QString& word)
{
    if (!word.isEmpty() &&
        std::none_of(word.begin(), word.end(), [](QChar c) { return c.isSpace() || c == u'"'; }))
        return word;
    QString quoted = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : word) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        quoted += QString(backslashes * (c == u'"' ? 2 : 1), u'\\');
        backslashes = 0;
        quoted += c == u'"' ? QStringLiteral("\\\"") : QString(c);
    }
    return quoted + QString(backslashes * 2, u'\\') + u'"';
}
