#pragma once

#include <QString>
#include <optional>

// The "Run Config" command: installs the config file at outputPath into the game
// directory's arena folder as conf<scriptNumber>.cfg and starts the dedicated server there
// to execute it. The tool's own current directory is left alone and the server is not
// waited for. Returns why nothing was started, or why the start failed; nothing when the
// server is running.
[[nodiscard]] std::optional<QString> launchServer(const QString& gameDir, const QString& outputPath,
                                                  int scriptNumber);
