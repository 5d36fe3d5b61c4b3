#include "ServerLaunch.h"

#include "LaunchPlan.h"
#include "config/ConfigFile.h"
#include "config/NearestNames.h"
#include "config/ServerSettings.h"
#include "config/SettingsCheck.h"
#include "gametree/GameTree.h"
#include "network/InputConsole.h"
#include "network/RemoteConsole.h"
#include "network/StatusSocket.h"
#include "servers/ProcessControl.h"
#include "servers/StartedServers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryFile>
#include <algorithm>

namespace {

// The dedicated server in the game tree at gameDir, or why the tree cannot take a script
// and start one.
std::variant<QFileInfo, Problem> findServer(const QString& typedGameDir, const QString& gameDir)
{
    const PathStyle style = nativePathStyle();
    if (!isTypedPath(typedGameDir, kGameDirPlaceholder))
        return Problem{&ServerSettings::gameDir,
                       QStringLiteral("give the folder where Quake III Arena is installed, the "
                                      "one that holds quake3.exe.")};
    if (std::optional<Problem> problem = pathTextProblem(&ServerSettings::gameDir, typedGameDir))
        return *problem;
    if (const QFileInfo typed(gameDir); typed.isFile())
        return Problem{&ServerSettings::gameDir,
                       QStringLiteral("\"%1\" is a file, not a folder; give the folder that holds "
                                      "it, \"%2\".")
                           .arg(gameDir, QDir::toNativeSeparators(typed.absolutePath()))};
    if (!QFileInfo(gameDir).isDir())
        return Problem{&ServerSettings::gameDir,
                       QStringLiteral("\"%1\" does not exist; give the folder where Quake III "
                                      "Arena is installed.")
                           .arg(gameDir)};
    if (!QFileInfo(arenaPath(gameDir, style)).isDir())
        return Problem{&ServerSettings::gameDir,
                       QStringLiteral("\"%1\" has no arena folder; install the Quorvex "
                                      "modification there, or give the right game directory.")
                           .arg(gameDir)};
    const QStringList names = serverProgramNames(style);
    for (const QString& name : names) {
        const QFileInfo program(serverProgram(gameDir, style, name));
        if (!program.isFile())
            continue;
        if (!program.isExecutable())
            return Problem{nullptr,
                           QStringLiteral("\"%1\" cannot be run: it is not marked as a program.")
                               .arg(QDir::toNativeSeparators(program.filePath()))};
        return program;
    }
    if (names.size() == 1)
        return Problem{&ServerSettings::gameDir,
                       QStringLiteral("\"%1\" has no quake3.exe; give the folder where Quake III "
                                      "Arena is installed.")
                           .arg(gameDir)};
    return Problem{&ServerSettings::gameDir,
                   QStringLiteral("\"%1\" has no dedicated server: none of %2 is there. Give the "
                                  "folder where Quake III Arena is installed, or make a link "
                                  "named quake3.exe there to the dedicated server, for example: "
                                  "ln -s /usr/lib/ioquake3/ioq3ded quake3.exe")
                       .arg(gameDir, names.join(QStringLiteral(", ")))};
}

std::variant<QByteArray, Problem> readConfigFile(const QString& outputPath)
{
    if (!isTypedPath(outputPath, kOutputPathPlaceholder))
        return Problem{&ServerSettings::outputPath,
                       QStringLiteral("give the path of the config file, and create it first.")};
    if (std::optional<Problem> problem = pathTextProblem(&ServerSettings::outputPath, outputPath))
        return *problem;
    if (QFileInfo(outputPath).isDir())
        return Problem{&ServerSettings::outputPath,
                       QStringLiteral("\"%1\" is a folder, not a file; give the path of the "
                                      "config file, and create it first.")
                           .arg(outputPath)};
    if (!QFileInfo::exists(outputPath))
        return Problem{&ServerSettings::outputPath,
                       QStringLiteral("the config file \"%1\" does not exist; create it first.")
                           .arg(outputPath)};
    // What show refuses the server would not execute whole, so it is not installed.
    std::variant<QByteArray, QString> bytes = readScriptBytes(outputPath);
    if (const QString* problem = std::get_if<QString>(&bytes))
        return Problem{nullptr, *problem};
    return std::get<QByteArray>(std::move(bytes));
}

// Who may read the installed copy: never more than may read its source, and its owner alone
// when it sets a password.
Readers installedReaders(const QString& source, const QByteArray& script)
{
    constexpr QFileDevice::Permissions kOthers = QFileDevice::ReadGroup | QFileDevice::ReadOther;
    return setsPasswords(script) || (QFileInfo(source).permissions() & kOthers) != kOthers
               ? Readers::OwnerOnly
               : Readers::Usual;
}

// "a", "a or b", "a, b or c".
QString alternatives(const QStringList& names)
{
    return names.size() < 2 ? names.value(0)
                            : names.first(names.size() - 1).join(QStringLiteral(", ")) +
                                  QStringLiteral(" or ") + names.last();
}

// The end of a sentence about name: the known names nearest to it, if any.
QString didYouMean(const QString& name, const QStringList& known)
{
    const QStringList near = nearestNames(name, known);
    return near.isEmpty() ? QStringLiteral(".")
                          : QStringLiteral("; did you mean %1?").arg(alternatives(near));
}

const QString kNothingDone = QStringLiteral(" Nothing was stopped or started.");

// The engine's archive of its variables, which it runs before the script.
const QString kArchive = QStringLiteral("q3config_server.cfg");

// A file of the tree that the server runs as a script, loose or in a pk3 file, where the
// server finds it, with the text that it runs: up to a NUL, which ends the text for the
// command buffer. Nothing where it finds none, or the tool cannot read it as the server does.
std::optional<std::pair<GameTree::Found, QByteArray>> treeScript(const GameTree& tree,
                                                                 const QString& name)
{
    const std::optional<GameTree::Found> found = tree.findScript(name);
    if (!found || found->hangs)
        return std::nullopt;
    std::variant<QByteArray, QString> bytes = GameTree::read(*found, ServerScript::kMaxBytes + 1);
    if (!std::holds_alternative<QByteArray>(bytes))
        return std::nullopt;
    QByteArray& text = std::get<QByteArray>(bytes);
    if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
        text.truncate(nul);
    return std::pair(*found, std::move(text));
}

// What the server runs around the config file in the tree, which must outlive it: the files
// that it executes, each read once, and the engine's archive before it. The files that the
// server finds but the tool cannot read as the server does go to unread.
ScriptSurroundings surroundingsIn(const GameTree& tree, QStringList* unread = nullptr)
{
    ScriptSurroundings surroundings;
    auto read = std::make_shared<QHash<QString, std::optional<QByteArray>>>();
    surroundings.executed = [&tree, unread, read](const QString& name) {
        const QString path = GameTree::scriptPath(name);
        if (!read->contains(path)) {
            const auto file = treeScript(tree, name);
            read->insert(path, file ? std::optional(file->second) : std::nullopt);
            if (!file && unread && tree.findScript(name) && !unread->contains(name))
                *unread << name;
        }
        return read->value(path);
    };
    if (std::optional<std::pair<GameTree::Found, QByteArray>> archive = treeScript(tree, kArchive))
        surroundings.before = archive->second;
    return surroundings;
}

// The server's command line's settings that keep the archived values from the server: each
// variable as the engine or the game module gives it, or empty. They take effect after the
// archive has run, before the script.
QStringList withoutArchived(const ScriptReading& reading)
{
    QStringList arguments;
    for (const auto& [variable, value] : reading.archived)
        arguments << QStringLiteral("+set") << variable
                  << QString::fromLatin1(registeredValue(variable).value_or(QByteArray()));
    return arguments;
}

// Starts program in the game directory with the script installed under scriptNumber, as
// read, with the files it executes that the tool does not read.
std::variant<StartedServer, Problem> startInstalled(const QString& gameDir, const QString& program,
                                                    int scriptNumber, const QString& installed,
                                                    const QString& logPath,
                                                    std::pair<ScriptReading, QStringList> script,
                                                    bool appendToLog, quint16 port,
                                                    const QStringList& settings = {})
{
    StartedServer server;
    server.program = program;
    server.scriptNumber = scriptNumber;
    server.installedPath = installed;
    server.logPath = logPath;
    server.port = port;
    server.portWasTaken = udpPortTaken(port);
    server.script = std::move(script.first);
    server.unread = std::move(script.second);
    server.mark = newStartMark();
    if (serverReadsInput())
        server.inputPath = StartedServers::inputPath(server.mark);
    const QString home = port == kServerPort ? QString() : homePathOf(port).value_or(QString());
    server.homePath = home;
    auto started =
        startServerProcess({program, settings + serverArguments(scriptNumber, port, home),
                            basePath(gameDir, nativePathStyle()), logPath, appendToLog,
                            server.inputPath, server.mark});
    if (const QString* error = std::get_if<QString>(&started))
        return Problem{nullptr,
                       QStringLiteral("Could not start the game server (%1): %2.")
                           .arg(serverCommandLine(program, scriptNumber, port, home), *error)};
    server.process = std::move(std::get<std::unique_ptr<ServerProcess>>(started));
    return server;
}

} // namespace

