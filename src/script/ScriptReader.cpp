#include "ScriptReader.h"

#include "config/ConfigFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <deque>
#include <string_view>

namespace ServerScript {
namespace {

// The command buffer passes a command on in a line of this size, its NUL included.
constexpr qsizetype kMaxCommandLine = 1024;

// The server's characters are signed, so every byte above 127 is white space to it.
bool isSpace(char c)
{
    return static_cast<signed char>(c) <= ' ';
}

// The tokenizer: white space separates arguments, a quoted argument runs to the next quote,
// and comments end the command or are skipped.
QList<QByteArray> tokens(const QByteArray& line)
{
    QList<QByteArray> arguments;
    const char* t = line.constData(); // NUL-terminated, as QByteArray keeps it
    while (true) {
        while (true) {
            while (*t && isSpace(*t))
                ++t;
            if (!*t || (t[0] == '/' && t[1] == '/'))
                return arguments;
            if (t[0] != '/' || t[1] != '*')
                break;
            while (*t && (t[0] != '*' || t[1] != '/'))
                ++t;
            if (!*t)
                return arguments;
            t += 2;
        }
        QByteArray argument;
        if (*t == '"') {
            for (++t; *t && *t != '"'; ++t)
                argument += *t;
            arguments << argument;
            if (!*t)
                return arguments;
            ++t;
            continue;
        }
        while (*t && !isSpace(*t) && *t != '"' && !(t[0] == '/' && (t[1] == '/' || t[1] == '*')))
            argument += *t++;
        arguments << argument;
        if (!*t)
            return arguments;
    }
}

} // namespace

QList<Command> commands(const QByteArray& script)
{
    // A command ends at a line break, or at a semicolon outside quotes and comments; a block
    // comment may span lines, and the comment state carries over from command to command.
    // The server reads a script up to its first NUL.
    const qsizetype nul = script.indexOf('\0');
    const QByteArray text = nul < 0 ? script : script.first(nul);
    QList<Command> result;
    bool inStarComment = false;
    bool inSlashComment = false;
    int line = 1;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype size = text.size() - start;
        const char* t = text.constData() + start;
        int quotes = 0;
        qsizetype i = 0;
        for (; i < size; ++i) {
            if (t[i] == '"')
                ++quotes;
            if (!(quotes & 1)) {
                if (i < size - 1) {
                    if (!inStarComment && t[i] == '/' && t[i + 1] == '/') {
                        inSlashComment = true;
                    } else if (!inSlashComment && t[i] == '/' && t[i + 1] == '*') {
                        inStarComment = true;
                    } else if (inStarComment && t[i] == '*' && t[i + 1] == '/') {
                        inStarComment = false;
                        ++i;
                        break;
                    }
                }
                if (!inSlashComment && !inStarComment && t[i] == ';')
                    break;
            }
            if (!inStarComment && (t[i] == '\n' || t[i] == '\r')) {
                inSlashComment = false;
                break;
            }
        }
        const qsizetype length = std::min(i, kMaxCommandLine - 1);
        const QByteArray command(t, length);
        result << Command{line, command, tokens(command)};
        const qsizetype used = length == size ? length : length + 1;
        // Lines end in LF, CR LF or CR alone.
        for (qsizetype at = start; at < start + used; ++at) {
            if (text[at] == '\n' ||
                (text[at] == '\r' && (at + 1 == text.size() || text[at + 1] != '\n')))
                ++line;
        }
        start += used;
    }
    return result;
}

} // namespace ServerScript

std::optional<QString> ScriptReading::value(SettingsMember member) const
{
    const char* variable = settingsField(member).variable;
    const auto found = values.constFind(QString::fromLatin1(variable).toLower());
    return found == values.constEnd() ? std::nullopt : std::optional(*found);
}

ServerSettings ScriptReading::settings() const
{
    ServerSettings settings = designSettings();
    for (const SettingsField& field : kSettingsFields) {
        if (field.variable)
            settings.*field.member = value(field.member).value_or(settings.*field.member);
    }
    settings.initialMap = map.value_or(settings.initialMap);
    return settings;
}

