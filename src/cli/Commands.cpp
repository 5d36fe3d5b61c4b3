#include "Commands.h"

#include "Console.h"
#include "Output.h"
#include "config/ConfigFile.h"
#include "config/ConfigScript.h"
#include "config/CreateConfig.h"
#include "config/SettingsCheck.h"
#include "gametree/GameTree.h"
#include "launch/LaunchPlan.h"
#include "launch/RunConfig.h"
#include "launch/ServerLaunch.h"
#include "network/InputConsole.h"
#include "options/SavedPaths.h"
#include "script/ScriptReader.h"
#include "supervision/BootService.h"
#include "supervision/DetachedRun.h"
#include "supervision/Supervisor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <iostream>
#include <string>
#include <thread>
#else
#include <QSocketNotifier>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
// cmd.exe and PowerShell have no common way to continue a line, so each stands alone.
const QString kContinuation = QStringLiteral("\n");

// A value after its option's "=", as CommandLineToArgvW takes it back.
QString shellQuoted(const QString& value)
{
    return value.isEmpty() ? value : windowsArgument(value);
}
#else
const QString kContinuation = QStringLiteral(" \\\n");

// A value after its option's "=", as a POSIX shell takes it back: as it stands where it
// holds only characters that the shell leaves alone, else in single quotes, with each '
// as '\''.
QString shellQuoted(const QString& value)
{
    const auto plain = [](QChar c) {
        return c.unicode() < 0x80 &&
               (c.isLetterOrNumber() || QStringLiteral("@%+=:,./_-").contains(c));
    };
    if (std::all_of(value.begin(), value.end(), plain))
        return value;
    return u'\'' + QString(value).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}
#endif

// Writes bytes to standard output as they are.
int writeBytesToStandardOutput(const QByteArray& bytes, const QString& what)
{
#ifdef Q_OS_WIN
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
        std::fflush(stdout) != 0)
        return failed(QStringList(QStringLiteral("Could not write %1 to standard output: %2.")
                                      .arg(what, QString::fromLocal8Bit(std::strerror(errno)))));
    return Done;
}

// Writes the script to standard output, its line ends as they are.
int writeToStandardOutput(const ServerSettings& settings, const QStringList& rotation)
{
    if (const Problems problems = checkSettings(settings) + checkRotation(rotation);
        !problems.isEmpty())
        return failed(problems);
    ConfigScript script;
    script.build(settings, rotation);
    return writeBytesToStandardOutput(configFileBytes(script.strCfg()),
                                      QStringLiteral("the script"));
}

// The settings options given, over settings.
void applyOptions(const Invocation& invocation, ServerSettings& settings)
{
    for (const SettingsField& field : kSettingsFields) {
        if (invocation.isSet(field.option))
            settings.*field.member = invocation.value(field.option);
    }
}

// The name of a script in messages: its path in quotes, or for "-" standard input.
QString scriptName(const QString& path)
{
    return path == u"-" ? QStringLiteral("Standard input") : u'"' + path + u'"';
}

// The script at path, or with "-" the one on standard input, where a password stays out
// of the process list. Standard input is read to its end, at a terminal until Ctrl+D and
// from a pipe however slowly it comes; only what the server could execute is kept.
std::variant<ScriptReading, QString> readSource(const QString& path)
{
    if (path != u"-")
        return readScriptFile(path);
#ifdef Q_OS_WIN
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    QByteArray bytes;
    std::array<char, 65536> buffer;
    size_t read = buffer.size();
    while (read == buffer.size()) {
        read = std::fread(buffer.data(), 1, buffer.size(), stdin);
        bytes.append(buffer.data(),
                     std::min(qsizetype(read), ServerScript::kMaxBytes + 1 - bytes.size()));
    }
    if (std::ferror(stdin))
        return QStringLiteral("Could not read standard input: %1.")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return readScriptText(scriptName(path), bytes);
}

// The game directory and the config file to run: those of --game-dir and --output, or else
// the ones the window saved.
ServerSettings pathsToRun(const Invocation& invocation)
{
    const SavedPaths saved = loadSavedPaths();
    ServerSettings settings;
    settings.gameDir = saved.gameDir;
    settings.outputPath = saved.outputPath;
    applyOptions(invocation, settings);
    return settings;
}

// The port that --port names, nothing without it, or the status of the usage error.
std::variant<std::optional<quint16>, int> chosenPort(const Invocation& invocation)
{
    if (!invocation.isSet("port"))
        return std::nullopt;
    // Digits alone, as a shell script gives them, with no sign, space or leading 0.
    static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{3,4}$"));
    const uint port = invocation.value("port").toUInt();
    if (!digits.match(invocation.value("port")).hasMatch() || port < 1024 || port > 65535)
        return usageError(QStringLiteral("--port takes a UDP port from 1024 to 65535, such as "
                                         "27961, not '%1'.")
                              .arg(invocation.value("port")));
    return std::optional<quint16>(quint16(port));
}

// The servers that the tool started and that still run, of --game-dir and on --port alone
// where given; or the status that the command ends with, where those name no folder or port
// or the records cannot be trusted, the reason printed.
std::variant<QList<ServerRecord>, int> chosenServers(const Invocation& invocation)
{
    const std::variant<std::optional<quint16>, int> port = chosenPort(invocation);
    if (const int* status = std::get_if<int>(&port))
        return *status;
    if (const std::optional<QString> narrowed = StartedServers::narrowFolders())
        print(stderr, *narrowed);
    const std::variant<QList<ServerRecord>, Problem> servers = StartedServers::chosen(
        invocation.isSet("game-dir")
            ? std::optional(absoluteGameDir(invocation.value("game-dir"), nativePathStyle()))
            : std::nullopt,
        std::get<std::optional<quint16>>(port));
    if (const Problem* problem = std::get_if<Problem>(&servers))
        return failed(Problems{*problem});
    return std::get<QList<ServerRecord>>(servers);
}

// The supervisions that keep servers up, of --game-dir and on --port where given, which
// chosenServers has found sound.
QList<Supervision> chosenSupervisions(const Invocation& invocation)
{
    return Supervisions::running(
        invocation.isSet("game-dir")
            ? std::optional(absoluteGameDir(invocation.value("game-dir"), nativePathStyle()))
            : std::nullopt,
        invocation.isSet("port") ? std::optional(quint16(invocation.value("port").toUInt()))
                                 : std::nullopt);
}

// That no server of the tool's runs, of the game directory and on the port chosen.
QString noServerRunning(const Invocation& invocation)
{
    return QStringLiteral("No server that this tool started is running%1%2.")
        .arg(invocation.isSet("game-dir") ? QStringLiteral(" in that game directory") : QString(),
             invocation.isSet("port") ? QStringLiteral(" on that port") : QString());
}