Problems checkBeforeStart(const QString& typedGameDir, const QString& outputPath,
                          const std::optional<QString>& homePath)
{
    const QString gameDir = absoluteGameDir(typedGameDir, nativePathStyle());
    if (const std::variant<QFileInfo, Problem> found = findServer(typedGameDir, gameDir);
        const Problem* problem = std::get_if<Problem>(&found))
        return {*problem};
    const std::variant<QByteArray, Problem> read = readConfigFile(outputPath);
    if (const Problem* problem = std::get_if<Problem>(&read))
        return {*problem};
    // The script is installed there, so the folder is tried with a file of its own.
    const QString arena = arenaPath(gameDir, nativePathStyle());
    if (QTemporaryFile probe(arena + QStringLiteral("/.quorvex-XXXXXX")); !probe.open())
        return {Problem{nullptr,
                        QStringLiteral("The arena folder \"%1\" cannot be written (%2), so the "
                                       "config file cannot be installed there.%3")
                            .arg(arena, probe.errorString(), kNothingDone)}};
    const GameTree tree(gameDir, homePath.value_or(QString()));
    const ScriptReading reading = readScript(std::get<QByteArray>(read), surroundingsIn(tree));
    if (reading.problem)
        return {Problem{nullptr, QStringLiteral("The config file is not a script that the server "
                                                "can run: %1%2")
                                     .arg(*reading.problem, kNothingDone)}};
    if (!reading.map)
        return {Problem{&ServerSettings::initialMap,
                        QStringLiteral("%1 loads no map: %2. The server would start "
                                       "with no level, which no one can join. Give the map in "
                                       "the config file.%3")
                            .arg(QFileInfo(outputPath).fileName(), reading.noMap, kNothingDone),
                        Retry::CreateAndRun}};
    Problems problems;
    // A file that the server would open and wait on forever, named once: every pk3 file of
    // its folders as it starts, the files it executes then, the map and the files that the
    // script executes.
    QStringList named;
    const auto waitsOn = [&](const QString& file, const QString& why) {
        if (!named.contains(file))
            problems << Problem{
                nullptr,
                QStringLiteral("The server would open \"%1\": %2.%3").arg(file, why, kNothingDone)};
        named << file;
    };
    for (const GameTree::PassedOver& file : tree.passedOver()) {
        if (file.hangs)
            waitsOn(file.file, file.reason);
    }
    const auto hangs = [&](const std::optional<GameTree::Found>& found) {
        if (found && found->hangs)
            waitsOn(found->source, *found->hangs);
        return found && found->hangs;
    };
    for (const char* startup : {"default.cfg", "q3config_server.cfg", "autoexec.cfg"})
        hangs(tree.findScript(QLatin1String(startup)));
    // A step of the rotation whose map is missing makes the server play the map before it
    // one more round.
    for (const QString& map : reading.rotation) {
        if (tree.findMap(map).value_or(GameTree::Found{}).loadable)
            continue;
        QStringList known;
        for (const GameTree::Map& each : tree.maps())
            known << each.name;
        problems << Problem{nullptr,
                            QStringLiteral("The config file's map rotation plays \"%1\", which "
                                           "the server cannot load from the arena or baseq3 "
                                           "folder, so it would play the map before it one more "
                                           "round instead%2")
                                    .arg(map, didYouMean(map, known)) +
                                kNothingDone};
        break;
    }
    // The line that loads the map, in the script's own words, for a command that has no
    // box for it.
    const QString mapLine =
        QStringLiteral("%1 line %2: ").arg(QFileInfo(outputPath).fileName()).arg(reading.mapLine);
    if (reading.map && !hangs(tree.findMap(*reading.map))) {
        const QString& map = *reading.map;
        if (const std::optional<GameTree::Found> found = tree.findMap(map); !found) {
            QStringList known;
            for (const GameTree::Map& each : tree.maps())
                known << each.name;
            problems << Problem{&ServerSettings::initialMap,
                                mapLine +
                                    QStringLiteral("the server cannot find the map \"%1\": no "
                                                   "maps/%1.bsp is in the arena or baseq3 "
                                                   "folder, loose or in a pk3 file%2 Give a map "
                                                   "that the game tree holds.")
                                        .arg(map, didYouMean(map, known)) +
                                    kNothingDone,
                                Retry::CreateAndRun};
        } else if (!found->loadable) {
            problems << Problem{&ServerSettings::initialMap,
                                mapLine +
                                    QStringLiteral("the server cannot load the map \"%1\": "
                                                   "\"%2\" holds no map of its version, which "
                                                   "starts with IBSP and version 46. Give a map "
                                                   "that the server can load.")
                                        .arg(map, found->source) +
                                    kNothingDone,
                                Retry::CreateAndRun};
        }
    }
    for (const QString& executed : reading.executed) {
        if (const std::optional<GameTree::Found> found = tree.findScript(executed);
            hangs(found) || found)
            continue;
        const QString path = GameTree::scriptPath(executed);
        problems << Problem{nullptr,
                            QStringLiteral("The config file executes \"%1\", which the server "
                                           "cannot find: no %2 is in the arena or baseq3 "
                                           "folder, loose or in a pk3 file%3")
                                    .arg(executed, path, didYouMean(path, tree.scriptPaths())) +
                                kNothingDone};
    }
    return problems;
}

