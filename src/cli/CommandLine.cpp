#include "CommandLine.h"

#include "Console.h"
#include "config/ConfigFile.h"
#include "config/ConfigScript.h"
#include "config/CreateConfig.h"
#include "config/ScriptReader.h"
#include "config/SettingsCheck.h"
#include "launch/LaunchPlan.h"
#include "launch/RunConfig.h"
#include "launch/ScriptNumbers.h"
#include "launch/ServerLaunch.h"
#include "launch/ServerWatch.h"
#include "options/SavedPaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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
                                 "run command again."),
                   QLatin1String("To stop it and start the new one in its place, give run "
                                 "--replace.")});
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
               "  or:  %1 run [--game-dir DIR] [--output FILE] [--replace]\n"
               "  or:  %1 status [--game-dir DIR] [--json]\n"
               "  or:  %1 stop [--game-dir DIR]\n"
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
               "          them. A start that does not answer as its script sets it is\n"
               "          stopped. When a server that this tool started holds the game's\n"
               "          port, run refuses, or with --replace stops it first.\n"
               "  status  Show each server that this tool started and that still runs: its\n"
               "          folder, process, port, start, script, log, and what it answers:\n"
               "          name, map and players. Exit status 1 when none runs or one does\n"
               "          not answer.\n"
               "  stop    Stop each server that this tool started and that still runs, and\n"
               "          wait until it has ended.\n"
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
        m_parser.addOption(m_replace);
        m_parser.addOption(m_json);
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
            allowed << QStringLiteral("game-dir") << QStringLiteral("output") << m_replace.names();
        } else if (command == u"status") {
            allowed << QStringLiteral("game-dir") << m_json.names();
        } else if (command == u"stop") {
            allowed << QStringLiteral("game-dir");
        } else {
            return usageError(
                command.isEmpty()
                    ? QStringLiteral("give a command: create, show, run, status or stop.")
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
        if (command == u"status")
            return status();
        if (command == u"stop")
            return stop();
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
        RunConfig run(settings.gameDir, settings.outputPath,
                      m_parser.isSet(m_replace) ? RunConfig::InTheWay::Replace
                                                : RunConfig::InTheWay::Refuse);
        // Interrupting the command stops the server it started.
        QEventLoop loop;
        std::optional<bool> stoppedOnInterrupt;
        Console::onInterrupt(&loop, [&] {
            stoppedOnInterrupt = run.cancel();
            loop.quit();
        });
        std::optional<int> status;
        QObject::connect(
            &run, &RunConfig::finished, &loop,
            [&](const Problems& problems, const QString& installed, const QString& program) {
                const QString started =
                    QStringLiteral("Installed \"%1\" and started \"%2\"").arg(installed, program);
                if (problems.isEmpty()) {
                    print(stdout, started + QStringLiteral("; the server answers "
                                                           "as its script sets it."));
                    status = Done;
                } else {
                    if (!installed.isEmpty())
                        print(stderr, started + u'.');
                    status = failed(problems);
                }
                loop.quit();
            });
        run.start();
        if (!status && !stoppedOnInterrupt)
            loop.exec();
        if (stoppedOnInterrupt) {
            print(stderr, *stoppedOnInterrupt
                              ? QStringLiteral("Interrupted. The tool stopped the new server.")
                              : QStringLiteral("Interrupted. The tool has no hold on the new "
                                               "server to stop it: stop it yourself."));
            return Interrupted;
        }
        return *status;
    }

    // The servers that the tool started and that still run, from --game-dir alone if given.
    QList<ServerRecord> chosenServers() const
    {
        QList<ServerRecord> servers = StartedServers::live();
        if (m_parser.isSet(QStringLiteral("game-dir"))) {
            const QString chosen =
                QFileInfo(
                    absoluteGameDir(m_parser.value(QStringLiteral("game-dir")), nativePathStyle()))
                    .canonicalFilePath();
            servers.removeIf([&](const ServerRecord& server) {
                return QFileInfo(server.gameDir).canonicalFilePath() != chosen;
            });
        }
        return servers;
    }

    int status() const
    {
        const QList<ServerRecord> servers = chosenServers();
        bool allAnswer = true;
        QJsonArray list;
        QStringList texts;
        for (const ServerRecord& server : servers) {
            const quint16 port = server.currentPort();
            const std::optional<ServerStatus> answer =
                port ? askStatus(port) : std::optional<ServerStatus>();
            allAnswer = allAnswer && answer.has_value();
            QJsonArray players;
            QStringList lines{
                QStringLiteral("Server of process %1, started %2")
                    .arg(server.pid)
                    .arg(server.startedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
                QStringLiteral("  game directory: %1").arg(server.gameDir),
                QStringLiteral("  port: %1")
                    .arg(port ? QStringLiteral("UDP %1").arg(port) : QStringLiteral("unknown")),
                QStringLiteral("  script: %1").arg(server.script)};
            if (!server.log.isEmpty())
                lines << QStringLiteral("  log: %1").arg(server.log);
            if (answer) {
                lines << QStringLiteral("  name: %1").arg(withoutColours(answer->hostname))
                      << QStringLiteral("  map: %1").arg(answer->map)
                      << QStringLiteral("  players: %1 of %2")
                             .arg(answer->players.size())
                             .arg(answer->maxClients);
                for (const ServerStatus::Player& player : answer->players) {
                    lines << QStringLiteral("    %1  score %2  ping %3")
                                 .arg(withoutColours(player.name))
                                 .arg(player.score)
                                 .arg(player.ping);
                    players.append(QJsonObject{
                        {"name", player.name}, {"score", player.score}, {"ping", player.ping}});
                }
            } else {
                lines << QStringLiteral("  answer: none");
            }
            texts << lines.join(u'\n');
            QJsonObject entry{{"gameDir", server.gameDir},
                              {"pid", server.pid},
                              {"port", port ? QJsonValue(port) : QJsonValue()},
                              {"startedAt", server.startedAt.toString(Qt::ISODate)},
                              {"script", server.script},
                              {"log", server.log},
                              {"answering", answer.has_value()}};
            if (answer) {
                entry.insert("hostname", answer->hostname);
                entry.insert("plainHostname", withoutColours(answer->hostname));
                entry.insert("map", answer->map);
                entry.insert("maxClients", answer->maxClients);
                entry.insert("players", players);
            }
            list.append(entry);
        }
        if (m_parser.isSet(m_json))
            print(stdout,
                  QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)).trimmed());
        else if (servers.isEmpty())
            print(stdout, QStringLiteral("No server that this tool started is running."));
        else
            print(stdout, texts.join(QStringLiteral("\n\n")));
        return !servers.isEmpty() && allAnswer ? Done : Failed;
    }

    int stop() const
    {
        const QList<ServerRecord> servers = chosenServers();
        if (servers.isEmpty())
            print(stdout, QStringLiteral("No server that this tool started is running."));
        int status = Done;
        for (const ServerRecord& server : servers) {
            const QString described = server.described(askStatus(server.currentPort(), 500));
            if (const std::optional<Problem> problem = StartedServers::stop(server))
                status = failed(Problems{*problem});
            else
                print(stdout, QStringLiteral("Stopped %1.").arg(described));
        }
        return status;
    }

    QCommandLineParser m_parser;
    const QCommandLineOption m_help{{"h", "help"}, "Show this help and end."};
    const QCommandLineOption m_version{{"v", "version"}, "Show the program's version and end."};
    const QCommandLineOption m_replace{
        "replace", "run: stop the server that this tool started on the game's port first."};
    const QCommandLineOption m_json{"json", "status: print the servers as a JSON array."};
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
