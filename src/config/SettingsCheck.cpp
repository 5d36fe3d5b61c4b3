#include "SettingsCheck.h"

#include "ConfigScript.h"

#include <QDir>
#include <algorithm>
#include <array>

namespace {

// Where a value goes decides what it must not hold.
enum Placement : unsigned {
    // Written between double quotes: the value runs to the next quote or line end.
    Quoted = 0,
    // Written bare: the game server's parser ends the value at a semicolon or a comment,
    // and splits it at every byte up to a space and every byte above 127 (it compares
    // signed characters), which it reads as separators.
    Unquoted = 1u << 0,
    // Copied into the server's info strings, where a backslash or semicolon cuts it.
    InfoString = 1u << 1,
    // A password that players send in their connect packets; the server's network code
    // turns each '%' and each byte above 127 of a packet into '.' before it compares.
    PlayerPassword = 1u << 2,
    // The remote console password: the game's client sends it bare in front of the
    // command, through the same conversion, so separators and comments end it too.
    Rcon = 1u << 3,
    // The first map's name: players read it from the server info, and the server builds
    // "maps/NAME.bsp" in a 64-byte buffer.
    Map = 1u << 4,
    // Written as the number it converts to, so only the conversion matters.
    Number = 1u << 5,
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
    {&ServerSettings::connectionPassword, Quoted | InfoString | PlayerPassword},
    {&ServerSettings::reservedSlots, Unquoted},
    {&ServerSettings::reservedPassword, Quoted | InfoString | PlayerPassword},
    {&ServerSettings::adminPassword, Quoted},
    {&ServerSettings::rconPassword, Quoted | Rcon},
    {&ServerSettings::region, Number},
    {&ServerSettings::initialMap, Unquoted | Map},
}};

// The longest map name whose "maps/NAME.bsp" fits the server's 64-byte path.
constexpr qsizetype kMaxMapLength = 64 - int(sizeof("maps/.bsp"));

// The characters of text for which select holds, each named once: a visible one as itself
// in quotes, followed by its code point beyond ASCII, where look-alikes abound; an invisible
// one by its code point alone.
template <typename Select> QStringList namedCharacters(const QString& text, Select select)
{
    QStringList names;
    for (const char32_t c : text.toUcs4()) {
        if (!select(c))
            continue;
        const QString codePoint =
            QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
        const bool visible = QChar::isPrint(c) && !QChar::isSpace(c);
        const QString glyph = u'"' + QString::fromUcs4(&c, 1) + u'"';
        const QString name = !visible ? codePoint : c < 0x80 ? glyph : glyph + u' ' + codePoint;
        if (!names.contains(name))
            names << name;
    }
    return names;
}

// One kind of text that a setting must not hold: how the message names it, or nothing
// when the value holds none.
using Mark = QString (*)(const QString& text);

template <char32_t... Cs> QString characters(const QString& text, const char* description)
{
    for (const char32_t c : text.toUcs4()) {
        if (((c == Cs) || ...))
            return QString::fromLatin1(description);
    }
    return {};
}

QString substring(const QString& text, const char* sub, const char* description)
{
    return text.contains(QLatin1String(sub)) ? QString::fromLatin1(description) : QString();
}

QString withNames(const char* description, const QStringList& names)
{
    return names.isEmpty() ? QString()
                           : QStringLiteral("%1 (%2)").arg(QLatin1String(description),
                                                           names.join(QStringLiteral(", ")));
}

constexpr Mark kQuotes = [](const QString& t) { return characters<'"'>(t, "double quotes (\")"); };
constexpr Mark kLineBreaks = [](const QString& t) {
    return characters<'\r', '\n'>(t, "line breaks");
};
constexpr Mark kNul = [](const QString& t) { return characters<0>(t, "NUL characters"); };
constexpr Mark kSemicolons = [](const QString& t) { return characters<';'>(t, "semicolons (;)"); };
constexpr Mark kBackslashes = [](const QString& t) {
    return characters<'\\'>(t, "backslashes (\\)");
};
constexpr Mark kPercents = [](const QString& t) { return characters<'%'>(t, "percent signs (%)"); };
constexpr Mark kSpaces = [](const QString& t) { return characters<' '>(t, "spaces"); };
constexpr Mark kTabs = [](const QString& t) { return characters<'\t'>(t, "tabs"); };
constexpr Mark kLineComments = [](const QString& t) {
    return substring(t, "//", "double slashes (//)");
};
constexpr Mark kBlockComments = [](const QString& t) {
    return substring(t, "/*", "comment openings (/*)");
};
constexpr Mark kControls = [](const QString& t) {
    return withNames("control characters", namedCharacters(t, [](char32_t c) {
                         return c > 0 && c < 0x20 && c != '\t' && c != '\r' && c != '\n';
                     }));
};
constexpr Mark kBeyondAscii = [](const QString& t) {
    return withNames("characters beyond plain ASCII",
                     namedCharacters(t, [](char32_t c) { return c >= 0x80 && c <= 0xff; }));
};

