#include "CreateConfig.h"

#include "ConfigFile.h"
#include "SettingsCheck.h"

Problems createConfig(const ServerSettings& settings, ConfigScript& script)
{
    if (Problems problems = checkSettings(settings); !problems.isEmpty())
        return problems;
    script.build(settings);
    if (std::optional<QString> error =
            writeConfigFile(settings.outputPath, script.strCfg(),
                            holdsPasswords(settings) ? Readers::OwnerOnly : Readers::Usual))
        return {Problem{nullptr, *error}};
    return {};
}
