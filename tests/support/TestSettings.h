#pragma once

#include "config/ServerSettings.h"

// The settings of a window whose boxes all show their design texts, with an output path.
inline ServerSettings designSettings(const QString& outputPath = QStringLiteral("/tmp/server.cfg"))
{
    ServerSettings s;
    s.maxClients = QStringLiteral("16");
    s.timeLimit = QStringLiteral("30");
    s.reservedSlots = QStringLiteral("0");
    s.region = QStringLiteral("0");
    s.initialMap = QStringLiteral("quorvexmap1");
    s.gameDir = kGameDirPlaceholder;
    s.outputPath = outputPath;
    return s;
}
