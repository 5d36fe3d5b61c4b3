#pragma once

#include "ServerConsole.h"

#include <QByteArray>
#include <QList>
#include <QString>

class StatusSocket;

// The engine's remote console over UDP: a console command goes as one packet, "rcon", the
// password and the command after the four 0xFF bytes, and its output comes back as print
// packets of at most 1,008 bytes with no end marker. A second command, echo and a token of
// its own, sent right after, comes back after the first one's whole reply, so the reply
// ends there; where that echo is lost, it ends after a silence.
class RemoteConsole : public ServerConsole {
public:
    // The server on port of 127.0.0.1, which holds password. The times of the packets sent
    // to it go to paceFile, where given, so that every run of the tool keeps to the rate.
    RemoteConsole(quint16 port, QByteArray password, QString paceFile = {});

    // Runs one console command on the server, once. Where nothing comes in a second, only
    // the echo is sent again, to tell a lost answer from a server that answers nothing.
    // Packets keep to half the engine's rate limit.
    Reply run(const QByteArray& command) override;

private:
    void send(StatusSocket& socket, const QByteArray& text);

    quint16 m_port;
    QByteArray m_password;
    QString m_paceFile;
    int m_level = 0;      // the engine's bucket for this address, as the tool counts it
    qint64 m_drained = 0; // when it last drained, in ms since the epoch
};