namespace {

const QStringList kSetCommands{"set", "seta", "sets", "setu"};
// The commands that load a map; the single-player ones load it as map does.
const QStringList kMapCommands{"map", "devmap", "spmap", "spdevmap"};
// The form's variables that the engine itself creates when it starts. Any other variable
// exists only once a set command has made it, or the game module, which loads with a map.
const QStringList kEngineVariables{
    "sv_hostname",        "sv_maxclients", "timelimit", "sv_privateclients",
    "sv_privatepassword", "rconpassword",  "nextmap"};
// What the server sets nextmap to at every map it loads.
const QString kRestart = QStringLiteral("map_restart 0");
// The level ends that the rotation is followed through before it must have repeated.
constexpr int kMostLevels = 1024;

QString lowerLatin1(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes).toLower();
}

// A variable whose name holds "pass", in any case, holds a secret: the form's passwords, the
// game's, and those of mods, such as an admin password of their own.
bool isSecret(const QString& variable)
{
    return variable.contains(u"pass", Qt::CaseInsensitive);
}

// The variable that a command sets, and where its value starts among the arguments: a set
// command names it second, the bare form "NAME value" first. Nothing for other commands.
std::optional<std::pair<QString, qsizetype>> setVariable(const QList<QByteArray>& arguments)
{
    if (arguments.size() < 2)
        return std::nullopt;
    if (kSetCommands.contains(lowerLatin1(arguments[0])))
        return arguments.size() >= 3 ? std::optional(std::pair(lowerLatin1(arguments[1]), 2))
                                     : std::nullopt;
    return std::pair(lowerLatin1(arguments[0]), 1);
}

// Whether the command sets a secret, itself or in a quoted string among its arguments that
// vstr could run as commands.
bool setsSecret(const QList<QByteArray>& arguments, int depth = 0)
{
    if (const auto set = setVariable(arguments); set && isSecret(set->first))
        return true;
    return depth < 8 && std::ranges::any_of(arguments.mid(1), [&](const QByteArray& argument) {
               return std::ranges::any_of(ServerScript::commands(argument),
                                          [&](const ServerScript::Command& inner) {
                                              return setsSecret(inner.arguments, depth + 1);
                                          });
           });
}

// The command as it may be shown: a secret's value as stars, also inside a quoted string.
QByteArray masked(const ServerScript::Command& command, int depth = 0)
{
    if (!setsSecret(command.arguments, depth))
        return command.text.trimmed();
    const auto set = setVariable(command.arguments);
    if (set && isSecret(set->first))
        return command.arguments.first(set->second).join(' ') +
               (depth == 0 ? " \"********\"" : " ********");
    QList<QByteArray> shown;
    for (const QByteArray& argument : command.arguments) {
        QList<QByteArray> inner;
        for (const ServerScript::Command& each : ServerScript::commands(argument))
            inner << masked(each, depth + 1);
        const QByteArray word = shown.isEmpty() ? argument : inner.join("; ");
        const bool quote = word.isEmpty() || word.contains(' ') || word.contains(';');
        shown << (quote ? '"' + word + '"' : word);
    }
    return shown.join(' ');
}

// The server running a script, as far as the form and the map rotation care: every
// variable that it sets, the maps it loads, and what vstr puts into its command buffer,
// which runs at once, where the vstr stood.
class Run {
public:
    explicit Run(std::function<bool(const QString&)> mapExists) : m_mapExists(std::move(mapExists))
    {
        for (const SettingsField& field : kSettingsFields) {
            if (field.variable)
                m_formVariables << QString::fromLatin1(field.variable).toLower();
        }
    }