// The one server that a command talks to: the one of --game-dir, or the only one running;
// else the status the command ends with, the reason printed.
std::variant<ServerRecord, int> oneServer(const Invocation& invocation)
{
    const std::variant<QList<ServerRecord>, int> chosen = chosenServers(invocation);
    if (const int* status = std::get_if<int>(&chosen))
        return *status;
    const QList<ServerRecord>& servers = std::get<QList<ServerRecord>>(chosen);
    if (servers.size() == 1)
        return servers[0];
    if (servers.isEmpty()) {
        print(stderr, noServerRunning(invocation));
        return NotRunning;
    }
    QStringList lines{QStringLiteral("%1 servers that this tool started are running; give "
                                     "--game-dir and --port to choose one:")
                          .arg(servers.size())};
    for (const ServerRecord& server : servers)
        lines << QStringLiteral("  --game-dir %1 --port %2: %3")
                     .arg(shellQuoted(server.gameDir))
                     .arg(server.knownPort())
                     .arg(server.described(askStatus(server.currentPort(), 500)));
    return failed(QStringList(lines.join(u'\n')));
}

} // namespace

int createCommand(const Invocation& invocation)
{
    // Only a file named on the command line is written: the one given, or the script
    // read, as opening a script in the window makes it the one to write.
    const QString from = invocation.value("from");
    const bool toOutput = invocation.isSet("output");
    if (!toOutput && (!invocation.isSet("from") || from == u"-"))
        return usageError(QStringLiteral("create needs --output FILE, the file to write, or "
                                         "--from SCRIPT to rewrite that script; nothing "
                                         "was written."),
                          findCommand("create"));
    ServerSettings settings = designSettings();
    std::optional<OpenedScript> source;
    if (invocation.isSet("from")) {
        std::variant<ScriptReading, QString> read = readSource(from);
        if (const QString* problem = std::get_if<QString>(&read))
            return failed(QStringList(*problem));
        source = OpenedScript{std::get<ScriptReading>(std::move(read)), {}};
        source->shown = source->reading.settings();
        settings = source->shown;
        settings.outputPath = from;
    }
    applyOptions(invocation, settings);
    std::optional<QStringList> rotation;
    const QStringList givenRotation = invocation.value("rotation").isEmpty()
                                          ? QStringList()
                                          : invocation.value("rotation").split(u',');
    // The rotation that show prints is the script's, as it stands.
    const bool sameRotation = source && givenRotation == source->reading.rotation;
    if (invocation.isSet("rotation") && !sameRotation) {
        if (source && !source->reading.rotationLines.isEmpty()) {
            QStringList lines;
            for (const int line : source->reading.rotationLines)
                lines << QString::number(line);
            return failed(QStringList(
                QStringLiteral("--rotation: %1 plays a rotation of its own, on lines %2, which "
                               "is kept as it stands; remove those lines to give the rotation "
                               "here, or leave out --rotation.")
                    .arg(scriptName(from), lines.join(QStringLiteral(", ")))));
        }
        rotation = givenRotation;
    }
    // The script is edited where the output is the script itself, by whatever path or link;
    // another file gets a script of the tool's own, with the script's rotation.
    const std::optional<QByteArray> output =
        settings.outputPath == u"-" ? std::nullopt : fileIdentity(settings.outputPath);
    const bool back = from == u"-" || (source && output && output == fileIdentity(from));
    if (source && !source->reading.uncarried.isEmpty())
        print(stderr, uncarriedWarning(scriptName(from), source->reading,
                                       back ? Keeping::Kept : Keeping::WrittenElsewhere));
    if (!back) {
        const QStringList maps = invocation.isSet("rotation") ? givenRotation
                                 : source && source->reading.places.rotation
                                     ? source->reading.places.rotation->maps
                                     : QStringList();
        if (settings.outputPath == u"-")
            return writeToStandardOutput(settings, maps);
        ConfigScript script;
        if (const Problems problems = createConfig(settings, script, maps); !problems.isEmpty())
            return failed(problems);
        print(stdout, QStringLiteral("Wrote the config file \"%1\".").arg(settings.outputPath));
        return Done;
    }
    const WriteBack written = writeBack(settings, *source, rotation, settings.outputPath != u"-");
    for (const Problem& problem : written.unchanged)
        print(stderr, worded(problem, findCommand("create")) +
                          QStringLiteral(" It is left as the script has it, since it was not "
                                         "given here."));
    for (const QString& notice : written.notices)
        print(stderr, notice);
    if (!written.problems.isEmpty())
        return failed(written.problems);
    if (settings.outputPath == u"-")
        return writeBytesToStandardOutput(written.text, QStringLiteral("the script"));
    print(stdout, QStringLiteral("Wrote the config file \"%1\".").arg(settings.outputPath));
    return Done;
}

int showCommand(const Invocation& invocation)
{
    const QString path = invocation.arguments.value(0);
    const std::variant<ScriptReading, QString> read = readSource(path);
    if (const QString* problem = std::get_if<QString>(&read))
        return failed(QStringList(*problem));
    const ScriptReading& reading = std::get<ScriptReading>(read);
    const ServerSettings settings = reading.settings();
    if (invocation.isSet("json")) {
        QJsonObject json;
        for (const SettingsField& field : std::span(kSettingsFields).first(kScriptSettings))
            json.insert(QLatin1String(field.option), settings.*field.member);
        QJsonArray uncarried;
        for (const ScriptLine& line : reading.uncarried)
            uncarried.append(QJsonObject{{"line", line.line}, {"text", line.text}});
        json.insert("uncarried", uncarried);
        json.insert("rotation", QJsonArray::fromStringList(reading.rotation));
        print(stdout, QString::fromUtf8(QJsonDocument(json).toJson()).trimmed());
        return Done;
    }
    // One option a line, each line but the last continued, so that the whole is one
    // command line to the shell.
    QStringList lines;
    for (const SettingsField& field : std::span(kSettingsFields).first(kScriptSettings))
        lines << QStringLiteral("--%1=").arg(QLatin1String(field.option)) +
                     shellQuoted(settings.*field.member);
    if (!reading.rotation.isEmpty())
        lines << QStringLiteral("--rotation=") + shellQuoted(reading.rotation.join(u','));
    print(stdout, lines.join(kContinuation));
    if (const std::optional<QString> notice = rotationNotice(reading))
        print(stderr, *notice);
    if (const std::optional<QString> notice = latchedNotice(reading))
        print(stderr, *notice);
    if (!reading.map)
        print(stderr, QStringLiteral("The script loads no map: %1.").arg(reading.noMap));
    if (!reading.uncarried.isEmpty())
        print(stderr, uncarriedWarning(scriptName(path), reading, Keeping::Shown));
    return Done;
}

