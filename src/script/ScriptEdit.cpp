#include "ScriptEdit.h"

#include "EngineVariables.h"
#include "config/ConfigScript.h"

#include <algorithm>

namespace {

using ServerScript::Command;
using ServerScript::Span;

// The script's own line end: its first, or for a script of one line the tool's.
QByteArray lineEndOf(const QByteArray& text)
{
    const qsizetype at = text.indexOf('\n');
    const qsizetype cr = text.indexOf('\r');
    if (cr >= 0 && (at < 0 || cr < at))
        return cr + 1 < text.size() && text[cr + 1] == '\n' ? "\r\n" : "\r";
    return at >= 0 ? QByteArray("\n") : QByteArray(kLineEnd.data(), kLineEnd.size());
}

// Whether the engine reads value, written bare, as one argument that is exactly value.
bool readsBare(const QByteArray& value)
{
    return !value.isEmpty() &&
           std::ranges::none_of(
               value,
               [](char c) { return static_cast<signed char>(c) <= ' ' || c == '"' || c == ';'; }) &&
           !value.contains("//") && !value.contains("/*");
}

// The value as the setting's line in the tool's own scripts writes it: numbers bare, an empty
// number as 0, the region as the number it converts to, the rest in quotes.
QByteArray toolsValue(SettingsMember member, const QString& text)
{
    const bool number = member == &ServerSettings::maxClients ||
                        member == &ServerSettings::timeLimit ||
                        member == &ServerSettings::reservedSlots;
    if (number)
        return text.isEmpty() ? QByteArray("0") : text.toLatin1();
    if (member == &ServerSettings::region)
        if (const std::optional<qint16> region = toInteger16(text))
            return QByteArray::number(*region);
    return '"' + text.toLatin1() + '"';
}

bool isLatched(const QString& variable)
{
    return std::ranges::any_of(EngineVariables::engine(), [&](const auto& each) {
        return (each.flags & EngineVariables::Latched) &&
               variable.compare(QLatin1String(each.name), Qt::CaseInsensitive) == 0;
    });
}

// The bytes of a line around position: where it starts, and where its end of line begins.
Span lineAround(const QByteArray& text, qsizetype position)
{
    qsizetype begin = position;
    while (begin > 0 && text[begin - 1] != '\n' && text[begin - 1] != '\r')
        --begin;
    qsizetype end = position;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r')
        ++end;
    return {begin, end};
}

bool blank(const QByteArray& bytes)
{
    return bytes.trimmed().isEmpty();
}

class Editor {
public:
    Editor(const ScriptReading& reading) : m_text(reading.text), m_lineEnd(lineEndOf(m_text)) {}

    void replace(Span span, const QByteArray& bytes) { m_edits << std::pair(span, bytes); }
    // New lines before the script's first map command, or at its end.
    void addLine(const QByteArray& line) { m_added << line; }

    QByteArray result(const ScriptReading& reading, const QByteArray& appendedMap) const
    {
        QList<std::pair<Span, QByteArray>> edits;
        QByteArray added;
        for (const QByteArray& line : m_added)
            added += line + m_lineEnd;
        const qsizetype at = reading.places.firstMapAt;
        if (at >= 0 && appendedMap.isEmpty()) {
            if (!added.isEmpty()) {
                const qsizetype where = insertionBefore(reading, at);
                edits << std::pair(Span{where, where}, added);
            }
        } else if (!added.isEmpty() || !appendedMap.isEmpty()) {
            QByteArray tail;
            if (reading.places.endsInComment)
                tail += "*/" + m_lineEnd;
            else if (!m_text.isEmpty() && !m_text.endsWith('\n') && !m_text.endsWith('\r'))
                tail += m_lineEnd;
            tail += added + appendedMap;
            edits << std::pair(Span{m_text.size(), m_text.size()}, tail);
        }
        // Edits in the order of the text; new lines first where two stand at one place.
        edits += m_edits;
        std::ranges::stable_sort(edits, {}, [](const auto& edit) { return edit.first.begin; });
        QByteArray text;
        qsizetype done = 0;
        for (const auto& [span, bytes] : edits) {
            // An edit inside one made already, such as a map's name inside the rotation's
            // steps that are written anew, is part of it.
            if (span.begin < done)
                continue;
            text += m_text.mid(done, span.begin - done) + bytes;
            done = span.end;
        }
        return text + m_text.mid(done);
    }

