#include "CreateConfig.h"

#include "ConfigFile.h"
#include "script/ScriptReader.h"
#include "SettingsCheck.h"

Problems createConfig(const ServerSettings& settings, ConfigScript& script,
                      const ScriptExtras& extras)
{
    if (Problems problems = checkSettings(settings) + checkRotation(extras.rotation);
        !problems.isEmpty())
        return problems;
    script.build(settings, extras);
    // A kept command may set a password too.
    const bool secret = holdsPasswords(settings) || setsPasswords(configFileBytes(script.strCfg()));
    if (std::optional<QString> error = writeConfigFile(
            settings.outputPath, script.strCfg(), secret ? Readers::OwnerOnly : Readers::Usual))
        return {Problem{nullptr, *error}};
    return {};
}
