#include "SettingsStore.h"

QSettings openSettingsStore()
{
    return QSettings(QStringLiteral("VELDORIQUE"), QString());
}