// What each placement forbids, and why; a value gets one problem for each rule it breaks.
struct Rule {
    unsigned placements; // Quoted: every value that is written as text
    std::array<Mark, 7> marks;
    const char* reason;
};

const std::array<Rule, 7> kRules{{
    {Quoted, {kQuotes, kLineBreaks, kNul}, "the config file cannot hold them in a setting"},
    {Unquoted,
     {kSemicolons, kLineComments, kBlockComments},
     "the game server would end the setting there"},
    {Unquoted,
     {kSpaces, kTabs, kControls, kBeyondAscii},
     "the game server takes them for gaps between words, and would cut the setting there "
     "or drop it"},
    {InfoString,
     {kBackslashes, kSemicolons},
     "the game server's info strings, which players read, cannot hold them"},
    {PlayerPassword,
     {kPercents, kBeyondAscii},
     "the game server turns them into dots in what players send, so no player could ever "
     "give this password"},
    {Rcon,
     {kSpaces, kTabs, kControls, kBeyondAscii, kPercents, kLineComments, kBlockComments},
     "the remote console sends the password bare, so these would break or change it and "
     "it could never be used"},
    {Map, {kBackslashes}, "players would not see the map's name in the server info"},
}};

// A one-line box shows pasted line breaks as spaces, so the operator cannot see them.
const QLatin1String kPastedLineBreaks(" The pasted text holds line breaks, shown as spaces.");

bool holdsLineBreaks(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return c == u'\r' || c == u'\n' || c == QChar::LineSeparator ||
               c == QChar::ParagraphSeparator;
    });
}

QString listed(QStringList items)
{
    const QString last = items.takeLast();
    return items.isEmpty() ? last
                           : items.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

void checkScriptValue(const ServerSettings& settings, const ScriptValue& value,
                      QStringList& problems)
{
    const QString& text = settings.*value.member;
    const QString caption = fieldCaption(value.member);
    const qsizetype firstProblem = problems.size();
    if (value.placement == Number) {
        if (!toInteger16(text))
            problems << QStringLiteral("%1: type a number from the list of region numbers, such "
                                       "as 0 for Unspecified Region.")
                            .arg(caption);
        return;
    }

    for (const Rule& rule : kRules) {
        if (rule.placements != Quoted && (rule.placements & value.placement) == 0)
            continue;
        QStringList found;
        for (const Mark mark : rule.marks) {
            if (!mark)
                break;
            if (const QString description = mark(text); !description.isEmpty())
                found << description;
        }
        if (!found.isEmpty())
            problems << QStringLiteral("%1: remove the %2; %3.")
                            .arg(caption, listed(found), QLatin1String(rule.reason));
    }

    const QStringList outsideLatin1 = namedCharacters(text, [](char32_t c) { return c > 0xff; });
    if (!outsideLatin1.isEmpty())
        problems << QStringLiteral("%1: replace the characters %2; the config file can only hold "
                                   "Western European (ISO-8859-1) characters.")
                        .arg(caption, outsideLatin1.join(QStringLiteral(", ")));

    if (value.placement & Map) {
        if (text.size() > kMaxMapLength)
            problems << QStringLiteral("%1: shorten it to %2 characters or fewer (it has %3); the "
                                       "game server cannot load a map with a longer name.")
                            .arg(caption)
                            .arg(kMaxMapLength)
                            .arg(text.size());
    } else if (text.size() > kMaxValueLength) {
        problems << QStringLiteral("%1: shorten it to %2 characters or fewer (it has %3); the "
                                   "game server rejects longer settings.")
                        .arg(caption)
                        .arg(kMaxValueLength)
                        .arg(text.size());
    }

    if (value.member != &ServerSettings::motd && holdsLineBreaks(text) &&
        problems.size() > firstProblem)
        problems[firstProblem] += kPastedLineBreaks;
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
    else if (const std::optional<QString> problem =
                 pathTextProblem(&ServerSettings::outputPath, settings.outputPath))
        problems << *problem;
    return problems;
}

std::optional<QString> pathTextProblem(SettingsMember box, const QString& text)
{
    const QString caption = fieldCaption(box);
    if (holdsLineBreaks(text))
        return QStringLiteral("%1: remove the line breaks from the path.").arg(caption) +
               kPastedLineBreaks;
    if (text.startsWith(u'~')) {
        const bool ownHome = text.size() == 1 || text[1] == u'/' || text[1] == u'\\';
        return QStringLiteral("%1: type the whole path. A leading ~ stands for a home folder "
                              "only in a shell; here it would be a folder named ~%2.")
            .arg(caption, ownHome ? QStringLiteral(", so type for example \"%1\"")
                                        .arg(QDir::homePath() + text.mid(1))
                                  : QString());
    }
    return std::nullopt;
}
