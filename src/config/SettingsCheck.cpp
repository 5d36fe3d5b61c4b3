#include "SettingsCheck.h"

#include "ConfigScript.h"

#include <algorithm>
#include <array>

namespace {

// What the game server does with a value decides what it must not hold. Every value is
// read up to the end of its line, and a double quote ends a quoted one. Values written
// without quotes also end at a semicolon or a comment, and values that the server copies
// into its info strings lose a backslash or semicolon there.
// The region is written as the number it converts to, so only the conversion matters.
enum Placement : unsigned {
    Quoted = 0,
    Unquoted = 1u << 0,
    InfoString = 1u << 1,
    Number = 1u << 2
};

struct ScriptValue {
    SettingsMember member;
    unsigned placement;
};

// In the order of the boxes on the form.
constexpr std::array<ScriptValue, 11> kScriptValues{{
    {&ServerSettings::serverName, Quoted | InfoString},
    {&ServerSettings::motd, Quoted},
    {&ServerSettings::maxClients, Unquoted},
    {&ServerSettings::timeLimit, Unquoted},
    {&ServerSettings::connectionPassword, Quoted | InfoString},
    {&ServerSettings::reservedSlots, Unquoted},
    {&ServerSettings::reservedPassword, Quoted | InfoString},
    {&ServerSettings::adminPassword, Quoted},
    {&ServerSettings::rconPassword, Quoted},
    {&ServerSettings::region, Number},
    {&ServerSettings::initialMap, Unquoted},
}};

struct Forbidden {
    QLatin1String text;
    const char* description;
    unsigned placements; // 0: forbidden everywhere
};

const std::array<Forbidden, 8> kForbidden{{
    {QLatin1String("\""), "double quotes (\")", 0},
    {QLatin1String("\r"), "line breaks", 0},
    {QLatin1String("\n"), "line breaks", 0},
    {QLatin1String("\0", 1), "NUL characters", 0},
    {QLatin1String(";"), "semicolons (;)", Unquoted | InfoString},
    {QLatin1String("\\"), "backslashes (\\)", InfoString},
    {QLatin1String("//"), "double slashes (//)", Unquoted},
    {QLatin1String("/*"), "comment openings (/*)", Unquoted},
}};

void checkScriptValue(const ServerSettings& settings, const ScriptValue& value,
                      QStringList& problems)
{
    const QString& text = settings.*value.member;
    const QString caption = fieldCaption(value.member);
    if (value.placement == Number) {
        if (!toInteger16(text))
            problems << QStringLiteral("%1: type a whole number from the list of region numbers, "
                                       "such as 0 for Unspecified Region.")
                            .arg(caption);
        return;
    }

    QStringList found;
    for (const Forbidden& forbidden : kForbidden) {
        const bool applies =
            forbidden.placements == 0 || (forbidden.placements & value.placement) != 0;
        const QString description = QString::fromLatin1(forbidden.description);
        if (applies && text.contains(forbidden.text) && !found.contains(description))
            found << description;
    }
    if (!found.isEmpty()) {
        const QString last = found.takeLast();
        const QString all = found.isEmpty()
                                ? last
                                : found.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
        problems << QStringLiteral("%1: remove the %2; the game server cannot read them in this "
                                   "setting.")
                        .arg(caption, all);
    }

    QList<char32_t> outsideLatin1;
    for (const char32_t codePoint : text.toUcs4()) {
        if (codePoint > 0xff && !outsideLatin1.contains(codePoint))
            outsideLatin1 << codePoint;
    }
    if (!outsideLatin1.isEmpty())
        problems << QStringLiteral("%1: replace the characters \"%2\"; the config file can only "
                                   "hold Western European (ISO-8859-1) characters.")
                        .arg(caption,
                             QString::fromUcs4(outsideLatin1.constData(), outsideLatin1.size()));

    if (text.size() > kMaxValueLength)
        problems << QStringLiteral("%1: shorten it to %2 characters or fewer (it has %3); the "
                                   "game server rejects longer settings.")
                        .arg(caption)
                        .arg(kMaxValueLength)
                        .arg(text.size());
}

} // namespace

QStringList checkSettings(const ServerSettings& settings)
{
    QStringList problems;
    for (const ScriptValue& value : kScriptValues)
        checkScriptValue(settings, value, problems);

    if (!isTypedPath(settings.outputPath, kOutputPathPlaceholder))
        problems << QStringLiteral("%1: type the full path of the config file to create into "
                                   "the bottom box.")
                        .arg(fieldCaption(&ServerSettings::outputPath));
    return problems;
}
