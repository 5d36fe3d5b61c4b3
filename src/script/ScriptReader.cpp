#include "ScriptReader.h"

#include "EngineVariables.h"
#include "config/ConfigFile.h"
#include "gametree/GameTree.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace ServerScript {
namespace {

// The command buffer passes a command on in a line of this size, its NUL included.
constexpr qsizetype kMaxCommandLine = 1024;
// The command buffer's size: text that would not fit is not inserted.
constexpr qsizetype kBufferSize = 128 * 1024;

// The server's characters are signed, so every byte above 127 is white space to it.
bool isSpace(char c)
{
    return static_cast<signed char>(c) <= ' ';
}

// The tokenizer: white space separates arguments, a quoted argument runs to the next quote,
// and comments end the command or are skipped. Each argument's place in line, its quotes
// included, goes to spans.
QList<QByteArray> tokens(const QByteArray& line, QList<Span>& spans)
{
    QList<QByteArray> arguments;
    const char* const start = line.constData(); // NUL-terminated, as QByteArray keeps it
    const char* t = start;
    while (true) {
        while (true) {
            while (*t && isSpace(*t))
                ++t;
            if (!*t || (t[0] == '/' && t[1] == '/'))
                return arguments;
            if (t[0] != '/' || t[1] != '*')
                break;
            while (*t && (t[0] != '*' || t[1] != '/'))
                ++t;
            if (!*t)
                return arguments;
            t += 2;
        }
        const char* const begin = t;
        if (*t == '"') {
            const char* const content = ++t;
            while (*t && *t != '"')
                ++t;
            arguments << QByteArray(content, t - content);
            if (*t)
                ++t;
            spans << Span{begin - start, t - start};
            if (!*t)
                return arguments;
            continue;
        }
        while (*t && !isSpace(*t) && *t != '"' && !(t[0] == '/' && (t[1] == '/' || t[1] == '*')))
            ++t;
        arguments << QByteArray(begin, t - begin);
        spans << Span{begin - start, t - start};
        if (!*t)
            return arguments;
    }
}

} // namespace

// The engine's command buffer: text to run, the script's own and what vstr and exec put
// ahead of it, each piece knowing where its bytes stand in the script, if they do.
class Buffer {
public:
    struct Piece {
        QByteArray text;
        qsizetype at = 0;      // the next byte to run
        qsizetype offset = -1; // where text[0] stands in the script
        int line = 0;          // for text from elsewhere, the line that inserted it
        bool own = false;      // the script as it runs, not text inserted into it
    };

    explicit Buffer(const QByteArray& script) : m_script(script)
    {
        m_lineStarts << 0;
        for (qsizetype i = 0; i < script.size(); ++i) {
            if (script[i] == '\n' ||
                (script[i] == '\r' && (i + 1 == script.size() || script[i + 1] != '\n')))
                m_lineStarts << i + 1;
        }
    }

    bool empty() const { return m_size == 0; }
    qsizetype size() const { return m_size; }

    // Puts text ahead of what remains, as the engine does unless it would overflow.
    bool insert(const QByteArray& text, qsizetype offset, int line, bool own = false)
    {
        if (text.isEmpty())
            return true;
        if (m_size + text.size() > kBufferSize)
            return false;
        m_pieces.push_back({text, 0, offset, line, own});
        m_size += text.size();
        return true;
    }

    int lineAt(qsizetype offset) const
    {
        return int(std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset) -
                   m_lineStarts.begin());
    }

    // Takes the next command off the buffer, as the engine's Cbuf_Execute cuts it, and
    // counts the bytes looked at in scanned.
    Command take(bool& inStarComment, bool& inSlashComment, qint64& scanned)
    {
        // A cursor over the pieces, front first.
        qsizetype piece = qsizetype(m_pieces.size()) - 1;
        qsizetype at = m_pieces[piece].at;
        const auto byteAt = [&](qsizetype p, qsizetype a) -> std::pair<char, bool> {
            while (p >= 0 && a >= m_pieces[p].text.size()) {
                --p;
                a = p >= 0 ? m_pieces[p].at : 0;
            }
            return p < 0 ? std::pair('\0', false) : std::pair(m_pieces[p].text[a], true);
        };
        int quotes = 0;
        qsizetype i = 0;
        for (; i < m_size; ++i) {
            while (at >= m_pieces[piece].text.size()) {
                --piece;
                at = m_pieces[piece].at;
            }
            const char c = m_pieces[piece].text[at];
            if (c == '"')
                ++quotes;
            if (!(quotes & 1)) {
                const auto [next, hasNext] = byteAt(piece, at + 1);
                if (hasNext) {
                    if (!inStarComment && c == '/' && next == '/') {
                        inSlashComment = true;
                    } else if (!inSlashComment && c == '/' && next == '*') {
                        inStarComment = true;
                    } else if (inStarComment && c == '*' && next == '/') {
                        inStarComment = false;
                        ++i;
                        break;
                    }
                }
                if (!inSlashComment && !inStarComment && c == ';')
                    break;
            }
            if (!inStarComment && (c == '\n' || c == '\r')) {
                inSlashComment = false;
                break;
            }
            ++at;
        }
        scanned += i;
        const qsizetype length = std::min(i, kMaxCommandLine - 1);
        Command command;
        const Piece& front = m_pieces.back();
        // The command's bytes lie in the front piece, or run on into those after it.
        if (front.text.size() - front.at >= length) {
            command.text = front.text.mid(front.at, length);
            if (front.offset >= 0)
                command.span = {front.offset + front.at, front.offset + front.at + length};
        } else {
            for (qsizetype p = qsizetype(m_pieces.size()) - 1; command.text.size() < length; --p)
                command.text += m_pieces[p].text.mid(m_pieces[p].at, length - command.text.size());
        }
        command.own = command.span.known() && front.own;
        command.line = front.offset >= 0 ? lineAt(front.offset + front.at) : front.line;
        drop(length == m_size ? length : length + 1);
        QList<Span> spans;
        command.arguments = tokens(command.text, spans);
        for (const Span& span : spans)
            command.argumentSpans << (command.span.known() ? Span{command.span.begin + span.begin,
                                                                  command.span.begin + span.end}
                                                           : Span{});
        return command;
    }