int mapsCommand(const Invocation& invocation)
{
    const QString typed =
        invocation.isSet("game-dir") ? invocation.value("game-dir") : loadSavedPaths().gameDir;
    const auto refuse = [](const QString& text) {
        return failed(Problems{{&ServerSettings::gameDir, text}});
    };
    if (!isTypedPath(typed, kGameDirPlaceholder))
        return refuse(QStringLiteral("give the folder where Quake III Arena is installed."));
    const QString gameDir = absoluteGameDir(typed, nativePathStyle());
    if (!QFileInfo(gameDir).isDir())
        return refuse(QStringLiteral("\"%1\" is no folder; give the folder where Quake III "
                                     "Arena is installed.")
                          .arg(gameDir));
    const std::variant<std::optional<quint16>, int> port = chosenPort(invocation);
    if (const int* status = std::get_if<int>(&port))
        return *status;
    const GameTree tree(gameDir,
                        homePathOf(std::get<std::optional<quint16>>(port).value_or(kServerPort))
                            .value_or(QString()));
    if (!tree.isGameTree())
        return refuse(QStringLiteral("\"%1\" is no game tree: it has neither an arena nor a "
                                     "baseq3 folder. Give the folder where Quake III Arena is "
                                     "installed.")
                          .arg(gameDir));
    const QList<GameTree::Map> maps = tree.maps();
    const QList<GameTree::PassedOver> passedOver = tree.passedOver();
    if (invocation.isSet("json")) {
        QJsonArray list;
        for (const GameTree::Map& map : maps)
            list.append(QJsonObject{{"name", map.name},
                                    {"source", map.found.source},
                                    {"downloadable", map.found.inPack}});
        QJsonArray skipped;
        for (const GameTree::PassedOver& file : passedOver)
            skipped.append(QJsonObject{{"file", file.file}, {"reason", file.reason}});
        print(stdout,
              QString::fromUtf8(QJsonDocument(QJsonObject{{"maps", list}, {"skipped", skipped}})
                                    .toJson(QJsonDocument::Indented))
                  .trimmed());
    } else {
        qsizetype width = 0;
        for (const GameTree::Map& map : maps)
            width = std::max(width, map.name.size());
        for (const GameTree::Map& map : maps)
            print(stdout, map.name.leftJustified(width + 2) + map.found.source +
                              (map.found.inPack ? QString()
                                                : QStringLiteral(" (a loose file, which "
                                                                 "clients cannot download)")));
    }
    for (const GameTree::PassedOver& file : passedOver)
        print(stderr,
              QStringLiteral("The server passes over \"%1\": %2.").arg(file.file, file.reason));
    if (maps.isEmpty()) {
        print(stderr, QStringLiteral("\"%1\" holds no map that the server can load.").arg(gameDir));
        return Failed;
    }
    return Done;
}

// Run Config: starts the server and waits for the watch's verdict.
namespace {
int waitForServer(const Invocation& invocation, std::unique_ptr<RunConfig> run,
                  RestartPolicy policy, bool showsLog, const std::optional<int>& interruptedSince);

// When --restart has the server started again; without it, as the server that --replace
// replaces has it, so that a replace keeps it; or the status of the usage error.
std::variant<RestartPolicy, int> chosenRestart(const Invocation& invocation, quint16 port)
{
    if (invocation.isSet("restart")) {
        if (const std::optional<RestartPolicy> policy =
                restartPolicyOf(invocation.value("restart")))
            return *policy;
        return usageError(QStringLiteral("--restart takes no, on-failure or always, as "
                                         "systemd's Restart= does, not '%1'.")
                              .arg(invocation.value("restart")),
                          findCommand(QStringLiteral("run")));
    }
    // Whether the server that it keeps up runs or is down for now.
    const QList<Supervision> kept = invocation.isSet("replace")
                                        ? Supervisions::running(std::nullopt, port)
                                        : QList<Supervision>();
    return kept.isEmpty() ? RestartPolicy::No : kept[0].policy;
}

// A run that restarts its server, without --wait: the tool's own process that keeps the
// server up, this program's run --wait detached, starts it and stays its parent. This run
// passes on what it says of the start, an interruption, and the status it reports.
int runKeptUp(const Invocation& invocation, const ServerSettings& settings,
              std::optional<quint16> port, RestartPolicy policy)
{
    // By their absolute paths, as it works from the root folder, so as to hold no other.
    QStringList arguments{QStringLiteral("run"),
                          QStringLiteral("--wait"),
                          QStringLiteral("--restart"),
                          restartWord(policy),
                          QStringLiteral("--game-dir"),
                          QDir::cleanPath(absoluteGameDir(settings.gameDir, nativePathStyle())),
                          QStringLiteral("--output"),
                          QFileInfo(settings.outputPath).absoluteFilePath()};
    if (port)
        arguments << QStringLiteral("--port") << QString::number(*port);
    for (const char* option : {"replace", "fresh"}) {
        if (invocation.isSet(option))
            arguments << QStringLiteral("--") + QLatin1String(option);
    }
    std::variant<DetachedRun, QString> started = startDetachedRun(arguments);
    if (const QString* problem = std::get_if<QString>(&started))
        return failed(QStringList(QStringLiteral("Could not start the tool's process that keeps "
                                                 "the server up: %1. Nothing was started.")
                                      .arg(*problem)));
    DetachedRun& run = std::get<DetachedRun>(started);
    QEventLoop loop;
    std::optional<int> status;
    std::optional<int> interrupted;
    // It stops what it has started, and reports. On Windows, where it has no console to be
    // interrupted through, its start goes on, and then its supervision ends.
    Console::onInterrupt(&loop, [&](int signalled) {
        interrupted = signalled;
#ifndef Q_OS_WIN
        endProcess(run.pid, false);
#endif
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if ((status = run.outcome()))
            loop.quit();
    });
    poll.start(50);
    loop.exec();
#ifdef Q_OS_WIN
    if (interrupted && *status == Done) {
        for (const Supervision& supervision : Supervisions::running()) {
            if (supervision.pid != run.pid)
                continue;
            const std::optional<Problem> problem = Supervisions::end(supervision);
            print(stderr, QStringLiteral("Interrupted. ") +
                              (problem ? problem->text
                                       : QStringLiteral("The tool stopped the new server.")));
        }
        return *interrupted;
    }
#endif
    return interrupted && *status != Done ? *interrupted : *status;
}

} // namespace

