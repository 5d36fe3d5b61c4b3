#include "ServerSettings.h"

#include <algorithm>

QString fieldCaption(SettingsMember member)
{
    const auto field =
        std::find_if(kSettingsFields.begin(), kSettingsFields.end(),
                     [member](const SettingsField& f) { return f.member == member; });
    return QString::fromLatin1(field->caption);
}
