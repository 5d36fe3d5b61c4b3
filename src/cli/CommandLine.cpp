#include "CommandLine.h"

#include "Console.h"
#include "config/ConfigFile.h"
#include "config/ConfigScript.h"
#include "config/CreateConfig.h"
#include "config/ScriptReader.h"
#include "config/SettingsCheck.h"
#include "launch/ScriptNumbers.h"
#include "launch/ServerLaunch.h"
#include "launch/ServerWatch.h"
#include "options/SavedPaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace {

enum Status { Done = 0, Failed = 1, Usage = 2, Interrupted = 130 };

const QString kProgram = QStringLiteral("quorvex-config-creator");

// The option for each box of the form, in the form's order.
struct SettingOption {
    SettingsMember member;
    const char* name;
    const char* valueName;
};

constexpr std::array<SettingOption, 13> kSettingOptions{{
    {&ServerSettings::serverName, "server-name", "NAME"},
    {&ServerSettings::motd, "motd", "TEXT"},
    {&ServerSettings::maxClients, "max-clients", "NUMBER"},
    {&ServerSettings::timeLimit, "time-limit", "MINUTES"},
    {&ServerSettings::connectionPassword, "connection-password", "PASSWORD"},
    {&ServerSettings::reservedSlots, "reserved-spaces", "NUMBER"},
    {&ServerSettings::reservedPassword, "reserved-password", "PASSWORD"},
    {&ServerSettings::adminPassword, "admin-password", "PASSWORD"},
    {&ServerSettings::rconPassword, "rcon-password", "PASSWORD"},
    {&ServerSettings::region, "region", "NUMBER"},
    {&ServerSettings::initialMap, "map", "MAP"},
    {&ServerSettings::gameDir, "game-dir", "DIR"},
    {&ServerSettings::outputPath, "output", "FILE"},
}};

consteval bool optionsFollowTheForm()
{
    for (std::size_t i = 0; i < kSettingOptions.size(); ++i) {
        if (kSettingOptions[i].member != kSettingsFields[i].member)
            return false;
    }
    return true;
}
static_assert(optionsFollowTheForm());

QString optionName(SettingsMember member)
{
    for (const SettingOption& option : kSettingOptions) {
        if (option.member == member)
            return QLatin1String(option.name);
    }
    return {};
}

// The reason the first write to standard output failed, if one did.
int g_outputError = 0;

void print(FILE* stream, const QString& text)
{
    if (!Console::write(stream, text + u'\n') && stream == stdout && g_outputError == 0)
        g_outputError = errno != 0 ? errno : EIO;
}

// A problem as the command line words it: the option of its setting first.
QString worded(const Problem& problem)
{
    return worded(problem, QStringLiteral("--") + optionName(problem.setting),
                  {QLatin1String(), QLatin1String("Then give the run command again."),
                   QLatin1String("Then write the config with the create command and give the "
                                 "run command again.")});
}

int failed(const QStringList& problems)
{
    for (const QString& problem : problems)
        print(stderr, problem);
    return Failed;
}

int failed(const Problems& problems)
{
    QStringList texts;
    for (const Problem& problem : problems)
        texts << worded(problem);
    return failed(texts);
}

int usageError(const QString& error)
{
    print(stderr,
          QStringLiteral("%1: %2\nTry '%1 --help' for more information.").arg(kProgram, error));
    return Usage;
}

QString helpText(const QCommandLineParser& parser)
{
    const QString options = parser.helpText();
    return QStringLiteral(
               "Usage: %1 [FILE]\n"
               "  or:  %1 create [--from SCRIPT] [SETTINGS] [--output FILE]\n"
               "  or:  %1 show SCRIPT\n"
               "  or:  %1 run [--game-dir DIR] [--output FILE]\n"
               "\n"
               "Writes a commented Quake III Arena server config for the Quorvex modification,\n"
               "installs it in the game's arena folder and starts the dedicated server with it.\n"
               "With no argument it shows its window, with FILE the window filled from that\n"
               "script. A command works without a display.\n"
               "\n"
               "Commands:\n"
               "  create  Check the settings and write the config file, as Create Config does.\n"
               "          The SETTINGS are the options below, one for each box of the form; a\n"
               "          box not given keeps its design text, or with --from the script's\n"
               "          value. It writes only --output FILE, or with --from SCRIPT alone\n"
               "          SCRIPT; --output - writes to standard output, --from - reads the\n"
               "          script from standard input, which keeps passwords off the\n"
               "          process list.\n"
               "  show    Print the settings that opening SCRIPT puts in the form, one\n"
               "          --option=value a line, which create takes back as it stands.\n"
               "  run     Install the config file in the game directory's arena folder and start\n"
               "          the dedicated server there, as Run Config does, then wait up to %2\n"
               "          seconds for it to answer as its script sets it. The server keeps\n"
               "          running after the command ends; interrupted before, run stops it\n"
               "          and exits with status 130. Without --game-dir or --output, run uses\n"
               "          the paths that the window saved; the command line never changes\n"
               "          them.\n"
               "\n"
               "Exit status: 0 when done, 1 when refused or failed, 2 for a wrong command line,\n"
               "130 when interrupted.\n"
               "\n")
               .arg(kProgram)
               .arg(ServerWatch::kWatchMs / 1000) +
           options.mid(options.indexOf(QStringLiteral("Options:")));
}

