#include "CommandLine.h"

#include "CommandTable.h"
#include "Commands.h"
#include "Console.h"
#include "Output.h"
#include "config/NearestNames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

constexpr int kWidth = 79;

// The known word that a mistyped one most likely meant: the only one it begins, else the
// nearest within two edits.
std::optional<QString> nearest(const QString& word, const QStringList& known)
{
    QStringList begun;
    for (const QString& each : known) {
        if (each.startsWith(word))
            begun << each;
    }
    if (begun.size() == 1)
        return begun[0];
    std::optional<QString> best;
    qsizetype bestDistance = 3;
    for (const QString& each : known) {
        if (const qsizetype d = editDistance(word, each); d < bestDistance) {
            best = each;
            bestDistance = d;
        }
    }
    return best;
}

QString didYouMean(const std::optional<QString>& meant, const QString& prefix = {})
{
    return meant ? QStringLiteral("; did you mean '%1%2'?").arg(prefix, *meant)
                 : QStringLiteral(".");
}

// The words that other programs use for what a command does.
struct CommandHint {
    const char* word;
    const char* meant;
};
constexpr CommandHint kCommandHints[] = {{"start", "run"}, {"restart", "run --replace"}};

std::optional<QString> meantCommand(const QString& word, const QStringList& names)
{
    for (const CommandHint& hint : kCommandHints) {
        if (word == QLatin1String(hint.word))
            return QLatin1String(hint.meant);
    }
    return nearest(word, names);
}

QStringList commandNames()
{
    QStringList names;
    for (const CommandSpec& command : commands())
        names << QLatin1String(command.name);
    return names;
}

// Text in lines of at most kWidth columns, each after indent.
QString wrapped(const QString& text, qsizetype indent)
{
    QStringList lines;
    QString line = QString(indent, u' ');
    for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (line.size() > indent && line.size() + 1 + word.size() > kWidth) {
            lines << line;
            line = QString(indent, u' ');
        }
        line += (line.size() > indent ? QStringLiteral(" ") : QString()) + word;
    }
    return (lines << line).join(u'\n');
}

// A name, such as "  --name VALUE", and its description beside it from column, or below it
// where the name is longer.
QString describedLine(const QString& name, const QString& description, qsizetype column)
{
    QString text = wrapped(description, column);
    if (name.size() + 2 > column)
        return name + u'\n' + text;
    return text.replace(0, name.size(), name);
}

QString helpText()
{
    QStringList usage{QStringLiteral("Usage: %1 [FILE]").arg(kProgram)};
    QStringList list;
    for (const CommandSpec& command : commands()) {
        usage << QStringLiteral("  or:  %1 %2").arg(kProgram, usageOf(command));
        list << describedLine(QStringLiteral("  ") + QLatin1String(command.name),
                              QLatin1String(command.summary), 10);
    }
    return usage.join(u'\n') +
           QStringLiteral(
               "\n\n"
               "Writes a commented Quake III Arena server config for the Quorvex modification,\n"
               "installs it in the game's arena folder and starts the dedicated server with it.\n"
               "With no argument it shows its window, with FILE the window filled from that\n"
               "script. A command works without a display.\n\nCommands:\n") +
           list.join(u'\n') +
           QStringLiteral("\n\nOptions:\n"
                          "  -h, --help     Show this help, or after a command its own, and end.\n"
                          "  -v, --version  Show the program's version and end.\n\n"
                          "Examples:\n") +
           helpEnding().join(QStringLiteral("\n\n"));
}

} // namespace

QStringList helpEnding()
{
    return {
        QStringLiteral("  %1 create --server-name \"Grelt's Arena\" --output server.cfg\n"
                       "  %1 maps --game-dir /opt/quake3\n"
                       "  %1 run --game-dir /opt/quake3 --output server.cfg")
            .arg(kProgram),
        QStringLiteral("'%1 help COMMAND' or '%1 COMMAND --help' shows a\n"
                       "command's options.")
            .arg(kProgram),
        QStringLiteral("Exit status: 0 when done, 1 when refused or failed, 2 for a wrong "
                       "command line,\n3 from status when no server runs, 130 when interrupted, or "
                       "128 and the\nnumber of another signal.")};
}

QString commandHelp(const CommandSpec& command)
{
    QStringList text{QStringLiteral("Usage: %1 %2").arg(kProgram, usageOf(command)),
                     {},
                     wrapped(QLatin1String(command.summary), 0)};
    if (*command.details)
        text << QString() << wrapped(QLatin1String(command.details), 0);
    if (!command.options.empty()) {
        text << QString() << QStringLiteral("Options:");
        for (const OptionUse& option : command.options) {
            const char* value = valueNameOf(QLatin1String(option.name));
            text << describedLine(QStringLiteral("  --%1").arg(QLatin1String(option.name)) +
                                      (value ? u' ' + QLatin1String(value) : QString()),
                                  describedOption(option), 28);
        }
    }
    return (text << QString() << QStringLiteral("Example:")
                 << QStringLiteral("  ") + QLatin1String(command.example))
        .join(u'\n');
}

