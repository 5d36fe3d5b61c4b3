#pragma once

#include "config/ServerSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// A server started at boot by the system's own supervisor, named after the server's port,
// that runs the tool's run --wait with the operator's choices, and starts it again when it
// fails: on Linux a systemd user unit, which systemd restarts; on Windows a Task Scheduler
// task, whose run --restart=on-failure restarts the server itself.
struct BootService {
    QString name;     // such as quorvex-27960, as systemctl and schtasks take it
    QString unitPath; // where the user's service manager reads it, or schtasks is given it
    QByteArray unit;  // the file's bytes
    QString what;     // "unit" or "task definition"
};

#ifndef Q_OS_WIN
// The word as systemd reads it in a command line such as ExecStart=: in double quotes, with
// backslashes and quotes escaped, and % and, but in the program's path, $ doubled, so that
// neither a specifier nor a variable is put in its place.
QString systemdWord(const QString& word, bool program = false);

#endif

// The definition that starts program's run --wait for the config file at outputPath in the
// game directory on port, both named by their absolute paths; or what keeps it from starting a
// server, found by the checks that run makes before a start, so that none is written that
// would fail at every boot.
std::variant<BootService, Problems> bootService(const QString& program, const QString& typedGameDir,
                                                const QString& outputPath, quint16 port);

// What keeps a boot service of the config file at outputPath in the game directory on port
// from starting a server: the checks that run makes before a start, the port's home path
// first, so that none is written that would fail at every boot.
Problems bootServiceProblems(const QString& typedGameDir, const QString& outputPath, quint16 port);

// Writes the unit, unless a file of that name holds other text, such as a unit that the
// operator has since edited, which it keeps; true when the file already held the unit. On
// failure, why.
std::variant<bool, QString> writeBootService(const BootService& service);

// The commands that start it now and at every boot: systemd's reload and enable --now, and
// where the user's services wait for their first login, loginctl enable-linger; on Windows
// schtasks /Create, from an administrator's console, as a task at start-up needs.
QStringList startSteps(const BootService& service);

// Runs the start's steps where the user's service manager answers; nothing once each has
// been done, else why not, such as a step that failed and what it said.
std::optional<QString> enableBootService(const BootService& service);

// Has systemd stop and disable the unit of port, where the user's service manager answers,
// then removes it, and the link that enabled it, only where the tool wrote that unit; on
// Windows has Task Scheduler delete the task, and removes its definition.
struct Removal {
    bool removed = false;        // there was a unit to remove
    bool throughSystemd = false; // the system's scheduler let go of it first
};
std::variant<Removal, QString> removeBootService(quint16 port);

// Runs program, such as systemctl, with arguments; nothing once it has done so, else what it
// said, or why it could not run.
std::optional<QString> runForService(const QString& program, const QStringList& arguments);
