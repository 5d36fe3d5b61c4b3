#pragma once

#include "ConfigScript.h"
#include "ServerSettings.h"
#include "script/ScriptEdit.h"

// The "Create Config" command: checks the settings and the rotation and, when they pass,
// builds the script with the rotation into script and writes it to the output path, readable
// by its owner alone when it holds passwords. Returns what stopped it: the problems the check
// found, or the reason the file could not be written. Empty means the file holds the new
// script.
Problems createConfig(const ServerSettings& settings, ConfigScript& script,
                      const QStringList& rotation = {});

// What writing the settings back to the script they came from did: what stopped it, or
// empty; and what the operator should know: values that were not changed and that the
// checks would refuse if typed, each as its problem, and lines left alone.
struct WriteBack {
    Problems problems;
    Problems unchanged;
    QStringList notices;
    QByteArray text;
};

// Create Config for a form filled from a script whose output is that script: the settings
// that differ from what opening showed, and the rotation where given, edited into its text,
// every other byte kept. Only what the operator changed is checked. Written to the output
// path, or with write false only made.
WriteBack writeBack(const ServerSettings& settings, const OpenedScript& opened,
                    const std::optional<QStringList>& rotation, bool write = true);
