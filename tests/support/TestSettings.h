#pragma once

#include "config/ServerSettings.h"

// The settings of a window whose boxes all show their design texts, with an output path.
inline ServerSettings testSettings(const QString& outputPath = QStringLiteral("/tmp/server.cfg"))
{
    ServerSettings s = designSettings();
    s.outputPath = outputPath;
    return s;
}
