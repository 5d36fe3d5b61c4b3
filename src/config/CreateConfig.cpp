#include "CreateConfig.h"

#include "ConfigFile.h"
#include "SettingsCheck.h"

QStringList createConfig(const ServerSettings& settings, ConfigScript& script)
{
    if (QStringList problems = checkSettings(settings); !problems.isEmpty())
        return problems;
    script.build(settings);
    if (std::optional<QString> error = writeConfigFile(settings.outputPath, script.strCfg()))
        return {*error};
    return {};
}