// Writes the script to standard output, its line ends as they are.
int writeToStandardOutput(const ServerSettings& settings)
{
    if (const Problems problems = checkSettings(settings); !problems.isEmpty())
        return failed(problems);
    ConfigScript script;
    script.build(settings);
    const QByteArray bytes = configFileBytes(script.strCfg());
#ifdef Q_OS_WIN
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
        std::fflush(stdout) != 0)
        return failed(
            QStringList(QStringLiteral("Could not write the script to standard output: %1.")
                            .arg(QString::fromLocal8Bit(std::strerror(errno)))));
    return Done;
}

class CommandLine {
public:
    CommandLine()
    {
        m_parser.addOption(m_help);
        m_parser.addOption(m_version);
        m_parser.addOption(m_from);
        const ServerSettings design = designSettings();
        for (const SettingOption& option : kSettingOptions) {
            const QString text = design.*option.member;
            const QString defaults = option.member == &ServerSettings::gameDir ||
                                             option.member == &ServerSettings::outputPath
                                         ? QStringLiteral("for run, the saved one")
                                     : text.isEmpty() ? QStringLiteral("empty")
                                                      : u'"' + text + u'"';
            m_parser.addOption(
                {QLatin1String(option.name),
                 QStringLiteral("%1 (default: %2).").arg(fieldCaption(option.member), defaults),
                 QLatin1String(option.valueName)});
        }
    }

    int run(const QStringList& arguments)
    {
        if (!m_parser.parse(arguments))
            return usageError(m_parser.errorText());
        if (m_parser.isSet(m_help)) {
            print(stdout, helpText(m_parser));
            return Done;
        }
        if (m_parser.isSet(m_version)) {
            print(stdout, kProgram + u' ' + QCoreApplication::applicationVersion());
            return Done;
        }
        const QStringList words = m_parser.positionalArguments();
        const QString command = words.value(0);
        QStringList allowed;
        qsizetype expected = 1;
        if (command == u"create") {
            allowed << m_from.names();
            for (const SettingOption& option : kSettingOptions)
                allowed << QLatin1String(option.name);
        } else if (command == u"show") {
            expected = 2;
        } else if (command == u"run") {
            allowed << QStringLiteral("game-dir") << QStringLiteral("output");
        } else {
            return usageError(command.isEmpty()
                                  ? QStringLiteral("give a command: create, show or run.")
                                  : QStringLiteral("unknown command '%1'.").arg(command));
        }
        for (const QString& name : m_parser.optionNames()) {
            if (!allowed.contains(name))
                return usageError(QStringLiteral("%1 takes no option --%2.").arg(command, name));
        }
        if (words.size() < expected)
            return usageError(QStringLiteral("%1 needs the script to show.").arg(command));
        if (words.size() > expected)
            return usageError(
                QStringLiteral("%1 takes no argument '%2'.").arg(command, words[expected]));
        if (command == u"create")
            return create();
        if (command == u"show")
            return show(words[1]);
        return start();
    }

private:
    // The settings options given, over settings.
    void applyOptions(ServerSettings& settings) const
    {
        for (const SettingOption& option : kSettingOptions) {
            if (m_parser.isSet(QLatin1String(option.name)))
                settings.*option.member = m_parser.value(QLatin1String(option.name));
        }
    }

    int create() const
    {
        // Only a file named on the command line is written: the one given, or the script
        // read, as opening a script in the window makes it the one to write.
        const QString from = m_parser.value(m_from);
        const bool toOutput = m_parser.isSet(QStringLiteral("output"));
        if (!toOutput && (!m_parser.isSet(m_from) || from == u"-"))
            return usageError(QStringLiteral("create needs --output FILE, the file to write, or "
                                             "--from SCRIPT to rewrite that script; nothing "
                                             "was written."));
        ServerSettings settings = designSettings();
        if (m_parser.isSet(m_from)) {
            const std::variant<ScriptReading, QString> read = readSource(from);
            if (const QString* problem = std::get_if<QString>(&read))
                return failed(QStringList(*problem));
            const ScriptReading& reading = std::get<ScriptReading>(read);
            settings = reading.settings();
            settings.outputPath = from;
            if (!reading.uncarried.isEmpty())
                print(stderr, uncarriedWarning(from == u"-" ? QStringLiteral("Standard input")
                                                            : u'"' + from + u'"',
                                               reading));
        }
        applyOptions(settings);
        if (settings.outputPath == u"-")
            return writeToStandardOutput(settings);
        ConfigScript script;
        if (const Problems problems = createConfig(settings, script); !problems.isEmpty())
            return failed(problems);
        print(stdout, QStringLiteral("Wrote the config file \"%1\".").arg(settings.outputPath));
        return Done;
    }