namespace {

// How many arguments a command takes, from its usage: none, one, with brackets up to one,
// or with dots after it one or more.
std::pair<qsizetype, qsizetype> argumentCount(const CommandSpec& command)
{
    const std::string_view arguments = command.arguments;
    if (arguments.empty())
        return {0, 0};
    if (arguments.ends_with("..."))
        return {1, std::numeric_limits<qsizetype>::max()};
    return arguments.starts_with('[') ? std::pair<qsizetype, qsizetype>{0, 1}
                                      : std::pair<qsizetype, qsizetype>{1, 1};
}

// The command that the arguments name: the first word that is no option and no option's
// value, read before the parser, whose errors come before it knows the command.
const CommandSpec* commandIn(const QStringList& arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (word == u"--")
            return findCommand(arguments.value(i + 1));
        if (!word.startsWith(u'-'))
            return findCommand(word);
        if (!word.contains(u'=') && valueNameOf(word.mid(word.startsWith(u"--") ? 2 : 1)))
            ++i;
    }
    return nullptr;
}

// The options that a command takes, or with none the program's own.
QStringList optionsOf(const CommandSpec* command)
{
    QStringList names{QStringLiteral("help")};
    if (!command)
        return names << QStringLiteral("version");
    for (const OptionUse& option : command->options)
        names << QLatin1String(option.name);
    return names;
}

int run(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, {});
    const QCommandLineOption version({"v", "version"}, {});
    parser.addOption(help);
    parser.addOption(version);
    for (const QString& name : optionNames()) {
        const char* value = valueNameOf(name);
        const char* letter = shortNameOf(name);
        parser.addOption(QCommandLineOption(letter ? QStringList{QLatin1String(letter), name}
                                                   : QStringList{name},
                                            {}, value ? QLatin1String(value) : QString()));
    }
    const CommandSpec* named = commandIn(arguments);
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty())
            return usageError(parser.errorText(), named);
        return usageError(QStringLiteral("unknown option '%1%2'")
                                  .arg(unknown[0].size() == 1 ? u"-" : u"--", unknown[0]) +
                              didYouMean(nearest(unknown[0], optionsOf(named)), "--"),
                          named);
    }
    const QStringList words = parser.positionalArguments();
    const QString word = words.value(0);
    const CommandSpec* command = findCommand(word);
    if (!word.isEmpty() && !command)
        return usageError(QStringLiteral("unknown command '%1'").arg(word) +
                          didYouMean(meantCommand(word, commandNames())));
    if (parser.isSet(help)) {
        print(stdout, command ? commandHelp(*command) : helpText());
        return Done;
    }
    if (parser.isSet(version)) {
        print(stdout, kProgram + u' ' + QCoreApplication::applicationVersion());
        return Done;
    }
    if (!command)
        return usageError(
            QStringLiteral("give a command: %1.").arg(commandNames().join(QStringLiteral(", "))));
    for (const QString& typed : parser.optionNames()) {
        const QString name = longNameOf(typed);
        if (!optionsOf(command).contains(name))
            return usageError(QStringLiteral("%1 takes no option --%2").arg(word, name) +
                                  didYouMean(nearest(name, optionsOf(command)), "--"),
                              command);
    }
    const auto [least, most] = argumentCount(*command);
    if (words.size() - 1 < least)
        return usageError(
            QStringLiteral("%1 needs %2.")
                .arg(word, QString::fromLatin1(command->arguments).remove(QStringLiteral("..."))),
            command);
    if (words.size() - 1 > most)
        return usageError(QStringLiteral("%1 takes no argument '%2'.").arg(word, words[most + 1]),
                          command);
    return command->run({parser, words.mid(1)});
}

} // namespace

int helpCommand(const Invocation& invocation)
{
    if (invocation.arguments.isEmpty()) {
        print(stdout, helpText());
        return Done;
    }
    const QString word = invocation.arguments[0];
    if (const CommandSpec* command = findCommand(word)) {
        print(stdout, commandHelp(*command));
        return Done;
    }
    return usageError(QStringLiteral("unknown command '%1'").arg(word) +
                      didYouMean(meantCommand(word, commandNames())));
}

bool wantsCommandLine(int argc, char* argv[])
{
    if (argc < 2)
        return false;
    const std::string_view first = argv[1];
    if (argc > 2 || first.starts_with('-') || findCommand(QString::fromLocal8Bit(argv[1])))
        return true;
    // A word that names no file is more likely a mistyped command than a script.
    const bool looksLikeAFile = first.find_first_of("./\\") != std::string_view::npos;
    return !looksLikeAFile && !QFileInfo::exists(QFile::decodeName(argv[1]));
}

int runCommandLine(int argc, char* argv[])
{
    outputError() = Console::attach();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(kProgram);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEX_VERSION));
    const int status = run(QCoreApplication::arguments());
    // Output that did not arrive is a failure, such as to a full disk or a closed pipe.
    if (std::fflush(stdout) != 0 && outputError() == 0)
        outputError() = errno;
    if (outputError() == 0 && std::ferror(stdout))
        outputError() = EIO;
    if (outputError() == 0)
        return status;
    print(stderr, QStringLiteral("%1: could not write to standard output: %2.")
                      .arg(kProgram, QString::fromLocal8Bit(std::strerror(outputError()))));
    return status == Done ? Failed : status;
}