    // Runs the commands; those of the script itself that the form cannot carry are kept.
    // False when vstr ran more often than the server could without hanging.
    bool execute(const QList<ServerScript::Command>& script, bool scriptsOwn)
    {
        std::deque<std::pair<ServerScript::Command, bool>> buffer;
        for (const ServerScript::Command& command : script)
            buffer.emplace_back(command, scriptsOwn);
        int vstrs = 0;
        while (!buffer.empty()) {
            const auto [command, fromScript] = buffer.front();
            buffer.pop_front();
            if (fromScript)
                own << Own{command, false};
            const QList<QByteArray>& arguments = command.arguments;
            if (arguments.isEmpty())
                continue;
            const QString name = lowerLatin1(arguments[0]);
            if (name == u"vstr" && arguments.size() == 2) {
                if (++vstrs > kMostVstrs)
                    return false;
                m_read << lowerLatin1(arguments[1]);
                const QByteArray text = m_cvars.value(lowerLatin1(arguments[1])).toLatin1();
                const QList<ServerScript::Command> inserted = ServerScript::commands(text + '\n');
                for (auto at = inserted.rbegin(); at != inserted.rend(); ++at)
                    buffer.emplace_front(
                        ServerScript::Command{command.line, at->text, at->arguments}, false);
            }
            const bool carried = act(command, name);
            if (fromScript)
                own.last().carried = carried;
            if (!carried && fromScript)
                reading.uncarried << ScriptLine{command.line, QString::fromLatin1(masked(command))};
        }
        return true;
    }

    QString cvar(const QString& name) const { return m_cvars.value(name); }
    void setCvar(const QString& name, const QString& value) { m_cvars.insert(name, value); }
    // Where the rotation stands: the map and the variables.
    std::pair<QString, QHash<QString, QString>> state() const
    {
        return {reading.map.value_or(QString()), m_cvars};
    }

    // Whether two states play on alike: the same map, and the same values of what decides
    // the next one, nextmap, d1 and the variables that vstr has run so far.
    bool alike(const std::pair<QString, QHash<QString, QString>>& a,
               const std::pair<QString, QHash<QString, QString>>& b) const
    {
        if (a.first != b.first)
            return false;
        for (const QString& name : m_read + QSet<QString>{"nextmap", "d1"}) {
            if (a.second.value(name) != b.second.value(name))
                return false;
        }
        return true;
    }

    static constexpr int kMostVstrs = 10000;
    ScriptReading reading;
    // The script's own commands, comments and empty ones included, and whether the form
    // carries each; and where the first map command stands among them.
    struct Own {
        ServerScript::Command command;
        bool carried;
    };
    QList<Own> own;
    std::optional<qsizetype> firstMapAt;
    // The variables that vstr has run.
    const QSet<QString>& read() const { return m_read; }
    bool isFormVariable(const QString& name) const { return m_formVariables.contains(name); }

private:
    // What the command does to what is followed; false when the form does not carry it.
    bool act(const ServerScript::Command& command, const QString& name)
    {
        const QList<QByteArray>& arguments = command.arguments;
        const auto set = setVariable(arguments);
        const bool bare = set && set->second == 1;
        if (set && (!bare || m_existing.contains(set->first))) {
            if (!bare)
                m_existing << set->first;
            const QString value = QString::fromLatin1(arguments.mid(set->second).join(' '));
            m_cvars.insert(set->first, value);
            if (m_formVariables.contains(set->first)) {
                reading.values.insert(set->first, value);
                return true;
            }
        } else if (kMapCommands.contains(name)) {
            if (!firstMapAt)
                firstMapAt = own.size() - 1;
            const QString map = QString::fromLatin1(arguments.value(1));
            // A map that cannot be found leaves the server on its map, with its nextmap.
            if (m_mapExists(map)) {
                reading.map = map;
                reading.mapLine = command.line;
                m_cvars.insert(QStringLiteral("nextmap"), kRestart);
            } else if (!reading.missingMaps.contains(map)) {
                reading.missingMaps << map;
            }
            return true;
        } else if ((name == u"exec" || name == u"execq") && arguments.size() == 2) {
            reading.executed << QString::fromLatin1(arguments[1]);
        }
        return false;
    }

    std::function<bool(const QString&)> m_mapExists;
    QStringList m_formVariables;
    QStringList m_existing = kEngineVariables;
    QHash<QString, QString> m_cvars;
    QSet<QString> m_read;
};

