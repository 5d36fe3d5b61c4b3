#pragma once

#include "ConfigScript.h"
#include "ServerSettings.h"

// The "Create Config" command: checks the settings and the rotation and, when they pass,
// builds the script with its extras into script and writes it to the output path, readable by
// its owner alone when it holds passwords. Returns what stopped it: the problems the check found,
// or the reason the file could not be written. Empty means the file holds the new script.
Problems createConfig(const ServerSettings& settings, ConfigScript& script,
                      const ScriptExtras& extras = {});
