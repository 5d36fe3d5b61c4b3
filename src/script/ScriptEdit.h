#pragma once

#include "ScriptReader.h"

#include <QStringList>
#include <optional>
#include <variant>

// A script that the form was filled from: how it reads, and the settings that opening it
// showed.
struct OpenedScript {
    ScriptReading reading;
    ServerSettings shown;
};

// The script's text with the settings written in, and what the operator should know of lines
// that it leaves alone.
struct ScriptEdit {
    QByteArray text;
    QStringList notices;
};

// The script's text with each setting that differs from what opening showed written in, in
// place, every other byte as it was; and where rotation is given, the maps that follow the
// first as the rotation's steps. A setting that the script does not set goes on a line of its
// own before the first map command. Or the problem that keeps the edit from being made.
std::variant<ScriptEdit, Problem> editScript(const OpenedScript& opened,
                                             const ServerSettings& settings,
                                             const std::optional<QStringList>& rotation);