int runCommand(const Invocation& invocation)
{
    takeStartReport();
    const bool detached = reportsStart();
#ifndef Q_OS_WIN
    // An output that is gone fails its write, rather than end the run before its report.
    if (detached)
        std::signal(SIGPIPE, SIG_IGN);
#endif
    const ServerSettings settings = pathsToRun(invocation);
    const std::variant<std::optional<quint16>, int> port = chosenPort(invocation);
    if (const int* status = std::get_if<int>(&port))
        return *status;
    const std::optional<quint16> chosen = std::get<std::optional<quint16>>(port);
    const std::variant<RestartPolicy, int> restart =
        chosenRestart(invocation, chosen.value_or(kServerPort));
    if (const int* status = std::get_if<int>(&restart))
        return *status;
    const RestartPolicy policy = std::get<RestartPolicy>(restart);
    if (policy != RestartPolicy::No && !invocation.isSet("wait"))
        return runKeptUp(invocation, settings, chosen, policy);
    auto run = std::make_unique<RunConfig>(
        settings.gameDir, settings.outputPath,
        invocation.isSet("fresh") ? Archived::Left : Archived::Kept, chosen);
    // Interrupting the command stops the server it started, once a replace has brought back
    // the server it stopped; interrupting it again ends it at once.
    QEventLoop loop;
    std::optional<QString> interrupted;
    std::optional<int> interruptedStatus;
    std::optional<int> status;
    // An interruption once the start has ended is for the wait, if any.
    std::optional<int> interruptedSince;
    Console::onInterrupt(&loop, [&](int signalled) {
        if (status)
            interruptedSince = signalled;
        if (status || interrupted)
            return;
        interruptedStatus = interruptedStatus.value_or(signalled);
        interrupted = run->cancel();
        if (interrupted)
            loop.quit();
        else if (!status)
            print(stderr, QStringLiteral("Interrupted. The server that the new one was to "
                                         "replace is started again first; interrupt once more "
                                         "to end at once."));
    });
    QObject::connect(run.get(), &RunConfig::notice, &loop,
                     [](const QString& text) { print(stderr, text); });
    QObject::connect(run.get(), &RunConfig::stoppedInTheWay, &loop, [](const QString& described) {
        print(stdout, QStringLiteral("Stopped %1.").arg(described));
    });
    QObject::connect(
        run.get(), &RunConfig::finished, &loop,
        [&](const Problems& problems, const QString& installed, const QString& program) {
            const QString started =
                QStringLiteral("Installed the config file \"%1\" as \"%2\" and started \"%3\"")
                    .arg(settings.outputPath, installed, program);
            if (problems.isEmpty()) {
                print(stdout, started + QStringLiteral("; the server answers "
                                                       "as its script sets it."));
                status = Done;
            } else {
                if (!installed.isEmpty())
                    print(stderr, started + u'.');
                status = failed(problems, findCommand("run"));
            }
            if (interruptedStatus)
                status = *interruptedStatus;
            loop.quit();
        });
    run->start(invocation.isSet("replace") ? RunConfig::InTheWay::Replace
                                           : RunConfig::InTheWay::Refuse);
    if (!status && !interrupted)
        loop.exec();
    if (interrupted) {
        print(stderr, QStringLiteral("Interrupted. ") + *interrupted);
        reportStart(*interruptedStatus);
        return *interruptedStatus;
    }
    if (*status == Done && policy != RestartPolicy::No)
        print(stdout, QStringLiteral("The tool's process %1 stays with it and starts it again "
                                     "%2; stop ends both.")
                          .arg(QCoreApplication::applicationPid())
                          .arg(policy == RestartPolicy::Always ? QStringLiteral("whenever it ends")
                                                               : QStringLiteral("when it fails")));
    reportStart(*status);
    if (*status == Done && invocation.isSet("wait"))
        return waitForServer(invocation, std::move(run), policy, !detached, interruptedSince);
    return *status;
}

namespace {

// Says how to start the unit now and at boot, or with enable has systemd do it.
int startService(const BootService& service, bool enable)
{
#ifndef Q_OS_WIN
    if (geteuid() == 0)
        print(stderr, QStringLiteral("This is root's own user unit. On a server, a system unit "
                                     "in /etc/systemd/system with User= naming the account the "
                                     "game server runs as is the usual choice: service --print "
                                     "gives the unit to start from."));
#endif
    const std::optional<QString> problem =
        enable ? enableBootService(service) : std::optional<QString>();
    if (!enable || problem) {
        print(stdout, QStringLiteral("To start it now and at every boot:\n  ") +
                          startSteps(service).join(QStringLiteral("\n  ")));
        return enable ? failed(QStringList(*problem + QStringLiteral(" The %1 was not "
                                                                     "enabled.")
                                                          .arg(service.what)))
                      : Done;
    }
#ifdef Q_OS_WIN
    print(stdout, QStringLiteral("Task Scheduler holds the task %1, and starts the server at "
                                 "every start-up of Windows; schtasks /Run /TN %1 starts it now.")
                      .arg(service.name));
#else
    print(stdout, QStringLiteral("systemd has enabled and started %1, and starts it at every "
                                 "boot; journalctl --user -u %1 shows its lines.")
                      .arg(service.name));
#endif
    return Done;
}

int removeService(quint16 port)
{
    const std::variant<Removal, QString> removal = removeBootService(port);
    if (const QString* problem = std::get_if<QString>(&removal))
        return failed(QStringList(*problem));
    const auto [removed, throughSystemd] = std::get<Removal>(removal);
#ifdef Q_OS_WIN
    print(stdout, (!removed ? QStringLiteral("There is no task definition quorvex-%1 of yours.")
                   : throughSystemd
                       ? QStringLiteral("Task Scheduler deleted the task quorvex-%1, and its "
                                        "definition was removed; a server that it started runs "
                                        "on until stop --port %1.")
                       : QStringLiteral("Removed the definition of quorvex-%1, which Task "
                                        "Scheduler did not hold."))
                      .arg(port));
#else
    print(stdout, (!removed         ? QStringLiteral("There is no unit quorvex-%1 of yours.")
                   : throughSystemd ? QStringLiteral("Stopped, disabled and removed quorvex-%1.")
                                    : QStringLiteral("Removed quorvex-%1; no service manager of "
                                                     "yours answers, so none was running it."))
                      .arg(port));
#endif
    return Done;
}

} // namespace

int serviceCommand(const Invocation& invocation)
{
    const std::variant<std::optional<quint16>, int> chosen = chosenPort(invocation);
    if (const int* status = std::get_if<int>(&chosen))
        return *status;
    const quint16 port = std::get<std::optional<quint16>>(chosen).value_or(kServerPort);
    if (int(invocation.isSet("print")) + invocation.isSet("enable") + invocation.isSet("remove") >
        1)
        return usageError(QStringLiteral("service takes one of --print, --enable and --remove."),
                          findCommand("service"));
    if (invocation.isSet("remove"))
        return removeService(port);
    const ServerSettings settings = pathsToRun(invocation);
    const std::variant<BootService, Problems> service = bootService(
        QCoreApplication::applicationFilePath(), settings.gameDir, settings.outputPath, port);
    if (const Problems* problems = std::get_if<Problems>(&service))
        return failed(*problems, findCommand("service"));
    const BootService& unit = std::get<BootService>(service);
#ifdef Q_OS_WIN
    // Shown as text, in the console's characters, rather than as the file's UTF-16.
    if (invocation.isSet("print")) {
        print(stdout, QString::fromUtf16(reinterpret_cast<const char16_t*>(unit.unit.constData()),
                                         unit.unit.size() / 2)
                          .mid(1)
                          .remove(u'\r'));
        return Done;
    }
#else
    if (invocation.isSet("print"))
        return writeBytesToStandardOutput(unit.unit, QStringLiteral("the unit"));
#endif
    const std::variant<bool, QString> written = writeBootService(unit);
    if (const QString* problem = std::get_if<QString>(&written))
        return failed(QStringList(*problem));
    print(stdout, (std::get<bool>(written) ? QStringLiteral("The %1 \"%2\" is written already.")
                                           : QStringLiteral("Wrote the %1 \"%2\"."))
                      .arg(unit.what, unit.unitPath));
    return startService(unit, invocation.isSet("enable"));
}