private:
    void drop(qsizetype count)
    {
        m_size -= count;
        while (count > 0) {
            Piece& front = m_pieces.back();
            const qsizetype used = std::min(count, front.text.size() - front.at);
            front.at += used;
            count -= used;
            if (front.at == front.text.size())
                m_pieces.pop_back();
        }
    }

    const QByteArray& m_script;
    QList<qsizetype> m_lineStarts;
    std::vector<Piece> m_pieces;
    qsizetype m_size = 0;
};

QList<Command> commands(const QByteArray& script)
{
    // The server reads a script up to its first NUL.
    const qsizetype nul = script.indexOf('\0');
    const QByteArray text = nul < 0 ? script : script.first(nul);
    Buffer buffer(text);
    buffer.insert(text, 0, 1, true);
    QList<Command> result;
    bool inStarComment = false;
    bool inSlashComment = false;
    qint64 scanned = 0;
    while (!buffer.empty())
        result << buffer.take(inStarComment, inSlashComment, scanned);
    return result;
}

} // namespace ServerScript

namespace {

using ServerScript::Command;
using ServerScript::Span;

QString lowerLatin1(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes).toLower();
}

// The variable that a command sets, and where its value starts among the arguments: a set
// command and toggle name it second, the bare form "NAME value" first. Nothing for other
// commands.
std::optional<std::pair<QString, qsizetype>> setVariable(const QList<QByteArray>& arguments)
{
    static const QStringList kNamed{"set", "seta", "sets", "setu", "toggle", "reset"};
    if (arguments.size() < 2)
        return std::nullopt;
    if (kNamed.contains(lowerLatin1(arguments[0])))
        return std::pair(lowerLatin1(arguments[1]), 2);
    return std::pair(lowerLatin1(arguments[0]), 1);
}

// Whether the command sets a secret, itself or in a quoted string among its arguments that
// vstr could run as commands.
bool setsSecret(const QList<QByteArray>& arguments, int depth = 0)
{
    if (const auto set = setVariable(arguments); set && isSecret(set->first))
        return true;
    return depth < 8 && std::ranges::any_of(arguments.mid(1), [&](const QByteArray& argument) {
               return std::ranges::any_of(
                   ServerScript::commands(argument),
                   [&](const Command& inner) { return setsSecret(inner.arguments, depth + 1); });
           });
}

// The command as it may be shown: a secret's value as stars, also inside a quoted string.
QByteArray masked(const Command& command, int depth = 0)
{
    if (!setsSecret(command.arguments, depth))
        return command.text.trimmed();
    const auto set = setVariable(command.arguments);
    if (set && isSecret(set->first)) {
        QByteArray shown = command.arguments.first(set->second).join(' ');
        for (qsizetype i = set->second; i < command.arguments.size(); ++i)
            shown += depth == 0 ? " \"********\"" : " ********";
        return shown;
    }
    QList<QByteArray> shown;
    for (const QByteArray& argument : command.arguments) {
        QList<QByteArray> inner;
        for (const Command& each : ServerScript::commands(argument))
            inner << masked(each, depth + 1);
        const QByteArray word = shown.isEmpty() ? argument : inner.join("; ");
        const bool quote = word.isEmpty() || word.contains(' ') || word.contains(';');
        shown << (quote ? '"' + word + '"' : word);
    }
    return shown.join(' ');
}

// The commands that load a map; the single-player ones load it as map does.
const QStringList kMapCommands{"map", "devmap", "spmap", "spdevmap"};
// What the server sets nextmap to at every map it loads.
const QByteArray kRestart = "map_restart 0";
// The level ends that the rotation is followed through before it must have repeated.
constexpr int kMostLevels = 1024;
// What one reading of a script may take, all told: commands run, bytes that vstr and exec
// put into the command buffer, bytes of the buffer looked at to cut it into commands, and
// level ends followed. The engine's command buffer holds 128 KiB, so a script
// that it runs at all spends a small part of it.
constexpr qint64 kMostCommands = 2'000'000;
constexpr qint64 kMostInserted = 64 * 1024 * 1024;
constexpr qint64 kMostScanned = 128 * 1024 * 1024;

// The number at the start of text, as C's atoi reads it, which the engine's integer values
// are.
int atoi(const QByteArray& text)
{
    qsizetype i = 0;
    while (i < text.size() && std::isspace(uchar(text[i])))
        ++i;
    const bool negative = i < text.size() && text[i] == '-';
    i += i < text.size() && (text[i] == '-' || text[i] == '+');
    qint64 number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && number < (1LL << 32); ++i)
        number = number * 10 + (text[i] - '0');
    return int(std::clamp<qint64>(negative ? -number : number, INT_MIN, INT_MAX));
}

QString englishNumber(qint64 number)
{
    return QLocale(QLocale::English).toString(number);
}

