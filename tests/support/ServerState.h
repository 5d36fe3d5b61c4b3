#pragma once

#include "config/ConfigFile.h"
#include "config/ConfigScript.h"
#include "config/ServerSettings.h"
#include "script/ScriptReader.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>

// What a config script leaves in the game server: the values of the variables it set, and
// the map file that each map command looked for.
struct ServerState {
    QHash<QString, QString> cvars; // by lower-case name
    QStringList mapFiles;
    QString map; // the map of the running level, where one loads

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

// The state that the tool's reader of scripts says the script leaves in the server.
inline ServerState readState(const QByteArray& script)
{
    const ScriptReading reading = readScript(script);
    ServerState state;
    state.cvars = reading.values;
    // The server builds the map's path in a buffer of 64 bytes.
    if (reading.map)
        state.mapFiles
            << (QStringLiteral("maps/") + *reading.map + QStringLiteral(".bsp")).left(63);
    return state;
}

// What the reader says the level that the script leaves running holds, where only the
// maps named are found, in what else the server runs around the script.
inline ServerState heldState(const QByteArray& script, const QStringList& found,
                             ScriptSurroundings surroundings = {})
{
    surroundings.mapExists = [&](const QString& map) { return found.contains(map); };
    const ScriptReading reading = readScript(script, surroundings);
    ServerState state;
    state.cvars = reading.held;
    for (const QString& map : reading.missingMaps)
        state.mapFiles << (QStringLiteral("maps/") + map + QStringLiteral(".bsp")).left(63);
    state.map = reading.map.value_or(QString());
    return state;
}

// A state as text, for failure messages.
inline QString describe(const ServerState& state)
{
    QStringList parts;
    QStringList names = state.cvars.keys();
    names.sort();
    for (const QString& name : names)
        parts << name + QStringLiteral("=[") + state.cvars.value(name) + u']';
    parts << QStringLiteral("maps=[") + state.mapFiles.join(QStringLiteral("][")) + u']';
    parts << QStringLiteral("map=[") + state.map + u']';
    return parts.join(u' ');
}

// How QCOMPARE shows a state.
inline char* toString(const ServerState& state)
{
    return qstrdup(describe(state).toUtf8().constData());
}