std::optional<QString> consoleCommandProblem(const ServerRecord& server, const QByteArray& command)
{
    // The words of the command as the engine's console takes one command: apart by white
    // space and comments, a quoted word whole, a quote ending a word; // ends the line, and
    // a semicolon is part of a word.
    QList<QByteArray> words;
    for (qsizetype at = 0; at < command.size() && words.size() < 3;) {
        if (uchar(command[at]) <= ' ') {
            ++at;
        } else if (command.mid(at, 2) == "//") {
            break;
        } else if (command.mid(at, 2) == "/*") {
            const qsizetype end = command.indexOf("*/", at + 2);
            at = end < 0 ? command.size() : end + 2;
        } else if (command[at] == '"') {
            const qsizetype end = command.indexOf('"', at + 1);
            words << command.mid(at + 1, end < 0 ? -1 : end - at - 1);
            at = end < 0 ? command.size() : end + 1;
        } else {
            qsizetype end = at;
            while (end < command.size() && uchar(command[end]) > ' ' && command[end] != '"' &&
                   command.mid(end, 2) != "//" && command.mid(end, 2) != "/*")
                ++end;
            words << command.mid(at, end - at);
            at = end;
        }
    }
    const QByteArray name = words.value(0).toLower();
    // Commands whose effect the tool cannot check or that undo the server's start: vstr runs
    // any text, and the restarts drop the game or every variable, the password included.
    if (name == "vstr" || name == "game_restart" || name == "cvar_restart")
        return QStringLiteral("%1 is not sent: %2. Give the commands themselves, or change the "
                              "config file and give run --replace.")
            .arg(QString::fromLatin1(words[0]),
                 name == "vstr" ? QStringLiteral("it runs a variable's text, which the tool "
                                                 "cannot check")
                 : name == "game_restart"
                     ? QStringLiteral("it shuts the server's game down")
                     : QStringLiteral("it resets every variable, the remote console password "
                                      "included"));
    if (name == "wait")
        return QStringLiteral("wait is not sent: it holds up the server's command buffer, and "
                              "with it the server's own scripts and the tool's commands.");
    if (name == "quit" || name == "killserver")
        return QStringLiteral("%1 would end the server behind the tool's back, so it was not "
                              "sent. Give the stop command, which ends the server and all that "
                              "it started.")
            .arg(QString::fromLatin1(words[0]));
    // The tool reaches the server with the password of its script; a command that changes
    // it would lock the tool out.
    const QList<QByteArray> setters{"set", "seta", "sets", "setu", "toggle", "reset", "unset"};
    if (name == "rconpassword" ||
        (setters.contains(name) && words.value(1).toLower() == "rconpassword"))
        return QStringLiteral("The command changes the server's remote console password, which "
                              "the tool reads from the server's script, so it was not sent. "
                              "Write the new password into the config file (create "
                              "--rcon-password, or in the window), then give run --replace.");
    if (name != "map" && name != "devmap" && name != "spmap" && name != "spdevmap")
        return std::nullopt;
    if (words.size() < 2)
        return std::nullopt; // the engine only prints its usage
    const QString map = QString::fromLatin1(words[1]);
    const GameTree tree(server.gameDir, server.homePath());
    if (tree.findMap(map).value_or(GameTree::Found{}).loadable)
        return std::nullopt;
    QStringList known;
    for (const GameTree::Map& each : tree.maps())
        known << each.name;
    return QStringLiteral("The server cannot load the map \"%1\" from the arena or baseq3 "
                          "folder%2 The command was not sent.")
        .arg(map, didYouMean(map, known));
}

