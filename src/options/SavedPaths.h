#pragma once

#include <QString>
#include <optional>

// The two paths the window remembers between runs: the game directory and the config
// output path. They live in the per-user settings store under "VELDORIQUE", section
// "OPTIONS", keys "Q3DIR" and "SAVECFG".
struct SavedPaths {
    QString gameDir;
    QString outputPath;
};

// The stored paths, each replaced by the box's design text when it is absent, not text, or
// the store cannot be read.
SavedPaths loadSavedPaths();

// Stores both paths as they are. Returns why they could not be stored, naming the
// settings file; the old values then stay in the store.
[[nodiscard]] std::optional<QString> storeSavedPaths(const SavedPaths& paths);
