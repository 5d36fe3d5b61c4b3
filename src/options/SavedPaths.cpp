#include "SavedPaths.h"

#include "SettingsStore.h"
#include "config/ConfigFile.h"
#include "config/ServerSettings.h"

namespace {

const QString kOptions = QStringLiteral("OPTIONS");
const QString kGameDirKey = QStringLiteral("Q3DIR");
const QString kOutputPathKey = QStringLiteral("SAVECFG");

QString storedText(const QSettings& store, const QString& key, const QString& fallback)
{
    const QVariant value = store.value(kOptions + u'/' + key);
    return value.typeId() == QMetaType::QString ? value.toString() : fallback;
}

} // namespace

SavedPaths loadSavedPaths()
{
    const SavedPaths designTexts{kGameDirPlaceholder, kOutputPathPlaceholder};
    // A store that is no regular file is never opened, as reading a pipe would wait forever.
    if (specialFileKind(settingsStoreFile()))
        return designTexts;
    const QSettings store = openSettingsStore();
    if (store.status() != QSettings::NoError)
        return designTexts;
    return {storedText(store, kGameDirKey, designTexts.gameDir),
            storedText(store, kOutputPathKey, designTexts.outputPath)};
}

std::optional<QString> storeSavedPaths(const SavedPaths& paths)
{
    if (const std::optional<QString> kind = specialFileKind(settingsStoreFile()))
        return QStringLiteral("Could not save the game directory and the config output path: "
                              "\"%1\" is %2, not a regular file. Remove it.")
            .arg(settingsStoreFile(), *kind);
    QString fileName;
    {
        QSettings store = openSettingsStore();
        fileName = store.fileName();
        store.setValue(kOptions + u'/' + kGameDirKey, paths.gameDir);
        store.setValue(kOptions + u'/' + kOutputPathKey, paths.outputPath);
        store.sync();
        if (store.status() == QSettings::AccessError)
            return QStringLiteral("Could not save the game directory and the config output "
                                  "path: \"%1\" cannot be written.")
                .arg(fileName);
    }
    // A store that could not be parsed still reports a format error after it has been
    // rewritten, so what counts is whether the paths read back.
    const SavedPaths stored = loadSavedPaths();
    if (stored.gameDir == paths.gameDir && stored.outputPath == paths.outputPath)
        return std::nullopt;
    return QStringLiteral("Could not save the game directory and the config output path: "
                          "\"%1\" is damaged. Repair or delete it.")
        .arg(fileName);
}