// The server running a script, as far as the form and the map rotation care: every
// variable, the maps it loads, and what vstr and exec put into its command buffer, ahead of
// what remains.
class Run {
public:
    struct Variable {
        QByteArray value;
        std::optional<QByteArray> latched;
        QByteArray reset;
        int flags = 0;
        bool userCreated = false;
        Span valueSpan; // where the value's bytes stand as they are in the script
        int line = 0;   // the line of the command that set it last
    };

    Run(const QByteArray& script, const ScriptSurroundings& surroundings)
        : m_script(script),
          m_mapExists(surroundings.mapExists ? surroundings.mapExists
                                             : [](const QString&) { return true; }),
          m_executed(surroundings.executed)
    {
        for (const SettingsField& field : kSettingsFields) {
            if (field.variable)
                m_formVariables << QString::fromLatin1(field.variable).toLower();
        }
        for (const EngineVariables::Variable& variable : EngineVariables::engine())
            m_variables.insert(
                QString::fromLatin1(variable.name).toLower(),
                {variable.value, {}, variable.value, variable.flags, false, Span{}, 0});
    }

    // Runs text as the engine runs one go of its command buffer; false when the server
    // would not end it, or the reading's budget is spent.
    bool execute(const QByteArray& text, qsizetype offset, bool atStart)
    {
        ServerScript::Buffer buffer(m_script);
        buffer.insert(text, offset, 0, atStart);
        bool inStarComment = false;
        bool inSlashComment = false;
        qint64 vstrs = 0;
        qint64 commands = 0;
        m_ownAt = -1;
        while (!buffer.empty()) {
            Command command = buffer.take(inStarComment, inSlashComment, m_scanned);
            if (m_scanned > kMostScanned)
                return spent(QStringLiteral("%1 bytes read from the command buffer")
                                 .arg(englishNumber(kMostScanned)));
            if (inStarComment && buffer.empty() && atStart && !beforeScript)
                unclosedComment = command.line;
            ++commands;
            if (++m_commands > kMostCommands)
                // The engine itself runs vstr commands that run one another for ever.
                return spent(QStringLiteral("%1 commands run").arg(englishNumber(kMostCommands)) +
                             (vstrs * 2 > commands
                                  ? QStringLiteral(", most of them vstr %1")
                                        .arg(atStart ? QStringLiteral("as the script runs")
                                                     : QStringLiteral("at the end of a level"))
                                  : QString()));
            if (command.own)
                m_ownAt = command.span.begin;
            const QList<QByteArray>& arguments = command.arguments;
            const QString name = arguments.isEmpty() ? QString() : lowerLatin1(arguments[0]);
            bool carried = false;
            if (name == u"vstr" && arguments.size() == 2) {
                ++vstrs;
                const QString variable = lowerLatin1(arguments[1]);
                m_read << variable;
                const Variable found = m_variables.value(variable);
                // The value is inserted with two line ends, vstr's and the buffer's.
                const QByteArray inserted = found.value + "\n\n";
                if ((m_inserted += inserted.size()) > kMostInserted)
                    return spent(QStringLiteral("%1 bytes put into the command buffer")
                                     .arg(englishNumber(kMostInserted)));
                buffer.insert(inserted, found.valueSpan.begin,
                              found.line ? found.line : command.line);
            } else if ((name == u"exec" || name == u"execq") && arguments.size() == 2) {
                const QString file = QString::fromLatin1(arguments[1]);
                if (atStart && !beforeScript)
                    reading.executed << file;
                // The file's text goes ahead of the rest, with a line end after it; its
                // commands count as the exec's line.
                if (const std::optional<QByteArray> text =
                        m_executed ? m_executed(file) : std::nullopt) {
                    if ((m_inserted += text->size() + 1) > kMostInserted)
                        return spent(QStringLiteral("%1 bytes put into the command buffer")
                                         .arg(englishNumber(kMostInserted)));
                    m_executing.insert(command.line, file);
                    buffer.insert(*text + '\n', -1, command.line);
                }
            } else {
                carried = act(command, name, atStart);
            }
            if (command.own && !arguments.isEmpty() && !carried) {
                // The buffer drops the "/" that closes a block comment; the file has it.
                QByteArray shown = masked(command);
                if (shown.endsWith('*') && m_script.mid(command.span.end, 1) == "/")
                    shown += '/';
                reading.uncarried << ScriptLine{command.line, QString::fromLatin1(shown)};
            }
            if (command.own) {
                own << std::pair(command, carried);
                reading.places.commandStarts
                    << command.span.begin + (command.text.size() - command.text.trimmed().size() > 0
                                                 ? command.text.indexOf(command.text.trimmed())
                                                 : 0);
            }
        }
        return true;
    }

    // The end of a level, as the game ends it: a tournament only restarts its map; else
    // vstr nextmap, or after the map's reset of nextmap, vstr d1 where d1 is set.
    bool endLevel()
    {
        if (value("nextmap").compare(kRestart, Qt::CaseInsensitive) == 0 &&
            !value("d1").isEmpty()) {
            set("nextmap", "vstr d2", {}, 0, false);
            return execute("vstr d1\n", -1, false);
        }
        return execute("vstr nextmap\n", -1, false);
    }

    // The variables that changed since the last call: set, or given the value they waited with
    // or the game's.
    QSet<QString> takeChanged() { return std::exchange(m_changed, {}); }
    const Variable* find(const QString& name) const
    {
        const auto found = m_variables.constFind(name);
        return found == m_variables.constEnd() ? nullptr : &*found;
    }

    QByteArray value(const QString& name) const { return m_variables.value(name).value; }
    bool isFormVariable(const QString& name) const { return m_formVariables.contains(name); }
    const QSet<QString>& read() const { return m_read; }
    const QHash<QString, Variable>& variables() const { return m_variables; }

