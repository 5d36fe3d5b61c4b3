#pragma once

#include "ServerProcess.h"

#include <QString>
#include <memory>
#include <variant>

// A server that "Run Config" started, with what is needed to watch its start.
struct StartedServer {
    std::unique_ptr<ServerProcess> process;
    QString program;
    int scriptNumber = 0;
    // The server's console output; empty where it keeps a console window of its own.
    QString logPath;
    // Something else already held the game's port before the start.
    bool portWasTaken = false;
};

// The "Run Config" command: installs the config file at outputPath into the game
// directory's arena folder as conf<scriptNumber>.cfg and starts the dedicated server there
// to execute it. The typed game directory is made absolute once, against the current
// directory, which itself is left alone. Returns the started server, or why nothing was
// started or the start failed.
[[nodiscard]] std::variant<StartedServer, QString>
launchServer(const QString& typedGameDir, const QString& outputPath, int scriptNumber);
