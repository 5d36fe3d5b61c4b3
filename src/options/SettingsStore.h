#pragma once

#include <QSettings>

// The per-user store of the saved paths, in each system's own place: on Windows the
// registry key HKEY_CURRENT_USER\Software\VELDORIQUE, elsewhere the file VELDORIQUE.conf
// in the user's configuration directory.
QSettings openSettingsStore();

// The store's file, to check before opening it; empty where the store is no file.
QString settingsStoreFile();
