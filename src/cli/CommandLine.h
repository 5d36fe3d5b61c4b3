#pragma once

#include <QString>

// The program's command line, for servers without a display and for scripts: create, show
// and run, with --help and --version. It loads no windowing system.

// Whether the arguments ask for the command line rather than the window: an option, a
// command, or more than one argument. One argument that looks like a file is a script for
// the window to open.
bool wantsCommandLine(int argc, char* argv[]);

// Runs the command line and returns the exit status: 0 when done, 1 when refused or failed,
// 2 for arguments that make no command.
int runCommandLine(int argc, char* argv[]);

struct CommandSpec;

// A command's own help: its usage, what it does, its options and an example.
QString commandHelp(const CommandSpec& command);

// The end of the program's help: its examples, one command a line, then its paragraphs on
// the commands' help and on the exit status.
QStringList helpEnding();
