#include "ScriptReader.h"

#include "ConfigFile.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
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
const QStringList kEngineVariables{"sv_hostname",       "sv_maxclients",      "timelimit",
                                   "sv_privateclients", "sv_privatepassword", "rconpassword"};
// The variables whose values are secrets: the form's four passwords and the game's own.
const QStringList kPasswordVariables{"sv_privatepassword", "g_adminpass", "rconpassword",
                                     "password", "g_password"};

QString lowerLatin1(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes).toLower();
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

} // namespace

ScriptReading readScript(const QByteArray& script)
{
    QStringList variables;
    for (const SettingsField& field : kSettingsFields) {
        if (field.variable)
            variables << QString::fromLatin1(field.variable).toLower();
    }
    QStringList existing = kEngineVariables;
    ScriptReading reading;
    for (const ServerScript::Command& command : ServerScript::commands(script)) {
        const QList<QByteArray>& arguments = command.arguments;
        if (arguments.isEmpty())
            continue;
        const QString name = lowerLatin1(arguments[0]);
        const auto set = setVariable(arguments);
        const bool bare = set && set->second == 1;
        if (set && !bare)
            existing << set->first;
        if (set && variables.contains(set->first) && (!bare || existing.contains(set->first))) {
            reading.values.insert(set->first,
                                  QString::fromLatin1(arguments.mid(set->second).join(' ')));
        } else if (kMapCommands.contains(name)) {
            reading.map = QString::fromLatin1(arguments.value(1));
        } else {
            // exec takes exactly one name.
            if ((name == u"exec" || name == u"execq") && arguments.size() == 2)
                reading.executed << QString::fromLatin1(arguments[1]);
            // A password is never shown: the command up to its value, then stars.
            const QByteArray text = set && kPasswordVariables.contains(set->first)
                                        ? arguments.first(set->second).join(' ') + " \"********\""
                                        : command.text.trimmed();
            reading.uncarried << ScriptLine{command.line, QString::fromLatin1(text)};
        }
    }
    return reading;
}

bool setsPasswords(const QByteArray& script)
{
    return std::ranges::any_of(ServerScript::commands(script), [](const auto& command) {
        const auto set = setVariable(command.arguments);
        return set && kPasswordVariables.contains(set->first);
    });
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
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.read(ServerScript::kMaxBytes + 1);
    if (!file.isOpen() || file.error() != QFileDevice::NoError)
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

QString uncarriedWarning(const QString& name, const ScriptReading& reading)
{
    constexpr qsizetype kShown = 12;
    QStringList lines;
    for (const ScriptLine& command :
         reading.uncarried.first(std::min(kShown, reading.uncarried.size())))
        lines << QStringLiteral("line %1: %2").arg(command.line).arg(command.text);
    if (reading.uncarried.size() > kShown)
        lines << QStringLiteral("and %1 more").arg(reading.uncarried.size() - kShown);
    return QStringLiteral("%1 holds commands that the settings cannot carry:\n%2\nWriting the "
                          "settings over it drops them; to keep them, write the settings to "
                          "another file.")
        .arg(name, lines.join(u'\n'));
}
