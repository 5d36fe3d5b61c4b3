#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// What a game server answers to getstatus: its settings, and a line for each player.
struct ServerStatus {
    struct Player {
        QString name; // as the engine sends it, colour codes included
        int score = 0;
        int ping = 0;
    };

    QString hostname; // likewise
    QString map;
    int maxClients = 0;
    QList<Player> players;
};

// The status in a statusResponse packet, without the four leading 0xFF bytes.
std::optional<ServerStatus> parseStatus(const QByteArray& answer);

// Asks the servers on ports of 127.0.0.1 for their status, all at once, waiting up to
// timeoutMs for the answers; those that answered, by port.
QHash<quint16, ServerStatus> askStatuses(const QList<quint16>& ports, int timeoutMs = 1000);

// Asks the server on port of 127.0.0.1 for its status, waiting up to timeoutMs.
std::optional<ServerStatus> askStatus(quint16 port, int timeoutMs = 1000);

// A name without the engine's colour codes, ^ followed by a letter or digit.
QString withoutColours(const QString& name);

// The text with each colour code as the ANSI colour that the engine's own terminal shows
// for it, reset at each line end and at the end.
QString withAnsiColours(const QString& text);

// The clients that the server's console command status lists, with its map.
struct ConsoleStatus {
    struct Client {
        int slot = 0;
        int score = 0;
        QString ping;    // milliseconds, or CON or ZMB while a client connects or leaves
        QString name;    // as the engine prints it, colour codes included
        QString address; // such as 127.0.0.1:27960, [::1]:27960, bot or loopback
        int rate = 0;
    };
    QString map;
    QList<Client> clients;

    // The clients that player names: by slot, where it is a number, or by name without
    // colours in any case.
    QList<Client> fitting(const QString& player) const;

    // The map and the clients, each name raw and without colours, the ping a number or null,
    // and the state active or the engine's word for it.
    QJsonObject toJson() const;
};

// The reply to the console's status command, its columns read by its header, or nothing
// where it is no such reply.
std::optional<ConsoleStatus> parseConsoleStatus(const QByteArray& reply);
