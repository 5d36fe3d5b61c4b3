#pragma once

#include <QStringList>

// How the game tree's paths are joined: Windows with backslashes, POSIX with slashes.
enum class PathStyle { Windows, Posix };

// The style of the system the program runs on.
PathStyle nativePathStyle();

// The game directory with one separator after it; an empty directory gives the separator.
QString basePath(const QString& gameDir, PathStyle style);

// The path under which a script is installed for the server: arena/conf<N>.cfg.
QString installedScriptPath(const QString& gameDir, int scriptNumber, PathStyle style);

QString arenaPath(const QString& gameDir, PathStyle style);
QString serverProgram(const QString& gameDir, PathStyle style);

// The dedicated server's options; the script is named without its .cfg extension.
QStringList serverArguments(int scriptNumber);

// The whole command line as one string, for messages.
QString serverCommandLine(const QString& gameDir, int scriptNumber, PathStyle style);