std::variant<ConsoleAccess, QString> consoleAccess(const QString& installedScript,
                                                   bool remoteConsole)
{
    const std::variant<ScriptReading, QString> script = readScriptFile(installedScript);
    if (const QString* problem = std::get_if<QString>(&script))
        return *problem;
    const ScriptReading& reading = std::get<ScriptReading>(script);
    const QString password = reading.value(&ServerSettings::rconPassword).value_or(QString());
    if (remoteConsole && password.isEmpty())
        return QStringLiteral("The server's script %1 sets no remote console password, so the "
                              "server takes no command. Set one with create --rcon-password, or "
                              "in the window, then start the server again with run --replace.")
            .arg(installedScript);
    // The engine takes the password as the word after rcon: up to a space, a quote or a
    // character beyond ASCII.
    if (remoteConsole && std::ranges::any_of(password, [](QChar c) {
            return c.unicode() <= u' ' || c.unicode() >= 0x7f || c == u'"' || c == u';';
        }))
        return QStringLiteral("The remote console password that the server's script %1 sets "
                              "holds a space, a quote, a semicolon or a character beyond ASCII, "
                              "which the engine's remote console cannot take. Set one of "
                              "letters, digits and plain signs with create --rcon-password, then "
                              "give run --replace.")
            .arg(installedScript);
    ConsoleAccess access{password.toUtf8(), {}};
    for (const SettingsMember member :
         {&ServerSettings::rconPassword, &ServerSettings::adminPassword,
          &ServerSettings::reservedPassword, &ServerSettings::connectionPassword})
        if (const QString value = reading.value(member).value_or(QString()); !value.isEmpty())
            access.secrets << value;
    std::ranges::sort(access.secrets,
                      [](const QString& a, const QString& b) { return a.size() > b.size(); });
    return access;
}