    const QByteArray& text() const { return m_text; }
    const QByteArray& lineEnd() const { return m_lineEnd; }

private:
    // Where new lines go before the command at: the start of its line where nothing stands
    // before it there, and before the comment lines right above it, which belong to it.
    qsizetype insertionBefore(const ScriptReading& reading, qsizetype at) const
    {
        Span line = lineAround(m_text, at);
        if (!blank(m_text.mid(line.begin, at - line.begin)))
            return at;
        qsizetype where = line.begin;
        while (where > 0) {
            qsizetype previousEnd = where - 1;
            if (previousEnd > 0 && m_text[previousEnd] == '\n' && m_text[previousEnd - 1] == '\r')
                --previousEnd;
            line = lineAround(m_text, previousEnd);
            const QByteArray above = m_text.mid(line.begin, line.end - line.begin);
            const qsizetype comment =
                line.begin +
                (above.size() - above.trimmed().size() > 0 ? above.indexOf(above.trimmed()) : 0);
            if (!above.trimmed().startsWith("//") ||
                !reading.places.commandStarts.contains(comment))
                break;
            where = line.begin;
        }
        return where;
    }

    const QByteArray& m_text;
    QByteArray m_lineEnd;
    QList<std::pair<Span, QByteArray>> m_edits;
    QList<QByteArray> m_added;
};

// Writes value into the command that sets the variable, in the command's own form: a quoted
// value stays quoted, a bare one bare where the engine reads it so; an emptied password is
// commented out where nothing else stands on its line. toggle and reset become set.
void setIn(Editor& editor, const Command& command, const QByteArray& name, const QString& typed,
           SettingsMember member)
{
    const QByteArray& text = editor.text();
    const QByteArray value = typed.toLatin1();
    const QByteArray kind = command.arguments[0].toLower();
    const bool password = isSecret(QString::fromLatin1(name));
    if (password && value.isEmpty()) {
        // Up to its last argument, so that a comment after it stays.
        const Span words{command.span.begin, command.argumentSpans.last().end};
        const Span line = lineAround(text, words.begin);
        const QByteArray after = text.mid(words.end, line.end - words.end).trimmed();
        if (blank(text.mid(line.begin, words.begin - line.begin)) &&
            (after.isEmpty() || after.startsWith("//"))) {
            editor.replace(words, "//set " + name + " \"\"");
            return;
        }
    }
    if (kind == "toggle" || kind == "reset") {
        editor.replace({command.span.begin, command.argumentSpans.last().end},
                       "set " + name + ' ' + toolsValue(member, typed));
        return;
    }
    const qsizetype first =
        kind == "set" || kind == "seta" || kind == "sets" || kind == "setu" ? 2 : 1;
    const Span span{command.argumentSpans[first].begin, command.argumentSpans.last().end};
    const bool quoted = text[span.begin] == '"';
    editor.replace(span, !quoted && readsBare(value) ? value : '"' + value + '"');
}

} // namespace

