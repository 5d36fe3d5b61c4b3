#pragma once

#include "config/ConfigScript.h"
#include "config/ServerSettings.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <variant>

// The game server's reading of a config script, byte for byte as ioquake3 does it: its
// command buffer cuts the text into commands at line ends and at semicolons outside quotes
// and comments, its tokenizer splits each command into words and quoted strings, and set,
// seta, sets, setu, the bare form "NAME value" and the map commands act on them.
namespace ServerScript {

// The largest script the server executes: its command buffer holds 128 KiB, including the
// line end it adds after the script.
inline constexpr qsizetype kMaxBytes = 128 * 1024 - 1;

struct Command {
    int line;                    // where the command starts, counted from 1
    QByteArray text;             // as the command buffer passes it on
    QList<QByteArray> arguments; // the command's name first; empty for a comment
};

QList<Command> commands(const QByteArray& script);

} // namespace ServerScript

// A command of a script, by its line, for messages.
struct ScriptLine {
    int line;
    QString text;

    bool operator==(const ScriptLine&) const = default;
};

// What a script leaves in the game server of the settings that the form holds.
struct ScriptReading {
    // The value each of the form's server variables holds after the script, by the
    // variable's lower-case name; only those the script sets.
    QHash<QString, QString> values;
    // The map that the server loads first: the last that a map command (map, devmap, spmap
    // or spdevmap) loads as the script runs, vstr's included, if any.
    std::optional<QString> map;
    // The script's line that runs the map command that loads it, a vstr's included.
    int mapLine = 0;
    // The maps that follow it at the ends of levels, in playing order, up to where the
    // rotation repeats itself: what nextmap, or the game's fall back to vstr d1, loads.
    QStringList rotation;
    // Where the playing order, the map and then the rotation, starts over: 0 at the map.
    int repeatsFrom = 0;
    // The maps that a map command names and that cannot be found, which leave the server on
    // its map.
    QStringList missingMaps;
    // What writing the form back to this script keeps of it.
    ScriptExtras kept;
    // The lines of a rotation that is not of the form the tool writes, which is kept as it
    // stands.
    QList<int> rotationLines;
    // The kept commands that set one of the form's variables later, when vstr runs them: each
    // line with the variable.
    QList<ScriptLine> overriding;
    // The script sets d1, or nextmap to something other than the restart of the map.
    bool namesNextMaps = false;
    // The script makes the game a tournament, where the map is only ever restarted.
    bool tournament = false;
    // Why the server could not run the script, as when vstr commands run one another without
    // end.
    std::optional<QString> problem;
    // The files that its exec and execq commands run, as they name them.
    QStringList executed;
    // The commands that the form cannot carry: other variables, exec, bind and the rest,
    // with the value of any password masked.
    QList<ScriptLine> uncarried;

    // The value of a setting's variable, if the script sets it.
    std::optional<QString> value(SettingsMember member) const;

    // The form's settings from the script: each as the server holds it, or where the script
    // sets none, as the window shows it when it opens.
    ServerSettings settings() const;
};

// What the script leaves in the server, the maps it plays included, where mapExists tells
// whether the server finds a map; without it, every map is found.
ScriptReading readScript(const QByteArray& script,
                         const std::function<bool(const QString&)>& mapExists = {});

// Whether the script sets a password, to any value, even one that a later line empties: a
// variable whose name holds "pass" in any case, such as the form's four, the game's
// g_password or a mod's admin password, by a set command or the bare form, also inside a
// quoted string that vstr could run. A copy of such a script is for its owner alone.
bool setsPasswords(const QByteArray& script);

// Why the server would not execute the text of the script named name (a path in quotes, or
// "standard input") whole: binary data or more than it holds.
std::optional<QString> scriptTextProblem(const QString& name, const QByteArray& bytes);

// The bytes of the script file at path, or why the server would not execute it whole: not
// a regular file, unreadable, binary or too large.
std::variant<QByteArray, QString> readScriptBytes(const QString& path);

// The settings of a script's text, or why it is no script of this form.
std::variant<ScriptReading, QString> readScriptText(const QString& name, const QByteArray& bytes);

// The settings of the script file at path, or why it cannot be read as a script.
std::variant<ScriptReading, QString> readScriptFile(const QString& path);

// What the operator should know of the maps that the script plays in turn: which they are,
// or that a tournament plays none; nothing without a rotation.
std::optional<QString> rotationNotice(const ScriptReading& reading);

// What becomes of the commands that the form does not carry: kept, as the settings are
// written back to the script; left out, as they go to another file; or only shown.
enum class Keeping { Kept, WrittenElsewhere, Shown };

// The warning that the form does not carry all of the script named name (a path in quotes,
// or "Standard input"): the commands it cannot carry, each with its line, what becomes of
// them, and those that set one of the form's variables later, from a string that vstr runs.
// listed says how many of the commands to name, the rest only counted; -1 names every one.
QString uncarriedWarning(const QString& name, const ScriptReading& reading, Keeping keeping,
                         qsizetype listed = -1);

// The commands that the form cannot carry, each with its line.
QStringList uncarriedLines(const ScriptReading& reading);