std::variant<ServerLine, QString> serverLine(const ServerRecord& server)
{
    // Its console input while that is still there, or else its remote console.
    const bool throughInput = !server.log.isEmpty() && isServerInput(server.input);
    const std::variant<ConsoleAccess, QString> access = consoleAccess(server.script, !throughInput);
    if (const QString* problem = std::get_if<QString>(&access))
        return *problem;
    const auto& [password, secrets] = std::get<ConsoleAccess>(access);
#ifndef Q_OS_WIN
    if (throughInput)
        return ServerLine{std::make_unique<InputConsole>(server.input, server.log), secrets, true};
#endif
    // Every run of the tool keeps to one pace for the server's port.
    const QString pace = QStringLiteral("%1/pace.%2").arg(stateFolder()).arg(server.currentPort());
    return ServerLine{std::make_unique<RemoteConsole>(server.currentPort(), password, pace),
                      secrets};
}

bool answersRemoteConsole(const ServerRecord& server)
{
    // A server that holds no password, or another, says so: that is an answer too.
    const std::variant<ConsoleAccess, QString> access = consoleAccess(server.script, true);
    const ConsoleAccess* given = std::get_if<ConsoleAccess>(&access);
    const QString pace = QStringLiteral("%1/pace.%2").arg(stateFolder()).arg(server.currentPort());
    RemoteConsole console(server.currentPort(),
                          given ? given->password : QByteArrayLiteral("quorvex-probe"), pace);
    const ServerConsole::Reply::Kind answer = console.run("echo").kind;
    return answer != ServerConsole::Reply::Kind::NoAnswer &&
           answer != ServerConsole::Reply::Kind::Unfit &&
           answer != ServerConsole::Reply::Kind::Unwritten;
}

