#include "SettingsCheck.h"

#include "ConfigScript.h"

#include <QDir>
#include <algorithm>
#include <array>
#include <string_view>

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
    // Written as typed, and read by the game server as a whole number in a range of its
    // own, where it takes any other text for another number.
    WholeNumber = 1u << 6,
};

struct ScriptValue {
    SettingsMember member;
    unsigned placement;
    // For a whole number: the range the game server uses as it stands, an empty box written
    // as 0, and what the server does with other text.
    qint64 least = 0, most = 0;
    const char* otherwise = nullptr;
};

// In the order of the boxes on the form.
constexpr std::array<ScriptValue, 11> kScriptValues{{
    {&ServerSettings::serverName, Quoted | InfoString},
    {&ServerSettings::motd, Quoted},
    {&ServerSettings::maxClients, WholeNumber, 1, 64,
     "the game server holds from 1 to 64 players and would change any other number"},
    {&ServerSettings::timeLimit, WholeNumber, 0, 2147483647,
     "the game server would read other text as 0, no limit; an empty box means 0"},
    {&ServerSettings::connectionPassword, Quoted | InfoString | PlayerPassword},
    {&ServerSettings::reservedSlots, WholeNumber, 0, 64,
     "the game server would read other text as 0; an empty box means 0"},
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

// One kind of text that a value must not hold: any of some characters, a character in a
// range, or a piece of text; and how a message names it. Where names is set, the message
// also names each character found.
struct Mark {
    const char* description;
    std::u32string_view characters = {};
    char32_t first = 0, last = 0;
    std::string_view text = {};
    bool names = false;
};

constexpr Mark kQuotes{"double quotes (\")", U"\""};
constexpr Mark kLineBreaks{"line breaks", U"\r\n"};
constexpr Mark kNul{"NUL characters", std::u32string_view(U"\0", 1)};
constexpr Mark kSemicolons{"semicolons (;)", U";"};
constexpr Mark kBackslashes{"backslashes (\\)", U"\\"};
constexpr Mark kPercents{"percent signs (%)", U"%"};
constexpr Mark kSpaces{"spaces", U" "};
constexpr Mark kTabs{"tabs", U"\t"};
constexpr Mark kLineComments{.description = "double slashes (//)", .text = "//"};
constexpr Mark kBlockComments{.description = "comment openings (/*)", .text = "/*"};
// Every control character but the tab and the line breaks, which have marks of their own.
constexpr Mark kControls{.description = "control characters",
                         .characters = U"\x01\x02\x03\x04\x05\x06\x07\x08\x0b\x0c\x0e\x0f"
                                       U"\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b"
                                       U"\x1c\x1d\x1e\x1f",
                         .names = true};
constexpr Mark kBeyondAscii{
    .description = "characters beyond plain ASCII", .first = 0x80, .last = 0xff, .names = true};

bool marks(const Mark& mark, char32_t c)
{
    return mark.characters.find(c) != std::u32string_view::npos ||
           (mark.last != 0 && c >= mark.first && c <= mark.last);
}

// How a message names what of mark the text holds, or nothing when it holds none.
QString found(const Mark& mark, const QString& text)
{
    const bool holds =
        mark.text.empty()
            ? std::ranges::any_of(text.toUcs4(), [&](char32_t c) { return marks(mark, c); })
            : text.contains(QLatin1String(mark.text.data(), qsizetype(mark.text.size())));
    if (!holds)
        return {};
    const QString description = QString::fromLatin1(mark.description);
    if (!mark.names)
        return description;
    return QStringLiteral("%1 (%2)").arg(description, namedCharacters(text, [&](char32_t c) {
                                                          return marks(mark, c);
                                                      }).join(QStringLiteral(", ")));
}

// What each placement forbids, and why; a value gets one problem for each rule it breaks.
struct Rule {
    unsigned placements; // Quoted: every value that is written as text
    std::array<const Mark*, 7> marks;
    const char* reason;
};

constexpr std::array<Rule, 7> kRules{{
    {Quoted, {&kQuotes, &kLineBreaks, &kNul}, "the config file cannot hold them in a setting"},
    {Unquoted,
     {&kSemicolons, &kLineComments, &kBlockComments},
     "the game server would end the setting there"},
    {Unquoted,
     {&kSpaces, &kTabs, &kControls, &kBeyondAscii},
     "the game server takes them for gaps between words, and would cut the setting there "
     "or drop it"},
    {InfoString,
     {&kBackslashes, &kSemicolons},
     "the game server's info strings, which players read, cannot hold them"},
    {PlayerPassword,
     {&kPercents, &kBeyondAscii},
     "the game server turns them into dots in what players send, so no player could ever "
     "give this password"},
    {Rcon,
     {&kSpaces, &kTabs, &kControls, &kBeyondAscii, &kPercents, &kLineComments, &kBlockComments},
     "the remote console sends the password bare, so these would break or change it and "
     "it could never be used"},
    {Map, {&kBackslashes}, "players would not see the map's name in the server info"},
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

void checkScriptValue(const ServerSettings& settings, const ScriptValue& value, Problems& problems)
{
    const QString& text = settings.*value.member;
    const qsizetype firstProblem = problems.size();
    const auto problem = [&](const QString& words) { problems << Problem{value.member, words}; };
    if (value.placement == Number) {
        if (!toInteger16(text))
            problem(QStringLiteral("give a number from the list of region numbers, such as 0 "
                                   "for Unspecified Region."));
        return;
    }
    if (value.placement == WholeNumber) {
        const bool digits =
            std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        const qint64 number = text.size() > 12 ? -1 : text.toLongLong();
        if (!digits || number < value.least || number > value.most)
            problem(QStringLiteral("give a whole number from %1 to %2; %3.")
                        .arg(value.least)
                        .arg(value.most)
                        .arg(QLatin1String(value.otherwise)));
        return;
    }

    for (const Rule& rule : kRules) {
        if (rule.placements != Quoted && (rule.placements & value.placement) == 0)
            continue;
        QStringList held;
        for (const Mark* mark : rule.marks) {
            if (!mark)
                break;
            if (const QString description = found(*mark, text); !description.isEmpty())
                held << description;
        }
        if (!held.isEmpty())
            problem(
                QStringLiteral("remove the %1; %2.").arg(listed(held), QLatin1String(rule.reason)));
    }

    const QStringList outsideLatin1 = namedCharacters(text, [](char32_t c) { return c > 0xff; });
    if (!outsideLatin1.isEmpty())
        problem(QStringLiteral("replace the characters %1; the config file can only hold Western "
                               "European (ISO-8859-1) characters.")
                    .arg(outsideLatin1.join(QStringLiteral(", "))));

    if (value.placement & Map) {
        if (text.endsWith(QLatin1String(".bsp"), Qt::CaseInsensitive))
            problem(QStringLiteral("remove the \".bsp\" at the end; the game server adds it "
                                   "itself, and would look for maps/%1.bsp.")
                        .arg(text));
        if (text.size() > kMaxMapLength)
            problem(QStringLiteral("shorten it to %1 characters or fewer (it has %2); the game "
                                   "server cannot load a map with a longer name.")
                        .arg(kMaxMapLength)
                        .arg(text.size()));
    } else if (text.size() > kMaxValueLength) {
        problem(QStringLiteral("shorten it to %1 characters or fewer (it has %2); the game server "
                               "rejects longer settings.")
                    .arg(kMaxValueLength)
                    .arg(text.size()));
    }

    if (value.member != &ServerSettings::motd && holdsLineBreaks(text) &&
        problems.size() > firstProblem)
        problems[firstProblem].text += kPastedLineBreaks;
}

} // namespace

Problems checkSettings(const ServerSettings& settings)
{
    Problems problems;
    for (const ScriptValue& value : kScriptValues)
        checkScriptValue(settings, value, problems);
    // The server gives a player without the reserved password only a slot above the reserved
    // ones, so that at least one must be left.
    const auto passed = [&](SettingsMember member) {
        return std::none_of(problems.begin(), problems.end(),
                            [&](const Problem& problem) { return problem.setting == member; });
    };
    const int reserved = settings.reservedSlots.toInt();
    const int most = settings.maxClients.toInt();
    if (passed(&ServerSettings::reservedSlots) && passed(&ServerSettings::maxClients) &&
        reserved >= most)
        problems << Problem{&ServerSettings::reservedSlots,
                            QStringLiteral("give fewer than {related}, %1; with %2 of the %1 "
                                           "slots kept for the reserved password, the server "
                                           "would tell every other player that it is full.")
                                .arg(most)
                                .arg(reserved),
                            Retry::None,
                            {},
                            &ServerSettings::maxClients};

    if (!isTypedPath(settings.outputPath, kOutputPathPlaceholder))
        problems << Problem{&ServerSettings::outputPath,
                            QStringLiteral("give the full path of the config file to create.")};
    else if (std::optional<Problem> problem =
                 pathTextProblem(&ServerSettings::outputPath, settings.outputPath))
        problems << *problem;
    return problems;
}

Problems checkRotation(const QStringList& maps)
{
    Problems problems;
    if (maps.size() > kMostRotationMaps)
        problems << Problem{nullptr,
                            QStringLiteral("The map rotation has %1 maps; give at most %2.")
                                .arg(maps.size())
                                .arg(kMostRotationMaps)};
    // Each map follows the Initial Map's rules, which keep its step's line far below the
    // command buffer's 1,024 bytes.
    const ScriptValue& rules =
        *std::ranges::find(kScriptValues, &ServerSettings::initialMap, &ScriptValue::member);
    for (const QString& map : maps) {
        if (map.isEmpty()) {
            problems << Problem{nullptr, QStringLiteral("The map rotation holds an empty map "
                                                        "name; give the maps apart by commas.")};
            continue;
        }
        ServerSettings settings;
        settings.initialMap = map;
        Problems found;
        checkScriptValue(settings, rules, found);
        for (const Problem& problem : found)
            problems << Problem{
                nullptr,
                QStringLiteral("The map rotation's map \"%1\": %2").arg(map, problem.text)};
    }
    return problems;
}

std::optional<Problem> pathTextProblem(SettingsMember box, const QString& text)
{
    if (holdsLineBreaks(text))
        return Problem{box,
                       QStringLiteral("remove the line breaks from the path.") + kPastedLineBreaks};
    if (text.startsWith(u'~')) {
        const bool ownHome = text.size() == 1 || text[1] == u'/' || text[1] == u'\\';
        return Problem{box, QStringLiteral("give the whole path. A leading ~ stands for a home "
                                           "folder only in a shell; here it would be a folder "
                                           "named ~%1.")
                                .arg(ownHome ? QStringLiteral(", so give for example \"%1\"")
                                                   .arg(QDir::homePath() + text.mid(1))
                                             : QString())};
    }
    return std::nullopt;
}