int statusCommand(const Invocation& invocation)
{
    const std::variant<QList<ServerRecord>, int> chosen = chosenServers(invocation);
    if (const int* status = std::get_if<int>(&chosen))
        return *status;
    const QList<ServerRecord>& servers = std::get<QList<ServerRecord>>(chosen);
    const QList<Supervision> supervisions = chosenSupervisions(invocation);
    const QStringList ended = StartedServers::takeEnded();
    for (const QString& text : ended)
        print(stderr, text);
    bool allWell = ended.isEmpty();
    QJsonArray list;
    QStringList texts;
    // Each port as the system gives it once, so that the answer shown is the one asked for.
    QList<quint16> ports;
    // While its start is watched, the port that it was started on.
    for (const ServerRecord& server : servers)
        ports << (server.currentPort() ? server.currentPort() : server.startPort);
    QList<quint16> known = ports;
    known.removeAll(0);
    const QHash<quint16, ServerStatus> answers = askStatuses(known);
    for (qsizetype i = 0; i < servers.size(); ++i) {
        const ServerRecord& server = servers[i];
        const quint16 port = ports[i];
        const std::optional<ServerStatus> answer =
            answers.contains(port) ? std::optional(answers[port]) : std::nullopt;
        allWell = allWell && answer.has_value();
        QStringList lines{
            QStringLiteral("Server of process %1, started %2")
                .arg(server.pid)
                .arg(server.startedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
            QStringLiteral("  game directory: %1").arg(server.gameDir),
            QStringLiteral("  port: %1")
                .arg(port ? QStringLiteral("UDP %1").arg(port) : QStringLiteral("unknown")),
            QStringLiteral("  script: %1").arg(server.script)};
        const bool changed = server.configChanged();
        if (!server.configFile.isEmpty())
            lines << QStringLiteral("  config file: %1%2")
                         .arg(QDir::toNativeSeparators(server.configFile),
                              changed ? QStringLiteral(" (changed since the server started, so "
                                                       "the server no longer runs what it says)")
                                      : QString());
        if (!server.log.isEmpty())
            lines << QStringLiteral("  log: %1").arg(server.log);
        if (!server.home.isEmpty())
            lines << QStringLiteral("  home path: %1").arg(server.home);
        if (answer) {
            lines << QStringLiteral("  name: %1").arg(withoutColours(answer->hostname))
                  << QStringLiteral("  map: %1").arg(answer->map)
                  << QStringLiteral("  players: %1 of %2")
                         .arg(answer->players.size())
                         .arg(answer->maxClients);
            for (const ServerStatus::Player& player : answer->players)
                lines << QStringLiteral("    %1  score %2  ping %3")
                             .arg(withoutColours(player.name))
                             .arg(player.score)
                             .arg(player.ping);
        } else {
            lines << QStringLiteral("  answer: none");
        }
        QJsonObject entry = server.statusJson(port, answer);
        for (const Supervision& supervision : supervisions) {
            if (supervision.keepsOrStarts(server)) {
                lines << supervision.described();
                entry.insert("restart", supervision.json());
            }
        }
        texts << lines.join(u'\n');
        list.append(entry);
    }
    // A server that is down while the tool waits to start it again.
    for (const Supervision& supervision : supervisions) {
        // Its restart, whose start is watched, is among the servers already.
        if (supervision.serverPid != 0 ||
            std::ranges::any_of(servers, [&](const ServerRecord& server) {
                return supervision.keepsOrStarts(server);
            }))
            continue;
        allWell = false;
        texts << (QStringList{QStringLiteral("Server of \"%1\" on UDP port %2, down")
                                  .arg(supervision.gameDir)
                                  .arg(supervision.port)} +
                  supervision.described())
                     .join(u'\n');
        list.append(QJsonObject{{"gameDir", supervision.gameDir},
                                {"pid", QJsonValue()},
                                {"port", supervision.port},
                                {"answering", false},
                                {"restart", supervision.json()}});
    }
    if (invocation.isSet("json"))
        print(stdout,
              QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)).trimmed());
    else if (texts.isEmpty())
        print(stdout, noServerRunning(invocation));
    else
        print(stdout, texts.join(QStringLiteral("\n\n")));
    // As systemctl status and LSB's status actions: 3 when nothing runs.
    return !allWell ? Failed : texts.isEmpty() ? NotRunning : Done;
}

namespace {

// Stops the server as stop does, and says so on stream, or why not; the status to end with.
int stopAndSay(const ServerRecord& server, FILE* stream)
{
    const QString described = server.described(askStatus(server.currentPort(), 500));
    if (const std::optional<Problem> problem = StartedServers::stop(server))
        return failed(Problems{*problem});
    print(stream, QStringLiteral("Stopped %1.").arg(described));
    return Done;
}

} // namespace

int stopCommand(const Invocation& invocation)
{
    const std::variant<QList<ServerRecord>, int> chosen = chosenServers(invocation);
    if (const int* status = std::get_if<int>(&chosen))
        return *status;
    const QList<ServerRecord>& servers = std::get<QList<ServerRecord>>(chosen);
    const QList<Supervision> supervisions = chosenSupervisions(invocation);
    if (servers.isEmpty() && supervisions.isEmpty())
        print(stdout, noServerRunning(invocation));
    int status = Done;
    // What keeps a server up ends first, stopping it, so that no restart follows the stop.
    // The servers dealt with so: stopped, or left running as what keeps them up did not end.
    QStringList handled;
    for (const Supervision& supervision : supervisions) {
        // Its server, or the restart whose start it watches.
        const auto kept = std::ranges::find_if(
            servers, [&](const ServerRecord& server) { return supervision.keepsOrStarts(server); });
        const QString described = kept != servers.end()
                                      ? kept->described(askStatus(kept->currentPort(), 500))
                                      : QString();
        if (const std::optional<Problem> problem = Supervisions::end(supervision)) {
            // Stopped while that process goes on, its server would be started again.
            QString text = problem->text;
            if (kept != servers.end()) {
                text += QStringLiteral(" The tool left the server that it keeps up as it was, "
                                       "as that process would start it again; try stop again.");
                handled << kept->mark;
            }
            status = failed(Problems{{nullptr, text}});
            continue;
        }
        const bool gone =
            kept == servers.end() ||
            std::ranges::none_of(StartedServers::live(), [&](const ServerRecord& server) {
                return server.pid == kept->pid && server.identity == kept->identity;
            });
        if (kept == servers.end())
            print(stdout, QStringLiteral("Ended the tool's process %1, which was to start the "
                                         "server of \"%2\" on UDP port %3 again.")
                              .arg(supervision.pid)
                              .arg(supervision.gameDir)
                              .arg(supervision.port));
        else if (gone && !udpPortTaken(kept->knownPort())) {
            print(stdout, QStringLiteral("Stopped %1, and the tool's process %2 that restarted it.")
                              .arg(described)
                              .arg(supervision.pid));
            handled << kept->mark;
        }
    }
    for (const ServerRecord& server : servers) {
        if (!handled.contains(server.mark) && stopAndSay(server, stdout) != Done)
            status = Failed;
    }
    return status;
}

