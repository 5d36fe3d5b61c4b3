#pragma once

#include "config/ServerSettings.h"

#include <QString>
#include <QStringList>
#include <cstdio>

// How the command line speaks: its statuses, its lines and its words for problems.

enum Status { Done = 0, Failed = 1, Usage = 2, NotRunning = 3, Interrupted = 130 };

inline const QString kProgram = QStringLiteral("quorvex-config-creator");

// Prints text and a line end; a failure on standard output is kept for the exit status.
void print(FILE* stream, const QString& text);

// The error number of the first write to standard output that failed, or 0; starts with
// the one that the console gives.
int& outputError();

struct CommandSpec;

// A problem in the command line's words: the option of its setting first, where the command
// takes that option, or any command is meant.
QString worded(const Problem& problem, const CommandSpec* command = nullptr);

// Prints the problems on standard error and gives the status of a failure.
int failed(const QStringList& problems);
int failed(const Problems& problems, const CommandSpec* command = nullptr);

// Prints a wrong command line's error with the way to the help, the command's own when it
// is known, and gives its status.
int usageError(const QString& error, const CommandSpec* command = nullptr);