// A rotation as the tool writes it: steps d1 to dN, each loading its map and naming the next
// as nextmap, the last naming d1, and nextmap set to d2 after the map command. Its commands'
// places among the script's own, and the maps after the first; nothing for any other form.
std::optional<std::pair<QList<qsizetype>, QStringList>> toolsRotation(const QList<Run::Own>& own)
{
    static const QRegularExpression step(
        QStringLiteral("^set d(\\d+) \"map ([^\";]+); set nextmap vstr d(\\d+)\"$"));
    QMap<int, std::pair<qsizetype, QString>> steps;
    QList<qsizetype> places;
    for (qsizetype i = 0; i < own.size(); ++i) {
        const QString text = QString::fromLatin1(own[i].command.text.trimmed());
        if (const QRegularExpressionMatch match = step.match(text); match.hasMatch()) {
            const int number = match.captured(1).toInt();
            if (steps.contains(number))
                return std::nullopt;
            steps.insert(number, {i, match.captured(2)});
            places << i;
            if (match.captured(3).toInt() != number + 1 && match.captured(3) != u"1")
                return std::nullopt;
        } else if (text == u"set nextmap \"vstr d2\"") {
            places << i;
        }
    }
    const int count = int(steps.size());
    if (count < 2 || places.size() != count + 1 || steps.firstKey() != 1 ||
        steps.lastKey() != count)
        return std::nullopt;
    QStringList maps;
    for (int number = 2; number <= count; ++number)
        maps << steps[number].second;
    return std::pair(places, maps);
}

// What writing the form back to the script keeps of it: each command that the form does not
// carry, with the comments before it, where it stood: before the command that runs the
// script's first map command, or from it on, as a vstr that loads the map stays after the
// form's map line; and a rotation of the tool's own form, as the form's rotation.
void keep(Run& run, qsizetype count)
{
    QList<Run::Own> own = run.own.first(count);
    if (const auto rotation = toolsRotation(own)) {
        for (const qsizetype place : rotation->first) {
            own[place].carried = true;
            run.reading.uncarried.removeIf(
                [&](const ScriptLine& line) { return line.line == own[place].command.line; });
        }
        run.reading.kept.rotation = rotation->second;
    }
    // A rotation of another form is its vstr commands and what they run.
    for (const Run::Own& each : own) {
        const QList<QByteArray>& arguments = each.command.arguments;
        const auto set = setVariable(arguments);
        if (!each.carried && !run.reading.rotation.isEmpty() &&
            run.reading.kept.rotation.isEmpty() &&
            ((!arguments.isEmpty() && lowerLatin1(arguments[0]) == u"vstr") ||
             (set && (set->first == u"nextmap" || run.read().contains(set->first)))))
            run.reading.rotationLines << each.command.line;
    }
    // A kept command may set one of the form's variables later, from a string that vstr runs.
    for (const Run::Own& each : own) {
        if (each.carried)
            continue;
        for (const QByteArray& argument : each.command.arguments.mid(1)) {
            for (const ServerScript::Command& inner : ServerScript::commands(argument)) {
                const auto set = setVariable(inner.arguments);
                if (set && run.isFormVariable(set->first))
                    run.reading.overriding << ScriptLine{each.command.line, set->first};
            }
        }
    }
    QStringList comments;
    for (qsizetype i = 0; i < own.size(); ++i) {
        const QByteArray& text = own[i].command.text;
        if (own[i].command.arguments.isEmpty()) {
            if (!text.trimmed().isEmpty())
                comments << QString::fromLatin1(text);
            continue;
        }
        if (!own[i].carried) {
            QStringList& place = run.firstMapAt && i >= *run.firstMapAt ? run.reading.kept.after
                                                                        : run.reading.kept.before;
            place << comments << QString::fromLatin1(text);
        }
        comments.clear();
    }
    (run.firstMapAt ? run.reading.kept.after : run.reading.kept.before) << comments;
}

} // namespace

