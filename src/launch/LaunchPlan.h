#pragma once

#include <QStringList>

// How the game tree's paths are joined: Windows with backslashes, POSIX with slashes.
enum class PathStyle { Windows, Posix };

// The style of the system the program runs on.
constexpr PathStyle nativePathStyle()
{
#ifdef Q_OS_WIN
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

// The game directory with one separator after it; an empty directory gives the separator.
QString basePath(const QString& gameDir, PathStyle style);

// The path under which a script is installed for the server: arena/conf<N>.cfg.
QString installedScriptPath(const QString& gameDir, int scriptNumber, PathStyle style);

QString arenaPath(const QString& gameDir, PathStyle style);

// The typed game directory made absolute against the current directory, once, so that
// the checks, the installed script, the program and its working directory all mean the
// same folder.
QString absoluteGameDir(const QString& typed, PathStyle style);

// The names the dedicated server may have in the game directory, in the order they are
// looked for: quake3.exe, and on POSIX systems then the engine's own dedicated-server names,
// for this machine's architecture first.
QStringList serverProgramNames(PathStyle style);

QString serverProgram(const QString& gameDir, PathStyle style,
                      const QString& name = QStringLiteral("quake3.exe"));

// The UDP port the dedicated server is started on.
inline constexpr quint16 kServerPort = 27960;

// The dedicated server's options; the script is named without its .cfg extension. A server
// on another port than the game's own is given homePath, the home path of its own where the
// engine keeps its archive.
QStringList serverArguments(int scriptNumber, quint16 port = kServerPort,
                            const QString& homePath = {});

// The whole command line as one string, for messages.
QString serverCommandLine(const QString& program, int scriptNumber, quint16 port = kServerPort,
                          const QString& homePath = {});

// A word of a Windows command line as CommandLineToArgvW, which Windows programs split their
// command line with, takes it back: in double quotes where it holds white space or quotes,
// with each quote and the backslashes before it escaped.
QString windowsArgument(const QString& word);