    ScriptReading reading;
    // The engine's archive runs, before the script.
    bool beforeScript = false;
    // The script's own commands, comments and empty ones included, and whether the form
    // carries each.
    QList<std::pair<Command, bool>> own;
    // Where the script's own commands that ran the first map load, and the first map
    // command, start.
    qsizetype firstMapAt = -1;
    qsizetype firstMapCommandAt = -1;
    int unclosedComment = 0;
    // The lines that latched variables, since the last map load: by variable.
    QHash<QString, int> latchedLines;

    bool spent(const QString& what)
    {
        reading.problem =
            QStringLiteral("the tool cannot follow it: reading it took more than the tool "
                           "allows for one script, %1.")
                .arg(what);
        return false;
    }

private:
    // What the engine's Cvar_Set2 does, unforced; for a command of the script's own, or
    // run from text, at the line given.
    void set(const QString& name, const QByteArray& value, Span valueSpan, int line, bool own)
    {
        m_changed << name;
        auto found = m_variables.find(name);
        if (found == m_variables.end()) {
            m_variables.insert(name, {value, {}, value, 0, true, valueSpan, line});
            return;
        }
        Variable& variable = *found;
        if ((variable.flags & EngineVariables::Latched) && variable.latched) {
            if (value == variable.value) {
                variable.latched.reset();
                latchedLines.remove(name);
                return;
            }
            if (value == *variable.latched)
                return;
        } else if (value == variable.value) {
            return;
        }
        if (variable.flags & EngineVariables::ReadOnly)
            return;
        // The engine runs its archive before the server registers its variables, latched
        // ones included, so the archive's values take effect at once.
        if ((variable.flags & EngineVariables::Latched) && !beforeScript) {
            variable.latched = value;
            if (own)
                latchedLines.insert(name, line);
            return;
        }
        variable.value = value;
        variable.valueSpan = valueSpan;
        variable.line = line;
    }

    // What the game module's registering does to a variable that already exists: a value
    // that a script gave stays, with the game's as its reset value, but one that the game
    // holds read only takes the game's.
    static void registered(Variable& variable, const EngineVariables::Variable& game)
    {
        if (variable.userCreated) {
            variable.reset = game.value;
            if (game.flags & EngineVariables::ReadOnly)
                variable.value = game.value;
        }
        variable.flags |= game.flags;
        variable.userCreated = false;
    }

    // A map load: latched values take effect, the game module's variables exist, and the
    // map's nextmap restarts it.
    void loadMap(const QString& map, const Command& command)
    {
        for (auto variable = m_variables.begin(); variable != m_variables.end(); ++variable) {
            if (variable->latched) {
                variable->value = *variable->latched;
                variable->latched.reset();
                m_changed << variable.key();
            }
        }
        latchedLines.clear();
        // The server holds from 1 to 64 players, and sets the variable to the nearest.
        const int players = atoi(value("sv_maxclients"));
        if (players < 1 || players > 64)
            m_variables["sv_maxclients"].value = QByteArray::number(std::clamp(players, 1, 64));
        if (!m_gameLoaded) {
            m_gameLoaded = true;
            for (const EngineVariables::Variable& game : EngineVariables::game()) {
                const QString name = QString::fromLatin1(game.name).toLower();
                m_changed << name;
                auto found = m_variables.find(name);
                if (found == m_variables.end())
                    m_variables.insert(name,
                                       {game.value, {}, game.value, game.flags, false, Span{}, 0});
                else
                    registered(*found, game);
            }
        }
        set("nextmap", kRestart, {}, 0, false);
        reading.map = map;
        reading.mapLine = command.line;
        reading.tournament = atoi(value("g_gametype")) == 1;
    }

