#pragma once

#include "CommandTable.h"

// The commands' work, each given what its command line holds; each returns the exit status.
int createCommand(const Invocation& invocation);
int showCommand(const Invocation& invocation);
int mapsCommand(const Invocation& invocation);
int runCommand(const Invocation& invocation);
int serviceCommand(const Invocation& invocation);
int statusCommand(const Invocation& invocation);
int stopCommand(const Invocation& invocation);
int rconCommand(const Invocation& invocation);
int sayCommand(const Invocation& invocation);
int playersCommand(const Invocation& invocation);
int kickCommand(const Invocation& invocation);
int logCommand(const Invocation& invocation);
int consoleCommand(const Invocation& invocation);
int helpCommand(const Invocation& invocation);
