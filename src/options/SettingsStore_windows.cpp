#include "SettingsStore.h"

// Named by its key: an organisation alone would put the values under OrganizationDefaults.
QSettings openSettingsStore()
{
    return QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\VELDORIQUE"),
                     QSettings::NativeFormat);
}

QString settingsStoreFile()
{
    return {};
}
