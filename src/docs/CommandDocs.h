#pragma once

#include <QString>

// What the build makes from the table of commands besides the program: the bash completion,
// and the manual page's section with each command's help.

// A bash script that completes the commands, each command's own options, file names after
// --from, --output and show, and folders after --game-dir.
QString bashCompletion();

// The COMMANDS section for help2man's --include: each command's help.
QString manualCommands();
