#pragma once

#include "config/ServerSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// A server started at boot by the system's own supervisor: a systemd user unit, named after
// the server's port, that runs the tool's run --wait with the operator's choices, and that
// systemd restarts when it fails.
struct BootService {
    QString name;     // such as quorvex-27960, as systemctl takes it
    QString unitPath; // where the user's service manager reads it
    QByteArray unit;
};

// The word as systemd reads it in a command line such as ExecStart=: in double quotes, with
// backslashes and quotes escaped, and % and, but in the program's path, $ doubled, so that
// neither a specifier nor a variable is put in its place.
QString systemdWord(const QString& word, bool program = false);

// The unit that starts program's run --wait for the config file at outputPath in the game
// directory on port, both named by their absolute paths; or what keeps it from starting a
// server, found by the checks that run makes before a start, so that no unit is written that
// would fail at every boot.
std::variant<BootService, Problems> bootService(const QString& program, const QString& typedGameDir,
                                                const QString& outputPath, quint16 port);

// Writes the unit, unless a file of that name holds other text, such as a unit that the
// operator has since edited, which it keeps; true when the file already held the unit. On
// failure, why.
std::variant<bool, QString> writeBootService(const BootService& service);

// The commands that start the unit now and at every boot: systemd's reload and enable --now,
// and where the user's services wait for their first login, loginctl enable-linger.
QStringList startSteps(const BootService& service);

// Runs the start's steps where the user's service manager answers; nothing once each has
// been done, else why not, such as a step that failed and what it said.
std::optional<QString> enableBootService(const BootService& service);

// Has systemd stop and disable the unit of port, where the user's service manager answers,
// then removes it, and the link that enabled it, only where the tool wrote that unit.
struct Removal {
    bool removed = false;        // there was a unit to remove
    bool throughSystemd = false; // systemd stopped and disabled it first
};
std::variant<Removal, QString> removeBootService(quint16 port);
