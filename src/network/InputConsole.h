#pragma once

#include "ServerConsole.h"

#include <QString>

// The console input of a server that the tool started with a FIFO as its standard input.
// Where that is no terminal, the engine reads it once a frame, up to 256 bytes at a time,
// each read being console text whose last byte it takes for the line's end; what the
// commands print goes to the server's log. So a command goes in one write with the echo
// that ends its reply, and the reply is what the log gets after the write, up to the echo.
// One command at a time goes through the FIFO, so that no read takes a piece of another.
// No password is needed, and nothing reaches the network.
class InputConsole : public ServerConsole {
public:
    InputConsole(QString input, QString log);

    // Runs one console command on the server, once, as the engine reads it from a packet. A
    // reply that has not ended after two seconds is given up: NoAnswer while the server has
    // not read the command, which then stays in the FIFO until it does, and Lost once it has
    // read it. A command that the engine would read as more than one, or that is longer than
    // kLongest, is Unfit. Nothing is written while an earlier command waits unread, so that
    // no read of the engine's ever takes more than one, nor where the server no longer reads
    // the FIFO: Unwritten.
    Reply run(const QByteArray& command) override;

    static constexpr int kReplyMs = 2000;
    // What one read of the engine's takes, less the line ends and the echo.
    static constexpr int kLongest = 256 - 2 - int(sizeof("echo ") - 1) - kTokenSize;

private:
    QString m_input;
    QString m_log;
};