    // What the command does; false when the form does not carry it.
    bool act(const Command& command, const QString& name, bool atStart)
    {
        const QList<QByteArray>& arguments = command.arguments;
        if (arguments.isEmpty())
            return false;
        const auto set = setVariable(arguments);
        const bool exists = set && m_variables.contains(set->first);
        std::optional<QByteArray> value;
        qsizetype from = set ? set->second : 0;
        if (name == u"set" || name == u"seta" || name == u"sets" || name == u"setu") {
            if (arguments.size() >= 3)
                value = arguments.mid(2).join(' ');
        } else if (name == u"toggle") {
            const QByteArray current = exists ? this->value(set->first) : QByteArray();
            if (arguments.size() == 2) {
                value = QByteArray::number(std::strtod(current.constData(), nullptr) == 0 ? 1 : 0);
            } else if (arguments.size() > 3) {
                value = arguments[2];
                for (qsizetype i = 2; i + 1 < arguments.size(); ++i) {
                    if (current == arguments[i]) {
                        value = arguments[i + 1];
                        from = i + 1;
                        break;
                    }
                }
            }
        } else if (name == u"reset") {
            if (arguments.size() == 2 && exists)
                value = m_variables.value(set->first).reset;
        } else if (name == u"unset") {
            if (arguments.size() == 2) {
                const QString variable = lowerLatin1(arguments[1]);
                if (m_variables.value(variable).userCreated)
                    m_variables.remove(variable);
            }
            return false;
        } else if (kMapCommands.contains(name)) {
            const QString map = QString::fromLatin1(arguments.value(1));
            // A map that cannot be found leaves the server on its map, with its nextmap.
            if (m_mapExists(map)) {
                if (atStart && firstMapAt < 0)
                    firstMapAt = m_ownAt;
                if (atStart)
                    reading.places.mapCommand =
                        arguments.size() > 1 && command.argumentSpans[1].known()
                            ? std::optional(command)
                            : std::nullopt;
                loadMap(map, command);
            } else if (!reading.missingMaps.contains(map)) {
                reading.missingMaps << map;
            }
            if (atStart && firstMapCommandAt < 0)
                firstMapCommandAt = m_ownAt;
            return command.own;
        } else if (exists && arguments.size() >= 2) {
            // The bare form sets only a variable that exists.
            value = arguments.mid(1).join(' ');
        }
        if (!value)
            return false;
        // A value of one argument, or one picked by toggle, stands in the script as it is.
        const bool oneArgument = from + 1 == arguments.size() || name == u"toggle";
        const Span valueSpan = oneArgument && from < command.argumentSpans.size() &&
                                       command.argumentSpans[from].known()
                                   ? Span{command.argumentSpans[from].begin +
                                              (m_script[command.argumentSpans[from].begin] == '"'),
                                          command.argumentSpans[from].begin +
                                              (m_script[command.argumentSpans[from].begin] == '"') +
                                              arguments[from].size()}
                                   : Span{};
        this->set(set->first, *value, valueSpan, command.line, command.own);
        if (!isFormVariable(set->first))
            return false;
        if (command.own) {
            reading.places.settings[set->first] << command;
            return true;
        }
        if (beforeScript)
            return false;
        const QString shown =
            isSecret(set->first) ? QStringLiteral("********") : QString::fromLatin1(*value);
        const QString sets = QStringLiteral("%1 to \"%2\"").arg(set->first, shown);
        const QString when = atStart ? QStringLiteral("as the script runs")
                                     : QStringLiteral("at the end of a level");
        // Text from a file that exec runs counts as that exec's line; else, as vstr's.
        const auto file = m_executing.constFind(command.line);
        const LaterSetting later{
            command.line, set->first,
            file != m_executing.constEnd() && !command.span.known()
                ? QStringLiteral("runs %1, which sets %2 %3")
                      .arg(GameTree::scriptPath(*file), sets, when)
                : QStringLiteral("sets %1 %2, when vstr runs it").arg(sets, when)};
        if (!reading.overriding.contains(later))
            reading.overriding << later;
        return false;
    }

    const QByteArray& m_script;
    std::function<bool(const QString&)> m_mapExists;
    std::function<std::optional<QByteArray>(const QString&)> m_executed;
    // The files that exec runs, by the line of the exec.
    QHash<int, QString> m_executing;
    QStringList m_formVariables;
    QHash<QString, Variable> m_variables;
    QSet<QString> m_changed;
    QSet<QString> m_read;
    bool m_gameLoaded = false;
    qint64 m_commands = 0;
    qint64 m_inserted = 0;
    qint64 m_scanned = 0;
    qsizetype m_ownAt = -1;
};

// The levels of a rotation followed, each by what decides how the rotation goes on from it:
// its map, and the values of nextmap, d1, g_gametype and the variables that vstr has run so
// far, as vstr runs only what those hold. Each level is known by a hash of those, so that
// finding an earlier level alike takes a look-up, not a comparison with every one.
class Levels {
public:
    // Adds the level that the run stands at; the earlier one alike it, if any.
    std::optional<int> add(Run& run)
    {
        const int index = int(m_maps.size());
        m_maps << run.reading.map.value_or(QString());
        size_t hash = qHash(m_maps.last());
        if (index > 0)
            hash += m_hashes.last() - qHash(m_maps[index - 1]);
        for (const QString& name : run.takeChanged()) {
            const Run::Variable* variable = run.find(name);
            const QByteArray text =
                variable ? variable->value + '\0' + variable->latched.value_or("\1") : "\3";
            QList<Entry>& history = m_history[name];
            const size_t before = part(name, index);
            if (!history.isEmpty() && history.last().level == index)
                history.removeLast();
            history << Entry{index, text, qHash(name) * 31 + qHash(text)};
            if (m_names.contains(name))
                hash += history.last().part - before;
        }
        m_hashes << hash;
        // Variables that vstr has run since decide too, for the earlier levels as well.
        QStringList added;
        for (const QString& name : run.read() + QSet<QString>{"nextmap", "d1", "g_gametype"}) {
            if (!m_names.contains(name))
                added << name;
        }
        if (!added.isEmpty() || index == 0) {
            m_names.unite(QSet<QString>(added.begin(), added.end()));
            m_seen.clear();
            for (int level = 0; level < m_hashes.size(); ++level) {
                for (const QString& name : std::as_const(added))
                    m_hashes[level] += part(name, level);
                if (level < index)
                    m_seen.insert(m_hashes[level], level);
            }
        }
        for (auto found = m_seen.constFind(m_hashes.last());
             found != m_seen.cend() && found.key() == m_hashes.last(); ++found) {
            if (alike(index, *found))
                return *found;
        }
        m_seen.insert(m_hashes.last(), index);
        return std::nullopt;
    }

private:
    // A variable's value from a level on, as text, with its part of the level's hash.
    struct Entry {
        int level;
        QByteArray text;
        size_t part;
    };

    // The entry that holds at level; nothing where the script had not changed the variable
    // by then, so that it held what it held at the start.
    const Entry* at(const QString& name, int level) const
    {
        const auto history = m_history.constFind(name);
        if (history == m_history.constEnd())
            return nullptr;
        const auto after = std::ranges::upper_bound(*history, level, {}, &Entry::level);
        return after == history->begin() ? nullptr : &*(after - 1);
    }

    size_t part(const QString& name, int level) const
    {
        const Entry* entry = at(name, level);
        return entry ? entry->part : qHash(name) * 31;
    }