namespace {

// Whether the server's text keeps its colours on standard output: --color's choice, else
// where that is a terminal and NO_COLOR is not set; nothing where --color names no choice.
std::optional<bool> coloursWanted(const Invocation& invocation)
{
    const QString when = invocation.isSet("color") ? invocation.value("color") : "auto";
    if (when == u"always" || when == u"never")
        return when == u"always";
    if (when != u"auto")
        return std::nullopt;
#ifdef Q_OS_WIN
    return false; // a console shows escape sequences only when asked to
#else
    return qEnvironmentVariable("NO_COLOR").isEmpty() && isatty(STDOUT_FILENO);
#endif
}

// The server's text for standard output, its colour codes as coloursWanted says, and the
// secrets masked.
QString shown(const Invocation& invocation, const QString& text, const QStringList& secrets = {})
{
    const QString masked = ServerConsole::masked(text, secrets);
    return coloursWanted(invocation).value_or(false) ? withAnsiColours(masked)
                                                     : withoutColours(masked);
}

int wrongColour(const Invocation& invocation)
{
    return usageError(QStringLiteral("--color takes auto, always or never, not '%1'.")
                          .arg(invocation.value("color")));
}

// A server that a command talks to, and the way in.
struct Talk : ServerLine {
    ServerRecord server;
};

// The server that the command talks to, or the status to end with, the reason printed.
std::variant<Talk, int> talkTo(const Invocation& invocation)
{
    if (!coloursWanted(invocation))
        return wrongColour(invocation);
    const std::variant<ServerRecord, int> chosen = oneServer(invocation);
    if (const int* status = std::get_if<int>(&chosen))
        return *status;
    std::variant<ServerLine, QString> line = serverLine(std::get<ServerRecord>(chosen));
    if (const QString* problem = std::get_if<QString>(&line))
        return failed(QStringList(*problem));
    return Talk{std::move(std::get<ServerLine>(line)), std::get<ServerRecord>(chosen)};
}

// Runs the console command on the server once it passes the check: its reply, colour codes
// kept; or the status to end with, the reason printed.
std::variant<QString, int> ask(Talk& talk, const QByteArray& given)
{
    const QByteArray command = ServerConsole::asTheEngineReads(given);
    if (const std::optional<QString> problem = consoleCommandProblem(talk.server, command))
        return failed(QStringList(*problem));
    const ServerConsole::Reply reply = talk.console->run(command);
    const int seconds = InputConsole::kReplyMs / 1000;
    switch (reply.kind) {
    case ServerConsole::Reply::Kind::Answered:
        return QString::fromUtf8(reply.text);
    case ServerConsole::Reply::Kind::Unfit:
        return failed(QStringList(
            QStringLiteral("The server's console input takes one command of at most %1 bytes, "
                           "and a semicolon or /* outside quotes would end it there. Give the "
                           "command shorter, or quote the words that hold them. It was not "
                           "sent.")
                .arg(InputConsole::kLongest)));
    case ServerConsole::Reply::Kind::Unwritten:
        return failed(QStringList(
            QStringLiteral("Nothing was written to the server's console input: an earlier "
                           "command still waits there unread, or the server no longer reads it. "
                           "Give status to see whether it runs and answers; stop or run "
                           "--replace ends a server that hangs.")));
    case ServerConsole::Reply::Kind::Lost:
        if (talk.throughInput)
            return failed(QStringList(
                QStringLiteral("The server read the command from its console input, but had "
                               "not finished it %1 seconds later. See log for what it did.")
                    .arg(seconds)));
        return failed(QStringList(
            QStringLiteral(
                "The server on UDP port %1 is there, but its answer to the command was lost, and "
                "the command may or may not have run. It was not sent again, so that it never "
                "runs twice; see log or players before giving it again.")
                .arg(talk.server.currentPort())));
    case ServerConsole::Reply::Kind::BadPassword:
        return failed(QStringList(
            QStringLiteral(
                "The server refused the remote console password of its script %1: it holds "
                "another, set after its start. Nothing was retried, since the server takes few "
                "wrong passwords a second. Start it again from its script with run --replace.")
                .arg(talk.server.script)));
    case ServerConsole::Reply::Kind::NoPassword:
        return failed(QStringList(
            QStringLiteral(
                "The server holds no remote console password, though its script %1 sets one, so "
                "it takes no command. Start it again from its script with run --replace.")
                .arg(talk.server.script)));
    case ServerConsole::Reply::Kind::NoAnswer:
        break;
    }
    if (talk.throughInput)
        return failed(QStringList(
            QStringLiteral("The server has not read the command from its console input in %1 "
                           "seconds. The command waits there and runs if the server reads on; "
                           "until then no other is written. Give status to see whether it "
                           "answers.")
                .arg(seconds)));
    return failed(QStringList(QStringLiteral("The server on UDP port %1 did not answer the "
                                             "command, nor an echo asked once more. Give "
                                             "status to see whether it runs.")
                                  .arg(talk.server.currentPort())));
}

// The words as one console line, or why the console cannot take them.
std::variant<QByteArray, int> wordsAsLine(const Invocation& invocation)
{
    const QString joined = invocation.arguments.join(u' ');
    if (joined.contains(u'"') || joined.contains(u'\n') || joined.contains(u'\r'))
        return failed(QStringList(
            QStringLiteral("The words hold a double quote or a line end, which the server's "
                           "console cannot take inside a word. Give them without.")));
    return ServerConsole::lineOf(invocation.arguments);
}

// The clients that the server lists, or the status to end with, the reason printed.
std::variant<ConsoleStatus, int> askClients(Talk& talk)
{
    std::variant<QString, int> reply = ask(talk, "status");
    if (const int* status = std::get_if<int>(&reply))
        return *status;
    if (std::optional<ConsoleStatus> clients =
            parseConsoleStatus(std::get<QString>(reply).toUtf8()))
        return *clients;
    return failed(QStringList(QStringLiteral("The server's reply to status is of no form that "
                                             "the tool reads:\n%1")
                                  .arg(withoutColours(std::get<QString>(reply)).trimmed())));
}

} // namespace

namespace {

// Sends the words as one console line, after prefix, and prints the server's reply.
int sendWords(const Invocation& invocation, const QByteArray& prefix)
{
    const std::variant<QByteArray, int> line = wordsAsLine(invocation);
    if (const int* status = std::get_if<int>(&line))
        return *status;
    std::variant<Talk, int> talk = talkTo(invocation);
    if (const int* status = std::get_if<int>(&talk))
        return *status;
    const std::variant<QString, int> reply =
        ask(std::get<Talk>(talk), prefix + std::get<QByteArray>(line));
    if (const int* status = std::get_if<int>(&reply))
        return *status;
    return writeBytesToStandardOutput(
        shown(invocation, std::get<QString>(reply), std::get<Talk>(talk).secrets).toUtf8(),
        QStringLiteral("the server's reply"));
}

} // namespace

int rconCommand(const Invocation& invocation)
{
    return sendWords(invocation, {});
}

