#pragma once

#include "ServerSettings.h"

#include <QStringList>

// The longest value the game server accepts for a setting.
inline constexpr qsizetype kMaxValueLength = 255;

// Finds everything in the settings that would break the config script or change its
// meaning when the game server reads it, and whether the script has somewhere to go.
// Each problem names the box by its caption and says what to change; an empty list means
// the script can be built and written.
QStringList checkSettings(const ServerSettings& settings);
