#include "CreateConfig.h"

#include "ConfigFile.h"
#include "SettingsCheck.h"
#include "script/ScriptReader.h"

Problems createConfig(const ServerSettings& settings, ConfigScript& script,
                      const QStringList& rotation)
{
    if (Problems problems = checkSettings(settings) + checkRotation(rotation); !problems.isEmpty())
        return problems;
    script.build(settings, rotation);
    if (std::optional<QString> error =
            writeConfigFile(settings.outputPath, script.strCfg(),
                            holdsPasswords(settings) ? Readers::OwnerOnly : Readers::Usual))
        return {Problem{nullptr, *error}};
    return {};
}

WriteBack writeBack(const ServerSettings& settings, const OpenedScript& opened,
                    const std::optional<QStringList>& rotation, bool write)
{
    WriteBack result;
    for (const Problem& problem : checkSettings(settings)) {
        const bool changed = !problem.setting || problem.setting == &ServerSettings::outputPath ||
                             problem.setting == &ServerSettings::gameDir ||
                             settings.*problem.setting != opened.shown.*problem.setting;
        // A value that the script does not set is the engine's own, and nothing to warn of.
        const bool set = problem.setting == &ServerSettings::initialMap
                             ? opened.reading.map.has_value()
                             : opened.reading.value(problem.setting).has_value();
        if (changed)
            result.problems << problem;
        else if (set)
            result.unchanged << problem;
    }
    if (rotation)
        result.problems += checkRotation(*rotation);
    if (!result.problems.isEmpty())
        return result;
    const std::variant<ScriptEdit, Problem> edit = editScript(opened, settings, rotation);
    if (const Problem* problem = std::get_if<Problem>(&edit)) {
        result.problems << *problem;
        return result;
    }
    result.text = std::get<ScriptEdit>(edit).text;
    result.notices = std::get<ScriptEdit>(edit).notices;
    if (!write)
        return result;
    // A password anywhere in it, a command that the form does not carry included, keeps the
    // file from other users.
    if (const std::optional<QString> reason =
            writeFileKeepingLinks(settings.outputPath, result.text,
                                  setsPasswords(result.text) ? Readers::OwnerOnly : Readers::Usual))
        result.problems << Problem{nullptr, QStringLiteral("Could not write the config file "
                                                           "\"%1\": %2.")
                                                .arg(settings.outputPath, *reason)};
    return result;
}