    bool alike(int a, int b) const
    {
        return m_maps[a] == m_maps[b] && std::ranges::all_of(m_names, [&](const QString& name) {
                   const Entry* x = at(name, a);
                   const Entry* y = at(name, b);
                   return x == y || (x && y && x->text == y->text);
               });
    }

    QStringList m_maps;
    QList<size_t> m_hashes;
    QHash<QString, QList<Entry>> m_history;
    QSet<QString> m_names;
    QMultiHash<size_t, int> m_seen;
};

// The line around the bytes at span: from its start to after its line end.
Span wholeLines(const QByteArray& text, Span span)
{
    qsizetype begin = span.begin;
    while (begin > 0 && text[begin - 1] != '\n' && text[begin - 1] != '\r')
        --begin;
    qsizetype end = span.end;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r')
        ++end;
    if (end < text.size() && text[end] == '\r')
        ++end;
    if (end < text.size() && text[end] == '\n' && (end == 0 || text[end - 1] != '\n'))
        ++end;
    return {begin, end};
}

// A rotation as the tool writes it: steps d1 to dN on lines of their own, one after another,
// each loading its map and naming the next as nextmap, the last naming d1, and nextmap set
// to d2 after the map command. Its commands, and the maps after the first.
void findToolsRotation(Run& run)
{
    static const QRegularExpression step(
        QStringLiteral("^set d(\\d+) \"map ([^\";]+); set nextmap vstr d(\\d+)\"$"));
    const QByteArray& text = run.reading.text;
    QMap<int, QString> steps;
    QList<qsizetype> places;
    Span stepLines;
    Span nextmap;
    for (qsizetype i = 0; i < run.own.size(); ++i) {
        const Command& command = run.own[i].first;
        const QString line = QString::fromLatin1(command.text.trimmed());
        if (const QRegularExpressionMatch match = step.match(line); match.hasMatch()) {
            const int number = match.captured(1).toInt();
            const Span lines = wholeLines(text, command.span);
            if (steps.contains(number) || (stepLines.known() && lines.begin != stepLines.end) ||
                (match.captured(3).toInt() != number + 1 && match.captured(3) != u"1"))
                return;
            steps.insert(number, match.captured(2));
            stepLines = {stepLines.known() ? stepLines.begin : lines.begin, lines.end};
            places << i;
        } else if (line == u"set nextmap \"vstr d2\"") {
            nextmap = wholeLines(text, command.span);
            places << i;
        }
    }
    const int count = int(steps.size());
    if (count < 2 || places.size() != count + 1 || steps.firstKey() != 1 ||
        steps.lastKey() != count)
        return;
    for (const qsizetype place : places) {
        run.own[place].second = true;
        run.reading.uncarried.removeIf(
            [&](const ScriptLine& line) { return line.line == run.own[place].first.line; });
    }
    run.reading.places.rotation = {stepLines, nextmap, steps.values().mid(1)};
}

// The lines of the script that the form's own empty passwords stand on.
void findEmptyPasswords(ScriptReading& reading)
{
    static const QRegularExpression empty(QStringLiteral("^//set ([A-Za-z_]+) \"\"\r?$"),
                                          QRegularExpression::MultilineOption);
    for (auto match = empty.globalMatch(QString::fromLatin1(reading.text)); match.hasNext();) {
        const QRegularExpressionMatch found = match.next();
        const QString name = found.captured(1).toLower();
        if (isSecret(name))
            reading.places.emptyPasswords.insert(
                name, {found.capturedStart(), found.capturedStart() + 9 + name.size()});
    }
}

} // namespace

std::optional<QString> ScriptReading::value(SettingsMember member) const
{
    const char* variable = settingsField(member).variable;
    const auto found = values.constFind(QString::fromLatin1(variable).toLower());
    return found == values.constEnd() ? std::nullopt : std::optional(*found);
}

ServerSettings ScriptReading::settings() const
{
    // A variable that the server does not have, such as the mod's region, shows as the window
    // shows it when it opens.
    ServerSettings settings = designSettings();
    for (const SettingsField& field : kSettingsFields) {
        if (field.variable)
            settings.*field.member =
                held.value(QString::fromLatin1(field.variable).toLower(), settings.*field.member);
    }
    settings.initialMap = map.value_or(QString());
    return settings;
}

bool isSecret(const QString& variable)
{
    return variable.contains(u"pass", Qt::CaseInsensitive);
}

