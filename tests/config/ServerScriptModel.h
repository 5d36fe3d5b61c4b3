#pragma once

#include "config/ServerSettings.h"

#include <QStringList>

// A model of how the game server reads a config script. A command ends at a line break,
// or at a semicolon outside double quotes; a double quote toggles quoting, which starts
// off at every command. Outside quotes, "//" comments out the rest of the line and "/*"
// everything up to "*/". Commands holding only white space are dropped.
inline QStringList serverCommands(const QString& script)
{
    QStringList commands;
    QString command;
    bool quoted = false;
    bool lineComment = false;
    bool blockComment = false;
    const auto finish = [&] {
        if (!command.trimmed().isEmpty())
            commands << command;
        command.clear();
        quoted = false;
    };
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QChar ch = script[i];
        const QChar next = i + 1 < script.size() ? script[i + 1] : QChar();
        if (blockComment) {
            if (ch == u'*' && next == u'/') {
                blockComment = false;
                ++i;
            }
            continue;
        }
        if (ch == u'\r' || ch == u'\n') {
            lineComment = false;
            finish();
            continue;
        }
        if (lineComment)
            continue;
        if (!quoted && ch == u'/' && next == u'/') {
            lineComment = true;
            continue;
        }
        if (!quoted && ch == u'/' && next == u'*') {
            blockComment = true;
            ++i;
            continue;
        }
        if (!quoted && ch == u';') {
            finish();
            continue;
        }
        if (ch == u'"')
            quoted = !quoted;
        command += ch;
    }
    finish();
    return commands;
}

// Splits one command into its arguments: white space separates them, and a quoted
// argument runs to the next double quote.
inline QStringList serverArguments(const QString& command)
{
    QStringList arguments;
    qsizetype i = 0;
    while (i < command.size()) {
        if (command[i].unicode() <= u' ') {
            ++i;
            continue;
        }
        QString argument;
        if (command[i] == u'"') {
            for (++i; i < command.size() && command[i] != u'"'; ++i)
                argument += command[i];
            ++i;
        } else {
            for (; i < command.size() && command[i].unicode() > u' '; ++i)
                argument += command[i];
        }
        arguments << argument;
    }
    return arguments;
}

// The commands that a script built from settings must hold, in order.
inline QStringList expectedCommands(const ServerSettings& s, qint16 location)
{
    const auto orZero = [](const QString& v) { return v.isEmpty() ? QStringLiteral("0") : v; };
    const auto quoted = [](const QString& variable, const QString& v) {
        return QStringLiteral("set %1 \"%2\"").arg(variable, v);
    };
    QStringList commands{quoted(QStringLiteral("sv_hostname"), s.serverName),
                         quoted(QStringLiteral("g_motd"), s.motd),
                         QStringLiteral("set sv_maxclients ") + orZero(s.maxClients),
                         QStringLiteral("set timelimit ") + orZero(s.timeLimit),
                         QStringLiteral("set sv_privateClients ") + orZero(s.reservedSlots)};
    const std::pair<const char*, QString> passwords[] = {{"sv_privatePassword", s.reservedPassword},
                                                         {"g_adminPass", s.adminPassword},
                                                         {"rconPassword", s.rconPassword},
                                                         {"Password", s.connectionPassword}};
    for (const auto& [variable, value] : passwords) {
        if (!value.isEmpty())
            commands << quoted(QString::fromLatin1(variable), value);
    }
    commands << QStringLiteral("set location %1").arg(location)
             << QStringLiteral("map ") + s.initialMap;
    return commands;
}