// The server's console echoes what it said, as the players see it.
int sayCommand(const Invocation& invocation)
{
    return sendWords(invocation, "say ");
}

int playersCommand(const Invocation& invocation)
{
    std::variant<Talk, int> talk = talkTo(invocation);
    if (const int* status = std::get_if<int>(&talk))
        return *status;
    const std::variant<ConsoleStatus, int> clients = askClients(std::get<Talk>(talk));
    if (const int* status = std::get_if<int>(&clients))
        return *status;
    const ConsoleStatus& status = std::get<ConsoleStatus>(clients);
    if (invocation.isSet("json")) {
        print(stdout,
              QString::fromUtf8(QJsonDocument(status.toJson()).toJson(QJsonDocument::Indented))
                  .trimmed());
        return Done;
    }
    QStringList lines{QStringLiteral("map: %1").arg(status.map)};
    for (const ConsoleStatus::Client& client : status.clients)
        lines << QStringLiteral("%1  %2  score %3  ping %4  %5  rate %6")
                     .arg(client.slot, 2)
                     .arg(shown(invocation, client.name))
                     .arg(client.score)
                     .arg(client.ping, client.address)
                     .arg(client.rate);
    if (status.clients.isEmpty())
        lines << QStringLiteral("No player is on the server.");
    print(stdout, lines.join(u'\n'));
    return Done;
}

int kickCommand(const Invocation& invocation)
{
    std::variant<Talk, int> talk = talkTo(invocation);
    if (const int* status = std::get_if<int>(&talk))
        return *status;
    const std::variant<ConsoleStatus, int> clients = askClients(std::get<Talk>(talk));
    if (const int* status = std::get_if<int>(&clients))
        return *status;
    // A slot, or a name without its colours in any case; the player goes by slot, so that
    // the one meant goes.
    const QString player = invocation.arguments[0];
    const QList<ConsoleStatus::Client> fitting = std::get<ConsoleStatus>(clients).fitting(player);
    if (fitting.size() != 1) {
        QStringList lines{fitting.isEmpty()
                              ? QStringLiteral("No player on the server is \"%1\"; give a "
                                               "slot or a name that players lists.")
                                    .arg(player)
                              : QStringLiteral("%1 players fit \"%2\", by slot or name; give "
                                               "the slot of the one to kick:")
                                    .arg(fitting.size())
                                    .arg(player)};
        for (const ConsoleStatus::Client& client : fitting)
            lines << QStringLiteral("  slot %1: %2, %3")
                         .arg(client.slot)
                         .arg(withoutColours(client.name), client.address);
        return failed(QStringList(lines.join(u'\n')));
    }
    const std::variant<QString, int> reply =
        ask(std::get<Talk>(talk), "clientkick " + QByteArray::number(fitting[0].slot));
    if (const int* status = std::get_if<int>(&reply))
        return *status;
    print(stdout, QStringLiteral("Kicked %1 from slot %2.")
                      .arg(withoutColours(fitting[0].name))
                      .arg(fitting[0].slot));
    return Done;
}

namespace {

// The passwords of the server's script, which what it prints never shows; none where the
// script cannot be read.
QStringList secretsOf(const ServerRecord& server)
{
    const std::variant<ConsoleAccess, QString> access = consoleAccess(server.script, false);
    const ConsoleAccess* read = std::get_if<ConsoleAccess>(&access);
    return read ? read->secrets : QStringList();
}

// What works alongside a log that is followed, in the same loop: it may end the loop, and
// may have the log shown up to its end at once.
using Alongside =
    std::function<void(QEventLoop& loop, int& result, const std::function<bool()>& catchUp)>;

// Prints the last count lines of the server's log, and with follow goes on until interrupted
// or the server stops, while alongside, if given, works in the same loop.
int showLog(const Invocation& invocation, ServerRecord server, int count, bool follow,
            const Alongside& alongside = {})
{
    if (server.log.isEmpty())
        return failed(QStringList(QStringLiteral(
            "The server keeps a console window of its own, where its output goes, and writes "
            "no log.")));
    QFile file;
    const auto open = [&](const QString& path) -> std::optional<int> {
        file.close();
        if (const std::optional<QString> problem = openRegularFile(file, path))
            return failed(QStringList(QStringLiteral("Could not read the server's log \"%1\": %2.")
                                          .arg(QDir::toNativeSeparators(path), *problem)));
        return std::nullopt;
    };
    if (!coloursWanted(invocation))
        return wrongColour(invocation);
    // Whole lines are shown, without the echoes that ended the tool's commands' replies, and
    // with the passwords as replies show them.
    QStringList secrets = secretsOf(server);
    QByteArray pending;
    const auto show = [&](const QByteArray& bytes, bool whole = false) {
        pending += bytes;
        const qsizetype end = whole ? pending.size() : pending.lastIndexOf('\n') + 1;
        const QByteArray lines = ServerConsole::withoutEchoes(pending.left(end));
        pending.remove(0, end);
        return lines.isEmpty() || writeBytesToStandardOutput(
                                      shown(invocation, QString::fromUtf8(lines), secrets).toUtf8(),
                                      QStringLiteral("the log")) == Done;
    };
    if (const std::optional<int> status = open(server.log))
        return *status;
    // The last lines, from at most the last MiB.
    constexpr qint64 kTail = 1024 * 1024;
    file.seek(std::max<qint64>(0, file.size() - kTail));
    const QByteArray tail = ServerConsole::withoutEchoes(file.readAll());
    // Back from the end, over the last line's own line end, to the start of the count'th line.
    qsizetype start = tail.size() - (tail.endsWith('\n') ? 1 : 0);
    for (int lines = 0; start > 0; --start) {
        if (tail[start - 1] == '\n' && ++lines == count)
            break;
    }
    if (!show(count == 0 ? QByteArray() : tail.mid(start), !follow))
        return Failed;
    if (!follow)
        return Done;

    // Followed until interrupted or the server stops; a replace moves on to its successor,
    // the live server of the same game directory, from its log's start.
    int result = Done;
    QEventLoop loop;
    Console::onInterrupt(&loop, [&](int status) {
        result = status;
        loop.quit();
    });
    const auto catchUp = [&] {
        if (file.size() < file.pos())
            file.seek(0); // written anew
        if (show(file.readAll()))
            return true;
        result = Failed;
        loop.quit();
        return false;
    };
    QTimer poll;
    int ticks = 0;
    constexpr int kReplaceMs = 15000;
    std::optional<QDeadlineTimer> gone;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        // A wait alongside stays with its own server, and starts it again where asked.
        if (!catchUp() || alongside || ++ticks % 4 != 0)
            return;
        const QList<ServerRecord> live = StartedServers::live();
        const auto isServer = [&](const ServerRecord& each) {
            return each.pid == server.pid && each.identity == server.identity;
        };
        if (std::ranges::any_of(live, isServer))
            return;
        const auto successor = std::ranges::find_if(live, [&](const ServerRecord& each) {
            return QDir::cleanPath(each.gameDir) == QDir::cleanPath(server.gameDir) &&
                   each.knownPort() == server.knownPort() && !each.log.isEmpty();
        });
        // A replace stops the server before it starts the next, which may take the start's
        // whole wait to be recorded.
        if (successor == live.end()) {
            if (!gone)
                gone.emplace(kReplaceMs);
            if (!gone->hasExpired())
                return;
            show(file.readAll(), true);
            print(stderr, QStringLiteral("The server has stopped."));
            loop.quit();
            return;
        }
        gone.reset();
        show(file.readAll(), true);
        server = *successor;
        secrets = secretsOf(server);
        print(stderr, QStringLiteral("The server was replaced; following its successor's log "
                                     "\"%1\".")
                          .arg(QDir::toNativeSeparators(server.log)));
        if (const std::optional<int> status = open(server.log)) {
            result = *status;
            loop.quit();
        }
    });
    poll.start(250);
    if (alongside)
        alongside(loop, result, catchUp);
    loop.exec();
    show(file.readAll(), true);
    return result;
}