ScriptReading readScript(const QByteArray& script,
                         const std::function<bool(const QString&)>& mapExists)
{
    Run run(mapExists ? mapExists : [](const QString&) { return true; });
    const auto loops = [&](const QString& where) {
        run.reading.problem =
            QStringLiteral("its vstr commands run one another without end %1, where the server "
                           "would hang: vstr ran %2 times.")
                .arg(where, QLocale(QLocale::English).toString(Run::kMostVstrs));
    };
    if (!run.execute(ServerScript::commands(script), true)) {
        loops(QStringLiteral("as the script runs"));
        return run.reading;
    }
    const qsizetype ownCount = run.own.size();
    // At the end of each level the game runs vstr nextmap; after the map's reset of nextmap
    // it runs vstr d1 instead, if set, as the rotations of the scripts name their steps. In
    // a tournament it only restarts the map.
    run.reading.tournament = run.cvar(QStringLiteral("g_gametype")).trimmed() == u"1";
    const QString nextmap = run.cvar(QStringLiteral("nextmap"));
    run.reading.namesNextMaps =
        !run.cvar(QStringLiteral("d1")).isEmpty() ||
        (!nextmap.isEmpty() && nextmap.compare(kRestart, Qt::CaseInsensitive));
    if (!run.reading.map || run.reading.tournament) {
        keep(run, ownCount);
        return run.reading;
    }
    const QString first = *run.reading.map;
    const int firstLine = run.reading.mapLine;
    QList<std::pair<QString, QHash<QString, QString>>> seen{run.state()};
    for (int level = 0; level < kMostLevels; ++level) {
        QByteArray next = "vstr nextmap";
        if (run.cvar(QStringLiteral("nextmap")).compare(kRestart, Qt::CaseInsensitive) == 0 &&
            !run.cvar(QStringLiteral("d1")).isEmpty()) {
            run.setCvar(QStringLiteral("nextmap"), QStringLiteral("vstr d2"));
            next = "vstr d1";
        }
        const ScriptReading before = run.reading;
        if (!run.execute(ServerScript::commands(next), false)) {
            loops(QStringLiteral("at the end of a level"));
            return run.reading;
        }
        // What runs at a level's end is no command of the script's.
        run.reading.values = before.values;
        run.reading.executed = before.executed;
        const auto state = run.state();
        const auto earlier =
            std::ranges::find_if(seen, [&](const auto& each) { return run.alike(each, state); });
        if (earlier != seen.end()) {
            run.reading.repeatsFrom = int(earlier - seen.begin());
            break;
        }
        seen << state;
        run.reading.rotation << *run.reading.map;
    }
    run.reading.map = first;
    run.reading.mapLine = firstLine;
    keep(run, ownCount);
    return run.reading;
}

bool setsPasswords(const QByteArray& script)
{
    return std::ranges::any_of(ServerScript::commands(script),
                               [](const auto& command) { return setsSecret(command.arguments); });
}

std::optional<QString> scriptTextProblem(const QString& name, const QByteArray& bytes)
{
    // Text holds no control characters but white space; the server would stop at a NUL.
    const std::string_view whiteSpace = "\t\n\v\f\r";
    if (std::any_of(bytes.begin(), bytes.end(), [&](char c) {
            return uchar(c) < 0x20 && whiteSpace.find(c) == std::string_view::npos;
        }))
        return QStringLiteral("%1 is not a server script: it holds binary data, such as NUL "
                              "bytes, where a script holds only text.")
            .arg(name);
    if (bytes.size() > ServerScript::kMaxBytes)
        return QStringLiteral("%1 is not a server script: the game server executes no "
                              "script larger than %2 bytes.")
            .arg(name, QLocale(QLocale::English).toString(ServerScript::kMaxBytes));
    return std::nullopt;
}