    // The script at path, or with "-" the one on standard input, where a password stays out
    // of the process list.
    static std::variant<ScriptReading, QString> readSource(const QString& path)
    {
        if (path != u"-")
            return readScriptFile(path);
        QFile input;
        if (!input.open(stdin, QIODevice::ReadOnly))
            return QStringLiteral("Could not read standard input: %1.").arg(input.errorString());
        return readScriptText(QStringLiteral("Standard input"),
                              input.read(ServerScript::kMaxBytes + 1));
    }

    int show(const QString& path) const
    {
        const std::variant<ScriptReading, QString> read = readScriptFile(path);
        if (const QString* problem = std::get_if<QString>(&read))
            return failed(QStringList(*problem));
        const ScriptReading& reading = std::get<ScriptReading>(read);
        const ServerSettings settings = reading.settings();
        for (qsizetype i = 0; i < kScriptSettings; ++i) {
            const SettingOption& option = kSettingOptions[size_t(i)];
            print(stdout, QStringLiteral("--%1=%2").arg(QLatin1String(option.name),
                                                        settings.*option.member));
        }
        if (!reading.uncarried.isEmpty())
            print(stderr, uncarriedWarning(u'"' + path + u'"', reading));
        return Done;
    }

    // Run Config: starts the server and waits for the watch's verdict.
    int start() const
    {
        const SavedPaths saved = loadSavedPaths();
        ServerSettings settings;
        settings.gameDir = saved.gameDir;
        settings.outputPath = saved.outputPath;
        applyOptions(settings);
        // Interrupting the command stops the server it started, once it is started.
        QEventLoop loop;
        bool interrupted = false;
        Console::onInterrupt(&loop, [&] {
            interrupted = true;
            loop.quit();
        });
        const std::variant<int, Problem> number =
            drawScriptNumber(processScriptNumbers(), settings.gameDir, engineHomePath());
        if (const Problem* problem = std::get_if<Problem>(&number))
            return failed(Problems{*problem});
        std::variant<StartedServer, Problem> launched =
            launchServer(settings.gameDir, settings.outputPath, std::get<int>(number));
        if (const Problem* problem = std::get_if<Problem>(&launched))
            return failed(Problems{*problem});
        StartedServer& server = std::get<StartedServer>(launched);
        const QString started = QStringLiteral("Installed \"%1\" and started \"%2\"")
                                    .arg(server.installedPath, server.program);
        ServerProcess& process = *server.process;
        ServerWatch watch(std::move(server));
        Problems problems;
        QObject::connect(&watch, &ServerWatch::finished, &loop, [&](const Problems& seen) {
            problems = seen;
            loop.quit();
        });
        if (!interrupted)
            loop.exec();
        if (interrupted) {
            process.stop();
            print(stderr, QStringLiteral("Interrupted. The tool stopped the new server."));
            return Interrupted;
        }
        if (!problems.isEmpty()) {
            print(stderr, started + u'.');
            return failed(problems);
        }
        print(stdout, started + QStringLiteral("; the server answers as its script sets it."));
        return Done;
    }

    QCommandLineParser m_parser;
    const QCommandLineOption m_help{{"h", "help"}, "Show this help and end."};
    const QCommandLineOption m_version{{"v", "version"}, "Show the program's version and end."};
    const QCommandLineOption m_from{
        "from", "create: start from the settings of SCRIPT, read as the game server reads it.",
        "SCRIPT"};
};

bool isCommand(std::string_view word)
{
    return word == "create" || word == "show" || word == "run";
}

} // namespace

bool wantsCommandLine(int argc, char* argv[])
{
    if (argc < 2)
        return false;
    const std::string_view first = argv[1];
    if (argc > 2 || first.starts_with('-') || isCommand(first))
        return true;
    // A word that names no file is more likely a mistyped command than a script.
    const bool looksLikeAFile = first.find_first_of("./\\") != std::string_view::npos;
    return !looksLikeAFile && !QFileInfo::exists(QFile::decodeName(argv[1]));
}

int runCommandLine(int argc, char* argv[])
{
    g_outputError = Console::attach();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(kProgram);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEX_VERSION));
    const int status = CommandLine().run(QCoreApplication::arguments());
    // Output that did not arrive is a failure, such as to a full disk or a closed pipe.
    if (std::fflush(stdout) != 0 && g_outputError == 0)
        g_outputError = errno;
    if (g_outputError == 0 && std::ferror(stdout))
        g_outputError = EIO;
    if (g_outputError == 0)
        return status;
    print(stderr, QStringLiteral("%1: could not write to standard output: %2.")
                      .arg(kProgram, QString::fromLocal8Bit(std::strerror(g_outputError))));
    return status == Done ? Failed : status;
}