// Stays with the server that run started until it ends, its log shown as it grows where
// showsLog, and stops it when interrupted, or when its log cannot be shown: nothing that it
// started is left behind. As policy asks, a server that ends is started again meanwhile. A
// server that ends by itself, not started again, gives its exit status; one that a stop,
// given here or elsewhere, ends gives 0.
int waitForServer(const Invocation& invocation, std::unique_ptr<RunConfig> run,
                  RestartPolicy policy, bool showsLog, const std::optional<int>& interruptedSince)
{
#ifndef Q_OS_WIN
    std::signal(SIGPIPE, SIG_IGN); // an output that is gone fails its write, and is told
#endif
    const ServerRecord first = run->record();
    Supervisor supervisor(policy, std::move(run),
                          showsLog ? Supervisor::Telling::Here : Supervisor::Telling::Later);
    std::optional<int> ended;
    const auto stop = [&] {
        const auto [said, stopped] = supervisor.stop();
        print(stderr, said);
        return stopped ? Done : Failed;
    };
    const auto alongside = [&](QEventLoop& loop, int&, const std::function<bool()>& catchUp) {
        // The server's last lines, of its shutdown, are shown before the wait ends.
        const auto end = [&ended, &loop, catchUp](int status) {
            ended = status;
            if (catchUp)
                catchUp();
            loop.quit();
        };
        Console::onInterrupt(&loop, [&, end](int) {
            if (!ended)
                end(stop());
        });
        QObject::connect(&supervisor, &Supervisor::told, &loop,
                         [](const QString& text) { print(stderr, text); });
        QObject::connect(&supervisor, &Supervisor::ended, &loop, [&, end](int status) {
            if (!ended)
                end(status);
        });
        if (interruptedSince)
            QTimer::singleShot(0, &loop, [&, end] {
                if (!ended)
                    end(stop());
            });
    };
    if (first.log.isEmpty() || !showsLog) {
        QEventLoop loop;
        int result = Done;
        alongside(loop, result, {});
        loop.exec();
    } else {
        showLog(invocation, first, std::numeric_limits<int>::max(), true, alongside);
    }
    // Otherwise the log could not be shown.
    if (!ended) {
        stop();
        return Failed;
    }
    return *ended;
}

} // namespace

int logCommand(const Invocation& invocation)
{
    bool isNumber = true;
    const int count = invocation.isSet("lines") ? invocation.value("lines").toInt(&isNumber) : 10;
    if (!isNumber || count < 0)
        return usageError(QStringLiteral("--lines takes a number of lines, such as 50."),
                          findCommand(QStringLiteral("log")));
    const std::variant<ServerRecord, int> chosen = oneServer(invocation);
    if (const int* status = std::get_if<int>(&chosen))
        return *status;
    return showLog(invocation, std::get<ServerRecord>(chosen), count, invocation.isSet("follow"));
}

int consoleCommand(const Invocation& invocation)
{
    std::variant<Talk, int> chosen = talkTo(invocation);
    if (const int* status = std::get_if<int>(&chosen))
        return *status;
    Talk& talk = std::get<Talk>(chosen);
#ifdef Q_OS_WIN
    const bool terminal = _isatty(_fileno(stdin));
#else
    const bool terminal = isatty(STDIN_FILENO);
#endif
    const auto prompt = [terminal] {
        if (terminal) {
            std::fputs("] ", stdout);
            std::fflush(stdout);
        }
    };
    // Each line is run in turn, as it comes; the end of input ends the console. A reply
    // through the console input is in the log, which is shown up to its end instead.
    std::function<bool()> catchUp;
    const auto run = [&](const QByteArray& line) {
        if (const QByteArray command = line.trimmed(); !command.isEmpty()) {
            const std::variant<QString, int> reply = ask(talk, command);
            if (talk.throughInput && catchUp)
                catchUp();
            else if (const QString* text = std::get_if<QString>(&reply))
                writeBytesToStandardOutput(shown(invocation, *text, talk.secrets).toUtf8(),
                                           QStringLiteral("the server's reply"));
        }
        prompt();
    };
    const auto end = [terminal](QEventLoop& loop, int& result) {
        if (terminal)
            std::fputs("\n", stdout);
        result = Done;
        loop.quit();
    };
#ifdef Q_OS_WIN
    // A console's input cannot be waited on with the others, so a thread of its own reads
    // it and hands each line over; it is left waiting at the exit.
    const auto commands = [&](QEventLoop& loop, int& result, const std::function<bool()>&) {
        prompt();
        std::thread([&] {
            std::string line;
            while (std::getline(std::cin, line))
                QMetaObject::invokeMethod(
                    &loop, [&, line] { run(QByteArray::fromStdString(line)); },
                    Qt::BlockingQueuedConnection);
            QMetaObject::invokeMethod(&loop, [&] { end(loop, result); });
        }).detach();
    };
#else
    QByteArray pending;
    std::unique_ptr<QSocketNotifier> input;
    const auto commands = [&](QEventLoop& loop, int& result,
                              const std::function<bool()>& logCaughtUp) {
        catchUp = logCaughtUp;
        prompt();
        input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(input.get(), &QSocketNotifier::activated, &loop, [&] {
            char buffer[4096];
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                return;
            if (got <= 0) {
                input->setEnabled(false);
                if (!pending.isEmpty())
                    run(std::exchange(pending, {}));
                end(loop, result);
                return;
            }
            pending.append(buffer, got);
            // A reply is waited for in a loop of its own, where no more input is read.
            input->setEnabled(false);
            for (qsizetype at; (at = pending.indexOf('\n')) >= 0;) {
                const QByteArray line = pending.left(at);
                pending.remove(0, at + 1);
                run(line);
            }
            input->setEnabled(true);
        });
    };
#endif
    if (talk.server.log.isEmpty()) {
        QEventLoop loop;
        int result = Done;
        Console::onInterrupt(&loop, [&](int status) {
            result = status;
            loop.quit();
        });
        commands(loop, result, {});
        loop.exec();
        return result;
    }
    return showLog(invocation, talk.server, 0, true, commands);
}
