#pragma once

#include "ServerSettings.h"

#include <QStringList>
#include <optional>

// The longest value the game server accepts for a setting.
inline constexpr qsizetype kMaxValueLength = 255;

// Finds everything in the settings that would break the config script or change its
// meaning when the game server reads it, and whether the script has somewhere to go.
// Each problem names its box and says what to change; an empty list means the script can be
// built and written.
Problems checkSettings(const ServerSettings& settings);

// What keeps the maps of a rotation, those that follow the initial map, from being written as
// steps of the script: more maps than it takes, or a name that the Initial Map's rules
// refuse.
Problems checkRotation(const QStringList& maps);

// What keeps the text of a path box from being the path the operator meant: line breaks
// pasted in, which the box shows as spaces, or a leading ~, which only a shell expands.
std::optional<Problem> pathTextProblem(SettingsMember box, const QString& text);