ScriptReading readScript(const QByteArray& script, const ScriptSurroundings& surroundings)
{
    // The server reads a script up to its first NUL.
    const qsizetype nul = script.indexOf('\0');
    const QByteArray text = nul < 0 ? script : script.first(nul);
    Run run(text, surroundings);
    run.reading.text = script;
    findEmptyPasswords(run.reading);
    // The engine runs its archive first, in a go of its own.
    QHash<QString, QByteArray> archived;
    if (!surroundings.before.isEmpty()) {
        run.beforeScript = true;
        run.execute(surroundings.before + '\n', -1, true);
        run.beforeScript = false;
        for (const QString& name : run.takeChanged()) {
            if (const Run::Variable* variable = run.find(name))
                archived.insert(name, variable->value);
        }
    }
    // The engine's exec adds a line end after the script.
    const bool ran = run.execute(text + '\n', 0, true);
    run.reading.places.firstMapAt = run.firstMapAt >= 0 ? run.firstMapAt : run.firstMapCommandAt;
    for (const SettingsField& field : kSettingsFields) {
        const QString name =
            field.variable ? QString::fromLatin1(field.variable).toLower() : QString();
        if (!field.variable || !run.variables().contains(name))
            continue;
        const QString value = QString::fromLatin1(run.value(name));
        run.reading.held.insert(name, value);
        if (run.reading.places.settings.contains(name) ||
            std::ranges::any_of(run.reading.overriding,
                                [&](const LaterSetting& later) { return later.variable == name; }))
            run.reading.values.insert(name, value);
    }
    for (auto latched = run.latchedLines.cbegin(); latched != run.latchedLines.cend(); ++latched) {
        const QByteArray waiting = run.variables().value(latched.key()).latched.value_or("");
        run.reading.latched << ScriptLine{
            latched.value(),
            QStringLiteral("%1 \"%2\"")
                .arg(latched.key(), isSecret(latched.key()) ? QStringLiteral("********")
                                                            : QString::fromLatin1(waiting))};
    }
    std::ranges::sort(run.reading.latched, {}, &ScriptLine::line);
    for (auto value = archived.cbegin(); value != archived.cend(); ++value) {
        const Run::Variable* now = run.find(value.key());
        // A value that the script sets only after the map waits for the next one.
        const bool set = run.reading.places.settings.contains(value.key()) &&
                         !run.latchedLines.contains(value.key());
        if (now && now->value == value.value() && !set &&
            registeredValue(value.key()) != value.value())
            run.reading.archived << std::pair(value.key(), QString::fromLatin1(value.value()));
    }
    std::ranges::sort(run.reading.archived);
    run.reading.places.endsInComment = run.unclosedComment != 0;
    if (!ran)
        return run.reading;
    if (!run.reading.map)
        run.reading.noMap =
            run.unclosedComment
                ? QStringLiteral("the block comment that opens on line %1 is never closed, "
                                 "and the server skips every command after it, a map command "
                                 "included")
                      .arg(run.unclosedComment)
                : QStringLiteral("no map command in it runs");
    findToolsRotation(run);
    // At the end of each level the game runs vstr nextmap; after the map's reset of nextmap
    // it runs vstr d1 instead, if set, as the rotations of the scripts name their steps. In
    // a tournament it only restarts the map.
    const QByteArray nextmap = run.value("nextmap");
    run.reading.namesNextMaps =
        !run.value("d1").isEmpty() ||
        (!nextmap.isEmpty() && nextmap.compare(kRestart, Qt::CaseInsensitive));
    if (run.reading.map && !run.reading.tournament) {
        const QString first = *run.reading.map;
        const int firstLine = run.reading.mapLine;
        Levels levels;
        levels.add(run);
        for (int level = 1;; ++level) {
            if (level > kMostLevels) {
                run.spent(QStringLiteral("%1 level ends followed").arg(englishNumber(kMostLevels)));
                return run.reading;
            }
            if (!run.endLevel())
                return run.reading;
            if (const std::optional<int> earlier = levels.add(run)) {
                run.reading.repeatsFrom = *earlier;
                break;
            }
            run.reading.rotation << *run.reading.map;
            if (run.reading.tournament)
                break;
        }
        run.reading.map = first;
        run.reading.mapLine = firstLine;
        run.reading.rotationEndsInTournament = run.reading.tournament;
        run.reading.tournament = false;
    }
    // A rotation of another form is its vstr commands and what they run.
    if (!run.reading.rotation.isEmpty() && !run.reading.places.rotation) {
        for (const auto& [command, carried] : std::as_const(run.own)) {
            const auto set = setVariable(command.arguments);
            if (!carried &&
                ((!command.arguments.isEmpty() && lowerLatin1(command.arguments[0]) == u"vstr") ||
                 (set && (set->first == u"nextmap" || run.read().contains(set->first)))))
                run.reading.rotationLines << command.line;
        }
    }
    return run.reading;
}

bool setsPasswords(const QByteArray& script)
{
    return std::ranges::any_of(ServerScript::commands(script),
                               [](const auto& command) { return setsSecret(command.arguments); });
}

std::optional<QString> scriptTextProblem(const QString& name, const QByteArray& bytes)
{
    // Text holds no control characters but white space; the server would stop at a NUL.
    const std::string_view whiteSpace = "\t\n\v\f\r";
    if (std::any_of(bytes.begin(), bytes.end(), [&](char c) {
            return uchar(c) < 0x20 && whiteSpace.find(c) == std::string_view::npos;
        }))
        return QStringLiteral("%1 is not a server script: it holds binary data, such as NUL "
                              "bytes, where a script holds only text.")
            .arg(name);
    if (bytes.size() > ServerScript::kMaxBytes)
        return QStringLiteral("%1 is not a server script: the game server executes no "
                              "script larger than %2 bytes.")
            .arg(name, englishNumber(ServerScript::kMaxBytes));
    return std::nullopt;
}

