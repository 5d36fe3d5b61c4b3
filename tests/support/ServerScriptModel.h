#pragma once

#include "config/ConfigFile.h"
#include "config/ConfigScript.h"
#include "config/ServerSettings.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>

// What a config script leaves in the game server: the values of the variables it set, and
// the map file that each map command looked for.
struct ServerState {
    QHash<QString, QString> cvars; // by lower-case name
    QStringList mapFiles;

    bool operator==(const ServerState&) const = default;
};

// The variables that the tool's scripts set, as the script names them.
inline const QStringList kScriptCvars = {
    "sv_hostname",        "g_motd",      "sv_maxclients", "timelimit", "sv_privateClients",
    "sv_privatePassword", "g_adminPass", "rconPassword",  "Password",  "location"};

// The bytes of the config file that Create Config writes for the settings.
inline QByteArray configFileFor(const ServerSettings& s)
{
    ConfigScript script;
    script.build(s);
    return configFileBytes(script.strCfg());
}

// The state a script built from settings must leave: every value exactly as typed, empty
// numeric boxes as 0, passwords only when typed, and one map command for the typed map.
inline ServerState expectedState(const ServerSettings& s)
{
    const auto orZero = [](const QString& v) { return v.isEmpty() ? QStringLiteral("0") : v; };
    ServerState state;
    state.cvars = {{"sv_hostname", s.serverName},
                   {"g_motd", s.motd},
                   {"sv_maxclients", orZero(s.maxClients)},
                   {"timelimit", orZero(s.timeLimit)},
                   {"sv_privateclients", orZero(s.reservedSlots)}};
    const std::pair<const char*, QString> passwords[] = {{"sv_privatepassword", s.reservedPassword},
                                                         {"g_adminpass", s.adminPassword},
                                                         {"rconpassword", s.rconPassword},
                                                         {"password", s.connectionPassword}};
    for (const auto& [name, value] : passwords) {
        if (!value.isEmpty())
            state.cvars.insert(QLatin1String(name), value);
    }
    if (const std::optional<qint16> location = toInteger16(s.region))
        state.cvars.insert(QStringLiteral("location"), QString::number(*location));
    state.mapFiles << QStringLiteral("maps/") + s.initialMap + QStringLiteral(".bsp");
    return state;
}

// A model of how the game server (ioquake3) runs a script, byte for byte: its command
// buffer cuts the text into commands, its tokenizer splits each into arguments, and the
// set and map commands act on them. Characters are signed in the server, so every byte
// above 127 is white space to the tokenizer.
namespace ServerModel {

inline constexpr qsizetype kMaxCommandLine = 1024; // the command buffer's line, with its NUL
inline constexpr qsizetype kMaxPath = 64;          // a game path, with its NUL

inline bool isSpace(char c)
{
    return static_cast<signed char>(c) <= ' ';
}

// The command buffer: a command ends at a line break, or at a semicolon outside quotes and
// comments; a block comment may span lines, and its state carries over between commands.
inline QList<QByteArray> commandLines(const QByteArray& text)
{
    QList<QByteArray> lines;
    bool inStarComment = false;
    bool inSlashComment = false;
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
        lines << QByteArray(t, length);
        start += length == size ? length : length + 1;
    }
    return lines;
}

// The tokenizer: white space separates arguments, a quoted argument runs to the next
// quote, and comments end the command or are skipped.
inline QList<QByteArray> tokens(const QByteArray& line)
{
    QList<QByteArray> arguments;
    const QByteArray text = line + '\0';
    const char* t = text.constData();
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

inline QString argumentsFrom(const QList<QByteArray>& arguments, qsizetype first)
{
    return QString::fromLatin1(arguments.mid(first).join(' '));
}

// Runs the script on a server where the variables named in cvars exist.
inline ServerState run(const QByteArray& script, const QStringList& cvars = kScriptCvars)
{
    QStringList known;
    for (const QString& name : cvars)
        known << name.toLower();
    ServerState state;
    for (const QByteArray& line : commandLines(script)) {
        const QList<QByteArray> arguments = tokens(line);
        if (arguments.isEmpty())
            continue;
        const QString command = QString::fromLatin1(arguments[0]).toLower();
        const QString target = QString::fromLatin1(arguments.value(1)).toLower();
        if (QStringList{"set", "seta", "sets", "setu"}.contains(command)) {
            if (arguments.size() >= 3 && known.contains(target))
                state.cvars.insert(target, argumentsFrom(arguments, 2));
        } else if (QStringList{"map", "devmap", "spmap", "spdevmap"}.contains(command)) {
            state.mapFiles << QString::fromLatin1(
                ("maps/" + arguments.value(1) + ".bsp").left(kMaxPath - 1));
        } else if (known.contains(command) && arguments.size() >= 2) {
            // A variable's name as a command sets it to the rest of the line.
            state.cvars.insert(command, argumentsFrom(arguments, 1));
        }
    }
    return state;
}

} // namespace ServerModel

// A state as text, for failure messages.
inline QString describe(const ServerState& state)
{
    QStringList parts;
    QStringList names = state.cvars.keys();
    names.sort();
    for (const QString& name : names)
        parts << name + QStringLiteral("=[") + state.cvars.value(name) + u']';
    parts << QStringLiteral("maps=[") + state.mapFiles.join(QStringLiteral("][")) + u']';
    return parts.join(u' ');
}

// How QCOMPARE shows a state.
inline char* toString(const ServerState& state)
{
    return qstrdup(describe(state).toUtf8().constData());
}