std::variant<QByteArray, QString> readScriptBytes(const QString& path)
{
    const QString name = u'"' + path + u'"';
    if (const std::optional<QString> kind = specialFileKind(path))
        return QStringLiteral("%1 is %2, not a script file, and was not opened.").arg(name, *kind);
    QFile file;
    QByteArray bytes;
    if (const std::optional<QString> problem = openRegularFile(file, path))
        return QStringLiteral("Could not read the script %1: %2.").arg(name, *problem);
    bytes = file.read(ServerScript::kMaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("Could not read the script %1: %2.").arg(name, file.errorString());
    if (const std::optional<QString> problem = scriptTextProblem(name, bytes))
        return *problem;
    return bytes;
}

std::variant<ScriptReading, QString> readScriptText(const QString& name, const QByteArray& bytes)
{
    if (const std::optional<QString> problem = scriptTextProblem(name, bytes))
        return *problem;
    ScriptReading reading = readScript(bytes);
    if (reading.problem)
        return QStringLiteral("%1 is not a script that the server can run: %2")
            .arg(name, *reading.problem);
    if (reading.values.isEmpty() && !reading.map)
        return QStringLiteral("%1 is not a server script of this form: it sets none of its "
                              "settings and starts no map.")
            .arg(name);
    return reading;
}

std::variant<ScriptReading, QString> readScriptFile(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("\"%1\" is a folder, not a script. Choose a config file.").arg(path);
    if (!info.exists())
        return QStringLiteral("The script \"%1\" does not exist.").arg(path);
    const std::variant<QByteArray, QString> bytes = readScriptBytes(path);
    if (const QString* problem = std::get_if<QString>(&bytes))
        return *problem;
    return readScriptText(u'"' + path + u'"', std::get<QByteArray>(bytes));
}

std::optional<QString> rotationNotice(const ScriptReading& reading)
{
    if (reading.tournament)
        return QStringLiteral("The script sets g_gametype 1, a tournament, where the game "
                              "restarts its map at the end of each level and never moves to "
                              "another, whatever the script's rotation says.");
    if (!reading.map)
        return std::nullopt;
    // A rotation that never leaves its map is a dead end that only a map change ends.
    if (reading.rotation.isEmpty())
        return reading.namesNextMaps
                   ? std::optional(QStringLiteral("The script names maps to follow, but at the "
                                                  "end of each level the server plays %1 again: "
                                                  "its nextmap leads back to it.")
                                       .arg(*reading.map))
                   : std::nullopt;
    return QStringLiteral("At the ends of levels the server plays %1, then again from %2.")
        .arg(reading.rotation.join(QStringLiteral(", ")),
             reading.repeatsFrom == 0 ? *reading.map : reading.rotation[reading.repeatsFrom - 1]);
}

QStringList uncarriedLines(const ScriptReading& reading)
{
    QStringList lines;
    for (const ScriptLine& command : reading.uncarried)
        lines << QStringLiteral("line %1: %2").arg(command.line).arg(command.text);
    return lines;
}

QString uncarriedWarning(const QString& name, const ScriptReading& reading, Keeping keeping,
                         qsizetype listed)
{
    QStringList lines = uncarriedLines(reading);
    if (listed >= 0 && lines.size() > listed)
        lines = lines.first(listed) << QStringLiteral("and %1 more, all listed in the details")
                                           .arg(lines.size() - listed);
    QString text = QStringLiteral("%1 holds commands that the settings cannot carry:\n%2\n")
                       .arg(name, lines.join(u'\n'));
    switch (keeping) {
    case Keeping::Kept:
        text += QStringLiteral("The config file written from the settings keeps them where "
                               "they stood, before or after the map command.");
        break;
    case Keeping::WrittenElsewhere:
        text += QStringLiteral("They are left out of the config file, which is another file "
                               "than the script.");
        break;
    case Keeping::Shown:
        text += QStringLiteral("create --from keeps them where they stand when it writes the "
                               "settings back to the script.");
        break;
    }
    for (const ScriptLine& later : reading.overriding)
        text += QStringLiteral("\nLine %1 sets %2 later, when vstr runs it, in place of the "
                               "settings' value.")
                    .arg(later.line)
                    .arg(later.text);
    return text;
}
