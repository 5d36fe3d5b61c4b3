#include "ScriptReader.h"

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

ScriptReading readScript(const QByteArray& script)
{
    QStringList variables;
    for (const SettingsField& field : kSettingsFields) {
        if (field.variable)
            variables << QString::fromLatin1(field.variable).toLower();
    }
    ScriptReading reading;
    for (const ServerScript::Command& command : ServerScript::commands(script)) {
        const QList<QByteArray>& arguments = command.arguments;
        if (arguments.isEmpty())
            continue;
        const QString name = QString::fromLatin1(arguments[0]).toLower();
        const QString variable = QString::fromLatin1(arguments.value(1)).toLower();
        if (QStringList{"set", "seta", "sets", "setu"}.contains(name) && arguments.size() >= 3 &&
            variables.contains(variable)) {
            reading.values.insert(variable, QString::fromLatin1(arguments.mid(2).join(' ')));
        } else if (name == u"map") {
            reading.map = QString::fromLatin1(arguments.value(1));
        } else {
            reading.uncarried << ScriptLine{command.line,
                                            QString::fromLatin1(command.text.trimmed())};
        }
    }
    return reading;
}

std::variant<ScriptReading, QString> readScriptFile(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("\"%1\" is a folder, not a script. Choose a config file.").arg(path);
    if (!info.exists())
        return QStringLiteral("The script \"%1\" does not exist.").arg(path);
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly))
        bytes = file.read(ServerScript::kMaxBytes + 1);
    if (!file.isOpen() || file.error() != QFileDevice::NoError)
        return QStringLiteral("Could not read the script \"%1\": %2.")
            .arg(path, file.errorString());
    // Text holds no control characters but white space; the server would stop at a NUL.
    const std::string_view whiteSpace = "\t\n\v\f\r";
    if (std::any_of(bytes.begin(), bytes.end(), [&](char c) {
            return uchar(c) < 0x20 && whiteSpace.find(c) == std::string_view::npos;
        }))
        return QStringLiteral("\"%1\" is not a server script: it holds binary data, such as NUL "
                              "bytes, where a script holds only text.")
            .arg(path);
    if (bytes.size() > ServerScript::kMaxBytes)
        return QStringLiteral("\"%1\" is not a server script: the game server executes no "
                              "script larger than %2 bytes.")
            .arg(path, QLocale(QLocale::English).toString(ServerScript::kMaxBytes));
    ScriptReading reading = readScript(bytes);
    if (reading.values.isEmpty() && !reading.map)
        return QStringLiteral("\"%1\" is not a server script of this form: it sets none of its "
                              "settings and starts no map.")
            .arg(path);
    return reading;
}

QString uncarriedWarning(const QString& path, const ScriptReading& reading)
{
    constexpr qsizetype kShown = 12;
    QStringList lines;
    for (const ScriptLine& command :
         reading.uncarried.first(std::min(kShown, reading.uncarried.size())))
        lines << QStringLiteral("line %1: %2").arg(command.line).arg(command.text);
    if (reading.uncarried.size() > kShown)
        lines << QStringLiteral("and %1 more").arg(reading.uncarried.size() - kShown);
    return QStringLiteral("\"%1\" holds commands that the form cannot carry:\n%2\nCreate Config "
                          "over \"%1\" will not keep them; to keep them, write the form to "
                          "another file.")
        .arg(path, lines.join(u'\n'));
}