std::variant<QByteArray, QString> readScriptBytes(const QString& path)
{
    const QString name = u'"' + path + u'"';
    if (const std::optional<QString> kind = specialFileKind(path))
        return QStringLiteral("%1 is %2, not a script file, and was not opened.").arg(name, *kind);
    QFile file;
    QByteArray bytes;
    if (const std::optional<QString> problem = openRegularFile(file, path))
        return QStringLiteral("Could not read the script %1: %2.").arg(name, *problem);
    bytes = file.read(ServerScript::kMaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return QStringLiteral("Could not read the script %1: %2.").arg(name, file.errorString());
    if (const std::optional<QString> problem = scriptTextProblem(name, bytes))
        return *problem;
    return bytes;
}

std::variant<ScriptReading, QString> readScriptText(const QString& name, const QByteArray& bytes)
{
    if (const std::optional<QString> problem = scriptTextProblem(name, bytes))
        return *problem;
    ScriptReading reading = readScript(bytes);
    if (reading.problem)
        return QStringLiteral("%1 is not a script that the server can run: %2")
            .arg(name, *reading.problem);
    if (reading.values.isEmpty() && !reading.map)
        return QStringLiteral("%1 is not a server script of this form: it sets none of its "
                              "settings and starts no map.")
            .arg(name);
    return reading;
}

std::variant<ScriptReading, QString> readScriptFile(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("\"%1\" is a folder, not a script. Choose a config file.").arg(path);
    if (!info.exists())
        return QStringLiteral("The script \"%1\" does not exist.").arg(path);
    const std::variant<QByteArray, QString> bytes = readScriptBytes(path);
    if (const QString* problem = std::get_if<QString>(&bytes))
        return *problem;
    return readScriptText(u'"' + path + u'"', std::get<QByteArray>(bytes));
}

std::optional<QString> rotationNotice(const ScriptReading& reading)
{
    if (reading.tournament)
        return QStringLiteral("The script sets g_gametype 1, a tournament, where the game "
                              "restarts its map at the end of each level and never moves to "
                              "another, whatever the script's rotation says.");
    if (!reading.map)
        return std::nullopt;
    // A rotation that never leaves its map is a dead end that only a map change ends.
    if (reading.rotation.isEmpty())
        return reading.namesNextMaps
                   ? std::optional(QStringLiteral("The script names maps to follow, but at the "
                                                  "end of each level the server plays %1 again: "
                                                  "its nextmap leads back to it.")
                                       .arg(*reading.map))
                   : std::nullopt;
    if (reading.rotationEndsInTournament)
        return QStringLiteral("At the ends of levels the server plays %1, where g_gametype 1 "
                              "makes a tournament that only ever restarts %2.")
            .arg(reading.rotation.join(QStringLiteral(", ")), reading.rotation.last());
    return QStringLiteral("At the ends of levels the server plays %1, then again from %2.")
        .arg(reading.rotation.join(QStringLiteral(", ")),
             reading.repeatsFrom == 0 ? *reading.map : reading.rotation[reading.repeatsFrom - 1]);
}

std::optional<QByteArray> registeredValue(const QString& name)
{
    for (const auto& table : {EngineVariables::game(), EngineVariables::engine()}) {
        for (const EngineVariables::Variable& variable : table) {
            if (name.compare(QLatin1String(variable.name), Qt::CaseInsensitive) == 0)
                return QByteArray(variable.value);
        }
    }
    return std::nullopt;
}

std::optional<QString> archivedNotice(const ScriptReading& reading, const QString& archive)
{
    if (reading.archived.isEmpty())
        return std::nullopt;
    QStringList values;
    for (const auto& [variable, value] : reading.archived) {
        // A value that vstr could run shows any password that it sets as stars.
        const QList<Command> commands = ServerScript::commands(value.toUtf8());
        QByteArrayList shown;
        for (const Command& command : commands)
            shown << masked(command, 1);
        const bool secret = std::ranges::any_of(
            commands, [](const Command& command) { return setsSecret(command.arguments, 1); });
        values << variable +
                      (isSecret(variable) ? QStringLiteral(" (********)")
                       : secret ? QStringLiteral(" \"%1\"").arg(QString::fromUtf8(shown.join("; ")))
                                : QStringLiteral(" \"%1\"").arg(value));
    }
    const QString listed = values.size() == 1
                               ? values[0]
                               : values.first(values.size() - 1).join(QStringLiteral(", ")) +
                                     QStringLiteral(" and ") + values.last();
    return QStringLiteral("The server will also hold %1 from \"%2\", which an earlier server left.")
        .arg(listed, archive);
}

std::optional<QString> latchedNotice(const ScriptReading& reading)
{
    if (reading.latched.isEmpty())
        return std::nullopt;
    QStringList lines;
    for (const ScriptLine& line : reading.latched)
        lines << QStringLiteral("line %1: %2").arg(line.line).arg(line.text);
    return QStringLiteral("The script sets these after its map has loaded, and the server keeps "
                          "their earlier values until the next map loads:\n%1")
        .arg(lines.join(u'\n'));
}

QStringList uncarriedLines(const ScriptReading& reading)
{
    QStringList lines;
    for (const ScriptLine& command : reading.uncarried)
        lines << QStringLiteral("line %1: %2").arg(command.line).arg(command.text);
    return lines;
}

QString uncarriedWarning(const QString& name, const ScriptReading& reading, Keeping keeping,
                         qsizetype listed)
{
    QStringList lines = uncarriedLines(reading);
    if (listed >= 0 && lines.size() > listed)
        lines = lines.first(listed) << QStringLiteral("and %1 more, all listed in the details")
                                           .arg(lines.size() - listed);
    QString text = QStringLiteral("%1 holds commands that the settings cannot carry:\n%2\n")
                       .arg(name, lines.join(u'\n'));
    switch (keeping) {
    case Keeping::Kept:
        text += QStringLiteral("Writing the settings back to it keeps them as they stand.");
        break;
    case Keeping::WrittenElsewhere:
        text += QStringLiteral("They are left out of the config file, which is another file "
                               "than the script.");
        break;
    case Keeping::Shown:
        text += QStringLiteral("create --from keeps them as they stand when it writes the "
                               "settings back to the script.");
        break;
    }
    for (const LaterSetting& later : reading.overriding)
        text += QStringLiteral("\nLine %1 %2, in place of the settings' value.")
                    .arg(later.line)
                    .arg(later.clause);
    return text;
}