std::optional<QString> archivedValuesNotice(const QString& typedGameDir, const QString& outputPath,
                                            const std::optional<QString>& homePath)
{
    const GameTree tree(absoluteGameDir(typedGameDir, nativePathStyle()),
                        homePath.value_or(QString()));
    const std::optional<std::pair<GameTree::Found, QByteArray>> archive =
        treeScript(tree, kArchive);
    const std::variant<QByteArray, Problem> read = readConfigFile(outputPath);
    if (!archive || !std::holds_alternative<QByteArray>(read))
        return std::nullopt;
    return archivedNotice(readScript(std::get<QByteArray>(read), surroundingsIn(tree)),
                          QDir::toNativeSeparators(archive->first.source));
}

std::optional<QString> homePathOf(quint16 port)
{
    const std::optional<QString> engines = engineHomePath();
    if (port == kServerPort || !engines)
        return engines;
    if (engines->isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(
        QDir::cleanPath(QStringLiteral("%1-%2").arg(*engines).arg(port)));
}

std::optional<Problem> homePathProblem(quint16 port)
{
    if (port == kServerPort)
        return std::nullopt; // the engine's own, which the command line does not name
    const std::optional<QString> home = homePathOf(port);
    if (!home)
        return Problem{
            nullptr, QStringLiteral("The game server on UDP port %1 needs a home folder of its "
                                    "own, beside the engine's, and the engine's cannot be "
                                    "found%2. Nothing was started.")
                         .arg(port)
                         .arg(engineHomePath() ? QStringLiteral(": HOME is not set") : QString())};
    const auto unfit = [&](const QString& why) {
        return Problem{nullptr, QStringLiteral("The game server on UDP port %1 would keep its "
                                               "files in \"%2\", %3. Nothing was started.")
                                    .arg(port)
                                    .arg(*home, why)};
    };
    // The engine splits its command line at + and reads " and // as its console does, only a
    // path with a space in it reaching it quoted; it refuses to write under a path that
    // holds .. or ::, on POSIX systems takes \ for /, and keeps a path in 256 bytes.
    static const QRegularExpression unfitText(QString::fromLatin1(
        nativePathStyle() == PathStyle::Posix ? "[\\x00-\\x1f\"+\\\\]|//|/\\*|\\.\\.|::"
                                              : "[\\x00-\\x1f\"+]|//|/\\*|\\.\\.|::"));
    if (home->contains(unfitText) || !QDir::isAbsolutePath(*home))
        return unfit(QStringLiteral("which the engine's command line cannot carry as it is, as "
                                    "it holds a quotation mark, a +, a backslash, a control "
                                    "character, //, /*, .. or ::, or is no absolute path"));
    if (home->toUtf8().size() > 200)
        return unfit(QStringLiteral("longer than the engine's paths can be"));
    // Its archive may hold passwords, and the server runs what it holds.
    const QFileInfo folder(*home);
    if (folder.isSymLink() || (folder.exists() && !folder.isDir()))
        return unfit(
            QStringLiteral("which is %1 rather than a folder; remove it, so that the "
                           "tool makes that folder for you alone")
                .arg(folder.isSymLink() ? QStringLiteral("a link") : QStringLiteral("a file")));
    if (folder.exists() &&
        (!ownedByUser(*home) || (nativePathStyle() == PathStyle::Posix &&
                                 folder.permissions() & (QFile::WriteGroup | QFile::WriteOther))))
        return unfit(QStringLiteral("a folder that another user may write, who could put "
                                    "commands in the archive that the server runs; make it "
                                    "yours alone, or remove it"));
    return std::nullopt;
}

std::optional<Problem> chosenPortProblem(quint16 port)
{
    if (std::optional<Problem> problem = homePathProblem(port))
        return problem;
    if (!udpPortTaken(port) || StartedServers::holdingGamePort(port))
        return std::nullopt;
    return Problem{nullptr,
                   QStringLiteral("UDP port %1 is held by %2, so a server started there would "
                                  "take another port, where players do not look. Nothing was "
                                  "started. Stop that program, or choose another --port.")
                       .arg(port)
                       .arg(udpPortHolder(port).value_or(
                           QStringLiteral("another program, which the system does not name")))};
}

std::variant<StartedServer, Problem> launchServer(const QString& typedGameDir,
                                                  const QString& outputPath, int scriptNumber,
                                                  Archived archived, quint16 port)
{
    const PathStyle style = nativePathStyle();
    const QString gameDir = absoluteGameDir(typedGameDir, style);
    const std::variant<QFileInfo, Problem> found = findServer(typedGameDir, gameDir);
    if (const Problem* problem = std::get_if<Problem>(&found))
        return *problem;
    const std::variant<QByteArray, Problem> read = readConfigFile(outputPath);
    if (const Problem* problem = std::get_if<Problem>(&read))
        return *problem;
    const QByteArray& script = std::get<QByteArray>(read);
    const GameTree tree(gameDir, homePathOf(port).value_or(QString()));
    QStringList unread;
    ScriptReading reading = readScript(script, surroundingsIn(tree, &unread));
    // The archive is the user's; a loose one that holds a password is narrowed to its owner,
    // as the server that reads it runs as the same user.
    constexpr QFileDevice::Permissions kOwner = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadUser | QFileDevice::WriteUser;
    if (const auto archive = treeScript(tree, kArchive);
        archive && !archive->first.inPack && setsPasswords(archive->second))
        QFile::setPermissions(archive->first.source,
                              QFile::permissions(archive->first.source) & kOwner);

    // Another port's home path is made the user's alone, as the archive that the engine
    // writes there may hold passwords.
    if (const QString home = homePathOf(port).value_or(QString());
        port != kServerPort && !QFileInfo::exists(home) &&
        !QDir().mkdir(home, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return Problem{nullptr, QStringLiteral("Could not make the game server's home folder "
                                               "\"%1\" for UDP port %2.")
                                    .arg(home)
                                    .arg(port)};
    // The server runs as the same user, so a copy that holds passwords is its owner's alone.
    const QString installed = installedScriptPath(gameDir, scriptNumber, style);
    const QString logPath =
        serverLogsToFile() ? installed.chopped(4) + QStringLiteral(".log") : QString();
    if (const std::optional<QString> kind =
            logPath.isEmpty() ? std::nullopt : specialFileKind(logPath))
        return Problem{nullptr, QStringLiteral("The server's log \"%1\" is %2, not a regular "
                                               "file, and is left as it is. Remove it.")
                                    .arg(logPath, *kind)};
    // Nothing is written through a link in the game tree, which could lead to any file.
    for (const QString& path : {installed, logPath}) {
        if (!path.isEmpty() && QFileInfo(path).isSymLink())
            return Problem{nullptr, QStringLiteral("\"%1\" is a link, and the tool writes "
                                                   "nothing through a link in the game tree. "
                                                   "Remove it.")
                                        .arg(path)};
    }
    if (std::optional<QString> reason =
            writeFileAtomically(installed, script, installedReaders(outputPath, script)))
        return Problem{nullptr, QStringLiteral("Could not install the config file as \"%1\": %2.")
                                    .arg(installed, *reason)};

    // QFileInfo writes '/' on every system; the command line keeps the system's own.
    const QStringList settings =
        archived == Archived::Kept ? QStringList() : withoutArchived(reading);
    if (archived == Archived::Left)
        reading = readScript(script, [&] {
            ScriptSurroundings surroundings = surroundingsIn(tree, &unread);
            surroundings.before.clear();
            return surroundings;
        }());
    return startInstalled(gameDir, QDir::toNativeSeparators(std::get<QFileInfo>(found).filePath()),
                          scriptNumber, installed, logPath, {std::move(reading), unread}, false,
                          port, settings);
}

std::variant<StartedServer, Problem> relaunchServer(const QString& gameDir, const QString& program,
                                                    const QString& installedPath,
                                                    const QString& logPath, quint16 port)
{
    static const QRegularExpression name(QStringLiteral("conf(\\d+)\\.cfg$"));
    const QRegularExpressionMatch number = name.match(installedPath);
    std::variant<QByteArray, QString> bytes = readScriptBytes(installedPath);
    if (const QString* problem = std::get_if<QString>(&bytes))
        return Problem{nullptr, *problem};
    if (!number.hasMatch())
        return Problem{
            nullptr,
            QStringLiteral("\"%1\" is no script that the tool installed.").arg(installedPath)};
    // Read in its tree, as its first start read it.
    const GameTree tree(gameDir, homePathOf(port).value_or(QString()));
    QStringList unread;
    ScriptReading reading = readScript(std::get<QByteArray>(bytes), surroundingsIn(tree, &unread));
    return startInstalled(gameDir, program, number.captured(1).toInt(), installedPath, logPath,
                          {std::move(reading), unread}, true, port);
}

std::variant<int, Problem> drawScriptNumber(ScriptNumberSequence& numbers,
                                            const QString& typedGameDir,
                                            const std::optional<QString>& homePath,
                                            const QStringList& liveFiles)
{
    const int first = numbers.next();
    if (!homePath)
        return Problem{nullptr,
                       QStringLiteral("The game server's home folder, the Quake3 folder in your "
                                      "Application Data, cannot be found, and a script left there "
                                      "would run in place of the new one. Nothing was started. "
                                      "Check that your user profile is complete."),
                       Retry::Run};
    const PathStyle style = nativePathStyle();
    const QString gameDir = absoluteGameDir(typedGameDir, style);
    const QString homeArena = arenaPath(*homePath, style);
    // A home path that is the game directory itself runs the installed script.
    const bool homeShadows = !homePath->isEmpty() && QFileInfo(homeArena).isDir() &&
                             QFileInfo(homeArena).canonicalFilePath() !=
                                 QFileInfo(arenaPath(gameDir, style)).canonicalFilePath();
    // A slot that holds a link, or anything but a regular file, is taken as well.
    const auto foreign = [](const QString& path) {
        return QFileInfo(path).isSymLink() || specialFileKind(path).has_value();
    };
    // Files are compared as files, however their paths are written.
    QSet<QString> inUse;
    for (const QString& file : liveFiles)
        inUse << fileKey(file);
    const auto taken = [&](int n) {
        const QString installed = installedScriptPath(gameDir, n, style);
        const QString log = installed.chopped(4) + QStringLiteral(".log");
        return (homeShadows && QFileInfo::exists(installedScriptPath(*homePath, n, style))) ||
               inUse.contains(fileKey(installed)) || inUse.contains(fileKey(log)) ||
               foreign(installed) || foreign(log);
    };
    if (!taken(first))
        return first;
    bool everyNameTaken = true;
    for (int n = 0; everyNameTaken && n < ScriptNumberSequence::kCount; ++n)
        everyNameTaken = taken(n);
    if (everyNameTaken)
        return Problem{nullptr,
                       QStringLiteral("The game server's home folder \"%1\" holds a script for "
                                      "every name from conf0.cfg to conf%2.cfg that no running "
                                      "server uses, and the server would run that script in "
                                      "place of the new one. Nothing was started. Remove the conf "
                                      "files you no longer need from that folder.")
                           .arg(homeArena)
                           .arg(ScriptNumberSequence::kCount - 1),
                       Retry::Run};
    int number = numbers.next();
    while (taken(number))
        number = numbers.next();
    return number;
}
