#pragma once

#include "config/ServerSettings.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>
#include <variant>

// The game server's reading of a config script, byte for byte as ioquake3 does it: its
// command buffer cuts the text into commands at line ends and at semicolons outside quotes
// and comments, vstr and exec put text into the buffer ahead of what remains, its tokenizer
// splits each command into words and quoted strings, and set, seta, sets, setu, the bare
// form "NAME value", toggle, reset and the map commands act on them.
namespace ServerScript {

// The largest script the server executes: its command buffer holds 128 KiB, including the
// line end it adds after the script.
inline constexpr qsizetype kMaxBytes = 128 * 1024 - 1;

// Where bytes stand in the script: from begin up to end, or nowhere, for text that vstr or
// exec put into the buffer from elsewhere.
struct Span {
    qsizetype begin = -1;
    qsizetype end = -1;

    bool known() const { return begin >= 0; }
    bool operator==(const Span&) const = default;
};

struct Command {
    int line;                    // the script's line where it starts, or that inserted it
    QByteArray text;             // as the command buffer passes it on
    QList<QByteArray> arguments; // the command's name first; empty for a comment
    Span span;                   // the command's bytes in the script
    QList<Span> argumentSpans;   // each argument's bytes in the script, quotes included
    bool own = false;            // the script's own, not run by vstr or exec
};

// The commands of a text that nothing is inserted into, as the command buffer cuts them.
QList<Command> commands(const QByteArray& script);

} // namespace ServerScript

// A command of a script, by its line, for messages.
struct ScriptLine {
    int line;
    QString text;

    bool operator==(const ScriptLine&) const = default;
};

// A command that vstr or exec runs and that sets one of the form's variables, with the
// script's line that it comes from; the clause says what it sets, and when.
struct LaterSetting {
    int line;
    QString variable;
    QString clause;

    bool operator==(const LaterSetting&) const = default;
};

// Where the script's own text holds what the form carries, for writing the form back into it.
struct ScriptPlaces {
    // The script's own commands that set each of the form's variables, by lower-case name.
    QHash<QString, QList<ServerScript::Command>> settings;
    // Each line "//set NAME """ that stands for a password left empty, by lower-case name.
    QHash<QString, ServerScript::Span> emptyPasswords;
    // The map command that loads the first map, where its map's name stands in the script.
    std::optional<ServerScript::Command> mapCommand;
    // Where the script's own command that runs the first map command starts.
    qsizetype firstMapAt = -1;
    // A rotation of the form that the tool writes: the lines of its steps, the line that
    // sets nextmap to its second step, and the maps after the first.
    struct Rotation {
        ServerScript::Span steps;
        ServerScript::Span nextmap;
        QStringList maps;
    };
    std::optional<Rotation> rotation;
    // Where each of the script's own commands starts, comments included.
    QSet<qsizetype> commandStarts;
    // The script ends inside a block comment that is never closed.
    bool endsInComment = false;
};

// What a script leaves in the game server of the settings that the form holds.
struct ScriptReading {
    // The script's text.
    QByteArray text;
    // The value each of the form's server variables holds in the level that the script
    // leaves running, by the variable's lower-case name; only those the script sets.
    QHash<QString, QString> values;
    // The value of each of the form's variables that exists in that level, set by the script
    // or not, by lower-case name.
    QHash<QString, QString> held;
    // The map that the server loads first: the last that a map command (map, devmap, spmap
    // or spdevmap) loads as the script runs, vstr's included, if any.
    std::optional<QString> map;
    // The script's line that runs the map command that loads it, a vstr's included.
    int mapLine = 0;
    // Why no map loads, where none does.
    QString noMap;
    // The maps that follow it at the ends of levels, in playing order, up to where the
    // rotation repeats itself: what nextmap, or the game's fall back to vstr d1, loads.
    QStringList rotation;
    // Where the playing order, the map and then the rotation, starts over: 0 at the map.
    int repeatsFrom = 0;
    // The maps that a map command names and that cannot be found, which leave the server on
    // its map.
    QStringList missingMaps;
    // The lines of a rotation that is not of the form the tool writes, which is kept as it
    // stands.
    QList<int> rotationLines;
    // The commands that set one of the form's variables from text that vstr or exec runs,
    // with the value masked where it is a password.
    QList<LaterSetting> overriding;
    // The values that the engine's archive, run before the script, leaves in the server,
    // where they differ from the engine's own and the script does not change them: each
    // variable by its lower-case name, with its value.
    QList<std::pair<QString, QString>> archived;
    // The script's lines that set a variable which keeps its value until the next map loads,
    // after the last map load: each with the variable and the value it waits with.
    QList<ScriptLine> latched;
    // The script sets d1, or nextmap to something other than the restart of the map.
    bool namesNextMaps = false;
    // The level that the script leaves running is a tournament, where the map is only ever
    // restarted.
    bool tournament = false;
    // The rotation's last map is played as a tournament, which only restarts it.
    bool rotationEndsInTournament = false;
    // Why the server could not run the script, as when vstr commands run one another without
    // end, or why the tool cannot follow it.
    std::optional<QString> problem;
    // The files that its exec and execq commands run, as they name them.
    QStringList executed;
    // The commands that the form cannot carry: other variables, exec, bind and the rest,
    // with the value of any password masked.
    QList<ScriptLine> uncarried;
    // Where the form's settings stand in the text.
    ScriptPlaces places;

    // The value of a setting's variable, if the script sets it.
    std::optional<QString> value(SettingsMember member) const;

    // The form's settings from the script: each as the server holds it, where the script
    // sets none the engine's own value, and no map where it loads none.
    ServerSettings settings() const;
};

// What the server runs around a script: whether it finds a map, where without it every map
// is found; the text of a file that exec runs, as the server finds it, where without it, or
// where it gives nothing, exec runs nothing; and the text that the engine runs before the
// script, its archive.
struct ScriptSurroundings {
    std::function<bool(const QString&)> mapExists;
    std::function<std::optional<QByteArray>(const QString&)> executed;
    QByteArray before;
};

// What the script leaves in the server, the maps it plays included.
ScriptReading readScript(const QByteArray& script, const ScriptSurroundings& surroundings = {});
inline ScriptReading readScript(const QByteArray& script,
                                const std::function<bool(const QString&)>& mapExists)
{
    return readScript(script, ScriptSurroundings{mapExists, {}, {}});
}

// Whether the script sets a password, to any value, even one that a later line empties: a
// variable whose name holds "pass" in any case, such as the form's four, the game's
// g_password or a mod's admin password, by any command that sets a variable, also inside a
// quoted string that vstr could run. A copy of such a script is for its owner alone.
bool setsPasswords(const QByteArray& script);

// Whether a variable holds a secret: its name holds "pass", in any case.
bool isSecret(const QString& variable);

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

// What the operator should know of the values that an earlier server left in the engine's
// archive, the file named, and that the server will hold: each, a password masked; nothing
// without any.
std::optional<QString> archivedNotice(const ScriptReading& reading, const QString& archive);

// The value that the engine or the game module gives a variable, if either has it.
std::optional<QByteArray> registeredValue(const QString& name);

// What the operator should know of the lines that set a variable which waits for the next
// map; nothing without any.
std::optional<QString> latchedNotice(const ScriptReading& reading);

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
