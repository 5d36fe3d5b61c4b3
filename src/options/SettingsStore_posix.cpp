#include "SettingsStore.h"

#include <QStandardPaths>

QSettings openSettingsStore()
{
    return QSettings(QStringLiteral("VELDORIQUE"), QString());
}

QString settingsStoreFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/VELDORIQUE.conf");
}
