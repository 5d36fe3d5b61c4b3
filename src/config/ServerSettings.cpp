#include "ServerSettings.h"

#include <algorithm>

const SettingsField& settingsField(SettingsMember member)
{
    return *std::find_if(kSettingsFields.begin(), kSettingsFields.end(),
                         [member](const SettingsField& f) { return f.member == member; });
}

QString fieldCaption(SettingsMember member)
{
    return QString::fromLatin1(settingsField(member).caption);
}

ServerSettings designSettings()
{
    ServerSettings settings;
    for (const SettingsField& field : kSettingsFields)
        settings.*field.member = field.designText;
    return settings;
}

bool holdsPasswords(const ServerSettings& settings)
{
    return !settings.reservedPassword.isEmpty() || !settings.adminPassword.isEmpty() ||
           !settings.rconPassword.isEmpty() || !settings.connectionPassword.isEmpty();
}

QString captioned(const Problem& problem)
{
    return problem.setting ? fieldCaption(problem.setting) + QStringLiteral(": ") + problem.text
                           : problem.text;
}

QStringList captioned(const Problems& problems)
{
    QStringList texts;
    for (const Problem& problem : problems)
        texts << captioned(problem);
    return texts;
}