std::variant<ScriptEdit, Problem> editScript(const OpenedScript& opened,
                                             const ServerSettings& settings,
                                             const std::optional<QStringList>& rotation)
{
    const ScriptReading& reading = opened.reading;
    const ScriptPlaces& places = reading.places;
    Editor editor(reading);
    ScriptEdit edit;
    for (const SettingsField& field : kSettingsFields) {
        if (!field.variable || settings.*field.member == opened.shown.*field.member)
            continue;
        const QString variable = QString::fromLatin1(field.variable).toLower();
        const QString& typed = settings.*field.member;
        const QList<Command> setters = places.settings.value(variable);
        for (const Command& command : setters) {
            // A quote or a comment that runs on keeps a command open over line ends, where
            // a new value would run into the lines after it.
            if (command.text.contains('\n') || command.text.contains('\r'))
                return Problem{field.member,
                               QStringLiteral("line %1 of the script sets %2 with a command "
                                              "that runs on over the lines after it, as a "
                                              "quote or a comment keeps it open, so its value "
                                              "cannot be changed in place. Change it in the "
                                              "script itself.")
                                   .arg(command.line)
                                   .arg(QLatin1String(field.variable))};
            const bool bare = QString::fromLatin1(command.arguments[0]).toLower() == variable;
            setIn(editor, command, command.arguments[bare ? 0 : 1], typed, field.member);
        }
        // A latched variable that only lines after the map set holds for the level the value
        // set before the map.
        const bool beforeMap = std::ranges::any_of(setters, [&](const Command& command) {
            return places.firstMapAt < 0 || command.span.begin < places.firstMapAt ||
                   !isLatched(variable);
        });
        if (!beforeMap || setters.isEmpty()) {
            if (const auto empty = places.emptyPasswords.find(variable);
                empty != places.emptyPasswords.end() && !typed.isEmpty() && setters.isEmpty())
                editor.replace(
                    *empty, "set " +
                                reading.text.mid(empty->begin + 6, empty->end - empty->begin - 9) +
                                ' ' + toolsValue(field.member, typed));
            else if (!typed.isEmpty() || !isSecret(variable))
                editor.addLine("set " + QByteArray(field.variable) + ' ' +
                               toolsValue(field.member, typed));
        }
        for (const LaterSetting& later : reading.overriding) {
            if (later.variable == variable)
                edit.notices << QStringLiteral("Line %1 %2, and is left as it stands, so the "
                                               "server holds that value from then on in place "
                                               "of the settings' value.")
                                    .arg(later.line)
                                    .arg(later.clause);
        }
    }

    // The map: in place where a map command of the script loads it, else added at the end.
    QByteArray appendedMap;
    const bool mapChanged = settings.initialMap != opened.shown.initialMap;
    const QByteArray map = settings.initialMap.toLatin1();
    if (mapChanged && places.mapCommand) {
        const Span name = places.mapCommand->argumentSpans[1];
        editor.replace(name, reading.text[name.begin] == '"' ? '"' + map + '"' : map);
    } else if (mapChanged && reading.map) {
        return Problem{&ServerSettings::initialMap,
                       QStringLiteral("the script loads its map through a variable whose value "
                                      "the tool cannot change in place (line %1). Change the map "
                                      "in the script itself.")
                           .arg(reading.mapLine)};
    } else if (mapChanged && !map.isEmpty()) {
        appendedMap = "map " + map + editor.lineEnd();
    }

    // The rotation of the tool's own form: its steps rewritten, or added before the map.
    const QStringList maps =
        rotation.value_or(places.rotation ? places.rotation->maps : QStringList());
    const QByteArray& lineEnd = editor.lineEnd();
    const auto steps = [&] {
        const QStringList all = QStringList{settings.initialMap} + maps;
        QByteArray text;
        for (qsizetype i = 0; i < all.size(); ++i)
            text += rotationStep(int(i + 1), all[i], int(all.size())).toLatin1() + lineEnd;
        return text;
    };
    const QByteArray nextmap = "set nextmap \"vstr d2\"";
    if (places.rotation && (mapChanged || rotation)) {
        editor.replace(places.rotation->steps, maps.isEmpty() ? QByteArray() : steps());
        if (maps.isEmpty())
            editor.replace(places.rotation->nextmap, {});
    } else if (!places.rotation && rotation && !maps.isEmpty()) {
        const QByteArray comment =
            "// Sets the maps that follow the initial map, in turn" + lineEnd + steps() + lineEnd;
        if (!appendedMap.isEmpty()) {
            appendedMap = comment + appendedMap + nextmap + lineEnd;
        } else if (places.mapCommand && places.mapCommand->own) {
            const Span line = lineAround(reading.text, places.mapCommand->span.begin);
            editor.replace({line.begin, line.begin}, comment);
            const Span end = lineAround(reading.text, places.mapCommand->span.end);
            editor.replace({end.end, end.end}, lineEnd + nextmap);
        } else {
            return Problem{nullptr, QStringLiteral("--rotation: the script loads its first map "
                                                   "from a vstr, so a rotation cannot be added "
                                                   "after its map command. Add a map command.")};
        }
    }
    edit.text = editor.result(reading, appendedMap);
    return edit;
}
