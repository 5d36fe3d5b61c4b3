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

QString worded(const Problem& problem, QString (*name)(SettingsMember),
               const std::array<QLatin1String, 4>& retryWords)
{
    QString text =
        problem.related
            ? QString(problem.text).replace(QStringLiteral("{related}"), name(problem.related))
            : problem.text;
    if (problem.setting)
        text = name(problem.setting) + QStringLiteral(": ") + text;
    if (problem.retry != Retry::None)
        text += u' ' + retryWords[size_t(problem.retry)];
    return text + problem.log;
}

QString captioned(const Problem& problem)
{
    return worded(problem, fieldCaption,
                  {QLatin1String(), QLatin1String("Then click Run Config again."),
                   QLatin1String("Then click Create Config and Run Config again."),
                   QLatin1String("To replace it, click Run Config again and choose Stop and "
                                 "Start.")});
}

QStringList captioned(const Problems& problems)
{
    QStringList texts;
    for (const Problem& problem : problems)
        texts << captioned(problem);
    return texts;
}
