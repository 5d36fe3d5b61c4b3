#ifdef _WIN32
// Before any header that includes windows.h, which would bring the older sockets.
#include <winsock2.h>
#endif
#include "config/ConfigFile.h"
#include "config/ConfigScript.h"
#include "config/ServerSettings.h"
#include "launch/LaunchPlan.h"
#include "launch/ServerLaunch.h"
#include "servers/ScriptNumbers.h"
#include "servers/ServerProcess.h"
#include "servers/StartedServers.h"
#include "support/ChildProcess.h"
#include "support/FakeGameTree.h"
#include "support/Files.h"
#include "support/Processes.h"
#include "support/TestSettings.h"

#include <QProcess>
#include <QTest>
#include <cstring>
#include <vector>
#ifdef Q_OS_WIN
#include <iphlpapi.h>
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/stat.h>
#endif

namespace {

const QByteArray kScript = "// script\r\nset sv_hostname \"x\"\r\nmap quorvexmap1\r\n";

QStringList launchRecord(const QString& gameDir, int n)
{
    return QStringList{QDir(gameDir).canonicalPath()} + serverArguments(n);
}

// The started server, or a failure with the reason.
StartedServer started(std::variant<StartedServer, Problem> launched)
{
    if (const Problem* problem = std::get_if<Problem>(&launched))
        qFatal("launch failed: %s", qPrintable(captioned(*problem)));
    return std::move(std::get<StartedServer>(launched));
}

// The logs that starts with these script numbers leave in the arena folder.
QStringList logsFor(const QList<int>& numbers)
{
    QStringList logs;
    if (serverLogsToFile()) {
        for (const int n : numbers)
            logs << QStringLiteral("conf%1.log").arg(n);
    }
    return logs;
}

QString refusal(const std::variant<StartedServer, Problem>& launched)
{
    const Problem* problem = std::get_if<Problem>(&launched);
    return problem ? captioned(*problem) : QStringLiteral("(started)");
}

} // namespace

class TestServerLaunch : public QObject {
    Q_OBJECT

    // The state folder of the tests' own, where a start makes its server's console input.
    const QTemporaryDir m_state;

private slots:
    void initTestCase() { adoptOrphans(); }
    void init() { qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path())); }
    void cleanupTestCase() { checkNothingLeftRunning(); }

    // The server runs as the tool's user, so the copy of a script that sets a password the
    // engine reads, to any value, is theirs alone, as is the copy of a source only they read.
    void installsTheScriptAndStartsTheServer_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("ownersSource");
        QTest::addColumn<bool>("ownersCopy");
        QTest::newRow("as typed") << "" << kScript << false << false;
        QTest::newRow("trailing separator")
            << QDir::toNativeSeparators("/") << kScript << false << false;
        QTest::newRow("with a password") << "" << kScript + "set rconPassword \"x\"\r\n"
                                         << false << true;
        QTest::newRow("bare password") << "" << kScript + "RCONPASSWORD s3cret\r\n"
                                       << false << true;
        QTest::newRow("game password") << "" << kScript + "seta g_password \"x\"\r\n"
                                       << false << true;
        QTest::newRow("password emptied later")
            << "" << kScript + "set Password x\r\nset Password \"\"\r\n"
            << false << true;
        QTest::newRow("a mod's password") << "" << kScript + "set g_adminPassword \"adm1n\"\r\n"
                                          << false << true;
        QTest::newRow("a password in a rotation's string")
            << "" << kScript + "set d3 \"map q3dm3; rconPassword secret2\"\r\n"
            << false << true;
        QTest::newRow("owner's source") << "" << kScript << true << true;
    }

    void installsTheScriptAndStartsTheServer()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, script);
        QFETCH(bool, ownersSource);
        QFETCH(bool, ownersCopy);
        FakeGameTree tree;
        writeBytes(tree.outputPath, script);
        if (ownersSource)
            QFile::setPermissions(tree.outputPath, QFile::ReadOwner | QFile::WriteOwner);
        const QString before = QDir::currentPath();

        const StartedServer server =
            started(launchServer(tree.gameDir + suffix, tree.outputPath, 42));
        QCOMPARE(server.program, QDir::toNativeSeparators(tree.gameDir + "/quake3.exe"));
        QCOMPARE(server.logPath, serverLogsToFile() ? tree.gameDir + "/arena/conf42.log" : "");
        QTRY_COMPARE(tree.launches().size(), 1);
        QCOMPARE(tree.launches().first(), launchRecord(tree.gameDir, 42));
        QCOMPARE(tree.arena(), QStringList{"conf42.cfg"} + logsFor({42}));
        QTRY_COMPARE(server.process->ended(), QStringLiteral("exited with status 0"));
        QCOMPARE(readAll(tree.gameDir + "/arena/conf42.cfg"), script);
        QCOMPARE(QDir::currentPath(), before);
#ifndef Q_OS_WIN
        QCOMPARE(fileMode(tree.gameDir + "/arena/conf42.cfg"), ownersCopy ? 0600 : newFileMode());
        // The log holds the remote commands the server takes, passwords with them.
        QCOMPARE(fileMode(tree.gameDir + "/arena/conf42.log"), 0600);
#else
        Q_UNUSED(ownersCopy);
#endif
    }

    void replacesAScriptOfTheSameNumber()
    {
        FakeGameTree tree;
        writeBytes(tree.gameDir + "/arena/conf7.cfg", QByteArray(5000, 'o'));
        writeBytes(tree.outputPath, kScript);
        writeBytes(tree.gameDir + "/arena/conf7.log", QByteArray(5000, 'o'));
        started(launchServer(tree.gameDir, tree.outputPath, 7));
        QCOMPARE(readAll(tree.gameDir + "/arena/conf7.cfg"), kScript);
        QCOMPARE(tree.arena(), (QStringList{"conf7.cfg", "conf7.log"}));
        if (serverLogsToFile())
            QVERIFY(readAll(tree.gameDir + "/arena/conf7.log").size() < 5000);
        QTRY_COMPARE(tree.launches().size(), 1);
    }

    // Every run of the program draws the same numbers; within a run, each launch draws anew.
    void launchesDrawTheSameSequenceInEveryRun()
    {
        QStringList runs;
        for (int run = 0; run < 2; ++run) {
            QProcess helper;
            helper.start(QStringLiteral(SCRIPTNUMBERS_HELPER), {});
            QVERIFY(helper.waitForFinished());
            runs << QString::fromLatin1(helper.readAllStandardOutput()).trimmed();
        }
        QCOMPARE(runs[0], runs[1]);
        const QStringList numbers = runs[0].split(u' ');
        QCOMPARE(numbers.size(), 2);

        FakeGameTree tree;
        writeBytes(tree.outputPath, kScript);
        started(launchServer(tree.gameDir, tree.outputPath, processScriptNumbers().next()));
        started(launchServer(tree.gameDir, tree.outputPath, processScriptNumbers().next()));
        QStringList expected =
            QStringList{"conf" + numbers[0] + ".cfg", "conf" + numbers[1] + ".cfg"} +
            logsFor({numbers[0].toInt(), numbers[1].toInt()});
        expected.sort();
        QCOMPARE(tree.arena(), expected);
        QTRY_COMPARE(tree.launches().size(), 2);
    }

    // A script left in the engine's home path would run in place of the one installed under
    // its name, so the draw passes over those names, still in the one sequence.
    void drawSkipsNamesThatTheHomePathHolds_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<int>("taken"); // of the next draws, or -1 for every name
        QTest::addColumn<int>("used");  // the draw used, or -1 for none
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing there") << "separate" << 0 << 0 << "";
        QTest::newRow("first two taken") << "separate" << 2 << 2 << "";
        QTest::newRow("engine keeps no home path") << "none" << 0 << 0 << "";
        QTest::newRow("home path is the game directory") << "game" << 1 << 0 << "";
        // A live server's script and log are passed over likewise.
        QTest::newRow("a live server's files") << "live" << 2 << 2 << "";
        QTest::newRow("a live server's files, by another path") << "live by link" << 2 << 2 << "";
#ifndef Q_OS_WIN
        // And so are links in the script's and the log's place, never written through.
        QTest::newRow("links in the arena folder") << "links" << 2 << 2 << "";
#endif
        QTest::newRow("home path unknown")
            << "unknown" << 0 << -1 << "The game server's home folder, the Quake3 folder";
        QTest::newRow("every name taken")
            << "separate" << -1 << -1
            << "holds a script for every name from conf0.cfg to conf5001.cfg";
    }

    void drawSkipsNamesThatTheHomePathHolds()
    {
        QFETCH(QString, home);
        QFETCH(int, taken);
        QFETCH(int, used);
        QFETCH(QString, message);
        FakeGameTree tree;
        ScriptNumberSequence numbers;
        ScriptNumberSequence copy = numbers;
        QList<int> draws;
        for (int i = 0; i < 4; ++i)
            draws << copy.next();
        std::optional<QString> homePath;
        if (home == "separate")
            homePath = QDir::toNativeSeparators(tree.root() + "/home");
        else if (home == "none")
            homePath = QString();
        else if (home == "game")
            homePath = tree.gameDir;
        QStringList liveFiles;
        if (home.startsWith("live")) {
            homePath = QString();
            const PathStyle style = nativePathStyle();
            // The game directory as a link to it, and with a "." on the way; Windows makes
            // shortcuts, no links, so there with ".." instead.
#ifdef Q_OS_WIN
            const QString other = tree.gameDir + "/arena/../.";
#else
            const QString other = tree.root() + "/game-link/.";
            QVERIFY(QFile::link(tree.gameDir, tree.root() + "/game-link"));
#endif
            const QString gameDir = home == "live" ? tree.gameDir : other;
            writeBytes(installedScriptPath(tree.gameDir, draws[0], style), "");
            liveFiles << installedScriptPath(gameDir, draws[0], style)
                      << installedScriptPath(gameDir, draws[1], style).chopped(4) + ".log";
        }
        if (home == "links") {
            homePath = QString();
            const PathStyle style = nativePathStyle();
            QVERIFY(
                QFile::link(tree.outputPath, installedScriptPath(tree.gameDir, draws[0], style)));
            QVERIFY(QFile::link(tree.outputPath,
                                installedScriptPath(tree.gameDir, draws[1], style).chopped(4) +
                                    ".log"));
        }
        if (homePath && !homePath->isEmpty()) {
            QVERIFY(QDir().mkpath(*homePath + "/arena"));
            const QList<int> names =
                taken < 0 ? QList<int>(ScriptNumberSequence::kCount) : draws.mid(0, taken);
            for (qsizetype i = 0; i < names.size(); ++i)
                writeBytes(installedScriptPath(*homePath, taken < 0 ? int(i) : names[i],
                                               nativePathStyle()),
                           "set sv_hostname \"stale\"\r\n");
        }

        const std::variant<int, Problem> drawn =
            drawScriptNumber(numbers, tree.gameDir, homePath, liveFiles);
        if (used >= 0) {
            QCOMPARE(std::get<int>(drawn), draws[used]);
            QCOMPARE(numbers.next(), draws[used + 1]);
        } else {
            const QString said = captioned(std::get<Problem>(drawn));
            QVERIFY2(said.contains(message), qPrintable(said));
        }
    }

    void refusalsStartAndInstallNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty game directory")
            << "empty"
            << "Game directory: give the folder where Quake III Arena is installed";
        QTest::newRow("design text") << "design"
                                     << "Game directory: give the folder where Quake III Arena";
        QTest::newRow("missing game directory") << "missing"
                                                << "does not exist";
        QTest::newRow("no arena folder") << "no arena"
                                         << "has no arena folder";
#ifdef Q_OS_WIN
        QTest::newRow("no server program") << "no server"
                                           << "has no quake3.exe;";
#else
        QTest::newRow("no server program")
            << "no server"
            << "has no dedicated server: none of quake3.exe, ioq3ded.";
        QTest::newRow("quake3.exe not executable") << "not executable"
                                                   << "cannot be run";
#endif
        QTest::newRow("no config file") << "no config"
                                        << "does not exist; create it first.";
        QTest::newRow("config path design text") << "config design"
                                                 << "Config output path: ";
        QTest::newRow("installed name is a directory")
            << "conf is directory"
            << "Could not install the config file as \"%1/arena/conf3.cfg\": "
               "it is a folder, not a file;";
        QTest::newRow("game directory is the program")
            << "program"
            << "Game directory: \"%1/quake3.exe\" is a file, not a folder; "
               "give the folder that holds it, \"%1\".";
        QTest::newRow("game directory from home")
            << "tilde"
            << "Game directory: give the whole path. A leading "
               "~ stands for a home folder only in a shell";
        QTest::newRow("pasted line break in game directory")
            << "pasted"
            << "Game directory: remove the line breaks from the path. The pasted "
               "text holds line breaks, shown as spaces.";
        QTest::newRow("config path is a folder")
            << "config folder"
            << "Config output path: \"%2\" is a folder, not a file;";
        // What the server would not execute whole is not installed.
        QTest::newRow("config larger than the server executes")
            << "config too large"
            << "the game server executes no script larger than";
        QTest::newRow("config with NUL") << "config NUL"
                                         << "\"%2\" is not a server script: it holds binary data";
#ifndef Q_OS_WIN
        QTest::newRow("config is a pipe") << "config pipe"
                                          << "\"%2\" is a named pipe (FIFO), not a script file";
        QTest::newRow("log is a pipe") << "log pipe"
                                       << "The server's log \"%1/arena/conf3.log\" is a named "
                                          "pipe (FIFO), not a regular file";
        QTest::newRow("log is a link") << "log link"
                                       << "\"%1/arena/conf3.log\" is a link, and the tool "
                                          "writes nothing through a link in the game tree.";
        QTest::newRow("installed name is a link") << "conf link"
                                                  << "\"%1/arena/conf3.cfg\" is a link";
#endif
    }

    void refusalsStartAndInstallNothing()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        FakeGameTree tree;
        writeBytes(tree.outputPath, kScript);
        QString gameDir = tree.gameDir;
        QString outputPath = tree.outputPath;
        if (fault == "empty")
            gameDir.clear();
        else if (fault == "design")
            gameDir = kGameDirPlaceholder;
        else if (fault == "missing")
            gameDir += "/elsewhere";
        else if (fault == "no arena")
            QVERIFY(QDir(gameDir).rmdir("arena"));
        else if (fault == "no server")
            QVERIFY(QFile::remove(gameDir + "/quake3.exe"));
        else if (fault == "not executable")
            QFile::setPermissions(gameDir + "/quake3.exe", QFile::ReadOwner | QFile::WriteOwner);
        else if (fault == "no config")
            QVERIFY(QFile::remove(outputPath));
        else if (fault == "config design")
            outputPath = kOutputPathPlaceholder;
        else if (fault == "conf is directory")
            QVERIFY(QDir(gameDir).mkpath("arena/conf3.cfg"));
        else if (fault == "program")
            gameDir += QDir::toNativeSeparators("/quake3.exe");
        else if (fault == "tilde")
            gameDir = "~/Quake III Arena";
        else if (fault == "pasted")
            gameDir += "\n";
        else if (fault == "config folder")
            outputPath = QDir::toNativeSeparators(tree.root());
        else if (fault == "config too large")
            writeBytes(outputPath, QByteArray(ServerScript::kMaxBytes + 1, '/'));
        else if (fault == "config NUL")
            writeBytes(outputPath, QByteArray("map q3dm1\n\0", 11));
#ifndef Q_OS_WIN
        else if (fault == "config pipe")
            QVERIFY(QFile::remove(outputPath) && mkfifo(QFile::encodeName(outputPath), 0600) == 0);
        else if (fault == "log pipe")
            QVERIFY(mkfifo(QFile::encodeName(gameDir + "/arena/conf3.log"), 0600) == 0);
        else if (fault == "log link" || fault == "conf link")
            QVERIFY(QFile::link(outputPath, gameDir + (fault == "log link" ? "/arena/conf3.log"
                                                                           : "/arena/conf3.cfg")));
#endif
        const QStringList arenaBefore = tree.arena();

        const QString error = refusal(launchServer(gameDir, outputPath, 3));
        QVERIFY2(error.contains(QDir::toNativeSeparators(
                     message.replace("%1", tree.gameDir).replace("%2", outputPath))),
                 qPrintable(error));
        QTest::qWait(100);
        QCOMPARE(tree.launches(), QList<QStringList>());
        QCOMPARE(tree.arena(), arenaBefore);
    }

    void readOnlyArenaInstallsAndStartsNothing()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no ordinary user for a child to become.");
#else
        FakeGameTree tree;
        writeBytes(tree.outputPath, kScript);
        const QFile::Permissions all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner;
        QVERIFY(handOver(tree.root(), all));
        QVERIFY(handOver(tree.gameDir, all));
        QVERIFY(handOver(tree.gameDir + "/arena", readOnly));
        QVERIFY(handOver(tree.gameDir + "/quake3.exe", readOnly));

        const ChildResult child = runUnprivileged([&] {
            return refusal(launchServer(tree.gameDir, tree.outputPath, 5))
                           .startsWith("Could not install the config file as \"" + tree.gameDir +
                                       "/arena/conf5.cfg\": the folder \"" + tree.gameDir +
                                       "/arena\" cannot be written")
                       ? 0
                       : 1;
        });
        QFile::setPermissions(tree.gameDir + "/arena", all);
        QCOMPARE(child.exitCode, 0);
        QTest::qWait(100);
        QCOMPARE(tree.launches(), QList<QStringList>());
        QCOMPARE(tree.arena(), QStringList());
#endif
    }

    // Where this system's engine looks before the game directory: Windows asks the system
    // for the roaming application data folder, Linux follows HOME.
    // A record whose process number now belongs to another program, here this test's own
    // with another start time, is dropped when read and its process never signalled; the
    // record of the process itself is kept.
    void aRecordOfAnotherProgramIsDroppedAndItsProcessLeftAlone()
    {
        const QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        const qint64 pid = QCoreApplication::applicationPid();
        const std::optional<ProcessIdentity> identity = processIdentity(pid);
        QVERIFY(identity);
        ServerRecord forged;
        forged.gameDir = "/games/q3";
        forged.program = "/games/q3/quake3.exe";
        forged.pid = pid;
        forged.identity = {"1", identity->boot};
        forged.port = 27960;
        forged.script = "/games/q3/arena/conf1.cfg";
        forged.startedAt = QDateTime::currentDateTime();
        QCOMPARE(StartedServers::remember(forged), std::nullopt);
        QCOMPARE(StartedServers::live(), QList<ServerRecord>());
        QCOMPARE(StartedServers::stop(forged), std::nullopt);
        ServerRecord own = forged;
        own.identity = *identity;
        QCOMPARE(StartedServers::remember(own), std::nullopt);
        QCOMPARE(StartedServers::live(), QList<ServerRecord>{own});
        StartedServers::forget(own);
        QCOMPARE(StartedServers::live(), QList<ServerRecord>());
#ifdef Q_OS_WIN
        // Wine gives every socket's owner as process 0, which is never a match.
        std::vector<char> bytes(sizeof(MIB_UDPTABLE_OWNER_PID) + sizeof(MIB_UDPROW_OWNER_PID));
        auto& table = *reinterpret_cast<MIB_UDPTABLE_OWNER_PID*>(bytes.data());
        table.dwNumEntries = 2;
        const MIB_UDPROW_OWNER_PID rows[] = {{0, htons(27960), 0}, { 0, htons(27961), DWORD(pid) }};
        std::memcpy(&table.table[0], rows, sizeof rows);
        QCOMPARE(udpPortIn(table, pid), std::optional<quint16>(27961));
        QCOMPARE(udpPortIn(table, 0), std::nullopt);
        QCOMPARE(udpPortIn(table, pid + 1), std::nullopt);
#endif
    }

    // Of the ended servers of a game directory, the last ten keep their scripts and logs;
    // the older ones' go, but for a file that a live server uses, a link, or a file outside
    // the arena folder, and another game directory's count is its own.
    void endedServersKeepTheirFilesForAWhile()
    {
        const QTemporaryDir state, game;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        QVERIFY(QDir().mkpath(game.filePath("arena")));
        const auto file = [&](int n, const char* kind) {
            return game.filePath(QStringLiteral("arena/conf%1.%2").arg(n).arg(kind));
        };
        for (int n = 1; n <= 14; ++n) {
            writeBytes(file(n, "cfg"), "map quorvexmap1\n");
            writeBytes(file(n, "log"), "");
            ServerRecord ended;
            ended.gameDir = n == 14 ? QStringLiteral("/other") : game.path();
            ended.script = file(n, "cfg");
            ended.log = n == 2 ? game.filePath("conf2.log") : file(n, "log");
            StartedServers::retire(ended);
        }
        writeBytes(game.filePath("conf2.log"), "");
        // A link in a script's place stays; Windows makes shortcuts, no links.
        const bool links = QFile::remove(file(3, "cfg")) &&
                           QFile::link(file(4, "cfg"), file(3, "cfg")) &&
                           QFileInfo(file(3, "cfg")).isSymLink();
#ifndef Q_OS_WIN
        QVERIFY(links);
#endif
        StartedServers::pruneEnded({file(1, "log")});
        QCOMPARE(QDir(game.filePath("arena")).entryList(QDir::Files | QDir::System).size(),
                 14 * 2 - 4 + int(links));
        QVERIFY(!QFile::exists(file(1, "cfg")) && QFile::exists(file(1, "log")));
        QVERIFY(!QFile::exists(file(2, "cfg")) && QFile::exists(game.filePath("conf2.log")));
        QVERIFY(QFileInfo(file(3, "cfg")).isSymLink() == links && !QFile::exists(file(3, "log")));
        StartedServers::pruneEnded({});
        QVERIFY(QFile::exists(file(4, "cfg")) && QFile::exists(file(14, "log")));
    }

    void engineHomePathIsTheEngines()
    {
#ifdef Q_OS_WIN
        const std::optional<QString> home = engineHomePath();
        QVERIFY(home);
        QVERIFY2(QDir::isAbsolutePath(*home) && home->endsWith("\\Quake3"), qPrintable(*home));
#else
        const QByteArray before = qgetenv("HOME");
        qputenv("HOME", "/home/operator");
        const std::optional<QString> home = engineHomePath();
        qputenv("HOME", "");
        const std::optional<QString> empty = engineHomePath();
        qunsetenv("HOME");
        const std::optional<QString> none = engineHomePath();
        qputenv("HOME", before);
        QCOMPARE(home, "/home/operator/.q3a");
        QCOMPARE(empty, "/.q3a");
        QCOMPARE(none, QString());
#endif
    }

    void failedStartIsReported()
    {
        FakeGameTree tree;
        // A program the system cannot run: a missing interpreter, or no Windows program.
        tree.writeServer("#!/nonexistent/interpreter\n");
        writeBytes(tree.outputPath, kScript);
        const QString error = refusal(launchServer(tree.gameDir, tree.outputPath, 9));
        const QString program = QDir::toNativeSeparators(tree.gameDir + "/quake3.exe");
        QVERIFY2(error.startsWith("Could not start the game server (" +
                                  serverCommandLine(program, 9) + "): "),
                 qPrintable(error));
#ifndef Q_OS_WIN
        QVERIFY2(error.contains("No such file or directory"), qPrintable(error));
#endif
    }

    void linuxServerNamesAreFound_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("used");
        const QStringList names = serverProgramNames(PathStyle::Posix);
        QTest::newRow("quake3.exe first") << names << "quake3.exe";
        QTest::newRow("architecture first") << names.mid(1) << names[1];
        QTest::newRow("generic") << QStringList{"ioq3ded", "q3ded"} << "ioq3ded";
        QTest::newRow("old name") << QStringList{"q3ded"} << "q3ded";
    }

    void linuxServerNamesAreFound()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows looks for quake3.exe only.");
#else
        QFETCH(QStringList, present);
        QFETCH(QString, used);
        FakeGameTree tree;
        const QString recorder = readAll(tree.gameDir + "/quake3.exe");
        QVERIFY(QFile::remove(tree.gameDir + "/quake3.exe"));
        for (const QString& name : present)
            tree.writeServer(recorder, name);
        writeBytes(tree.outputPath, kScript);
        const StartedServer server = started(launchServer(tree.gameDir, tree.outputPath, 4));
        QCOMPARE(server.program, tree.gameDir + u'/' + used);
        QTRY_COMPARE(tree.launches().size(), 1);
        QCOMPARE(tree.launches().first(), launchRecord(tree.gameDir, 4));
#endif
    }

    // A game directory that holds only a link to the engine under its Linux name runs it.
    void linkToTheEngineStartsIt()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows looks for quake3.exe only.");
#else
        FakeGameTree tree;
        QVERIFY(QFile::remove(tree.gameDir + "/quake3.exe"));
        const QString name = serverProgramNames(PathStyle::Posix)[1];
        QVERIFY(QFile::link(kEngineProgram, tree.gameDir + u'/' + name));
        writeBytes(tree.outputPath, kScript);
        // The engine's home path defaults to one in the user's home.
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", tree.root().toLocal8Bit());
        const StartedServer server = started(launchServer(tree.gameDir, tree.outputPath, 6));
        qputenv("HOME", home);
        QCOMPARE(server.program, tree.gameDir + u'/' + name);
        // Without the commercial game data the engine stops again, having said who it is.
        QTRY_VERIFY_WITH_TIMEOUT(server.process->ended(), 10000);
        QVERIFY(readAll(server.logPath).contains("\nioq3 1."));
#endif
    }

    // A relative game directory means the folder below the current one, for the checks,
    // the script, the program and its working directory alike.
    void relativeGameDirStartsTheRightProgram()
    {
        FakeGameTree tree;
        const QString decoy = tree.gameDir + "/Quake III Arena";
        QVERIFY(QDir().mkpath(decoy + "/arena"));
        QVERIFY(QFile::copy(tree.gameDir + "/quake3.exe", decoy + "/quake3.exe"));
        writeBytes(tree.outputPath, kScript);
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tree.root()));
        auto launched = launchServer("Quake III Arena", tree.outputPath, 8);
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(started(std::move(launched)).program,
                 QDir::toNativeSeparators(QDir(tree.root()).canonicalPath() +
                                          "/Quake III Arena/quake3.exe"));
        QTRY_COMPARE(tree.launches().size(), 1);
        QCOMPARE(tree.launches().first(), launchRecord(tree.gameDir, 8));
        QCOMPARE(entries(decoy + "/arena"), QStringList());
    }

    // The server gets no descriptor of the tool's, such as its display connection, or on
    // Windows none of its handles, however many the tool lets its children inherit: on Linux
    // only its input from /dev/null and its output to the log, on Windows a console of its
    // own. Once it ends, the tool keeps no zombie of it.
    void serverHoldsNothingOfTheTools()
    {
#ifdef Q_OS_WIN
        FakeGameTree tree;
        writeBytes(tree.outputPath, kScript);
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        std::vector<HANDLE> held;
        for (int launch = 0; launch < 2; ++launch) {
            started(launchServer(tree.gameDir, tree.outputPath, launch));
            QTRY_COMPARE(tree.launches().size(), launch + 1);
            for (int i = 0; i < 64; ++i)
                held.push_back(CreateEventW(&inherited, TRUE, FALSE, nullptr));
        }
        for (HANDLE handle : held)
            CloseHandle(handle);
        QList<int> handles;
        for (const QString& name : QDir(tree.root() + "/records").entryList({"process.*"})) {
            const QStringList report =
                QString::fromUtf8(readAll(tree.root() + "/records/" + name)).split(u' ');
            QCOMPARE(report.value(0), "console=1");
            handles << report.value(1).mid(8).toInt();
        }
        QCOMPARE(handles.size(), 2);
        QVERIFY2(std::abs(handles[0] - handles[1]) < 32,
                 qPrintable(QString::number(handles[0]) + " and " + QString::number(handles[1])));
#else
        int display[2];
        QVERIFY(socketpair(AF_UNIX, SOCK_STREAM, 0, display) == 0);
        FakeGameTree tree;
        tree.writeServer("#!/bin/sh\necho $$ > \"" + tree.root() +
                         "/server.pid\"\nexec sleep 30\n");
        writeBytes(tree.outputPath, kScript);
        const StartedServer server = started(launchServer(tree.gameDir, tree.outputPath, 2));
        QTRY_VERIFY(readAll(tree.root() + "/server.pid").size() > 0);
        const int pid = readAll(tree.root() + "/server.pid").trimmed().toInt();
        QTRY_VERIFY(readAll(QStringLiteral("/proc/%1/cmdline").arg(pid)).startsWith("sleep"));
        const QString fds = QStringLiteral("/proc/%1/fd/").arg(pid);
        QCOMPARE(entries(fds), (QStringList{"0", "1", "2"}));
        // Its input is its console input, a FIFO that only its owner may use.
        QCOMPARE(QFile::symLinkTarget(fds + "0"), server.inputPath);
        struct stat input {};
        QCOMPARE(lstat(QFile::encodeName(server.inputPath), &input), 0);
        QCOMPARE(input.st_mode, mode_t(S_IFIFO | 0600));
        QCOMPARE(QFile::symLinkTarget(fds + "1"), server.logPath);
        QCOMPARE(QFile::symLinkTarget(fds + "2"), server.logPath);
        close(display[0]);
        close(display[1]);

        QVERIFY(stopProcess(pid));
        QTRY_COMPARE(server.process->ended(), QStringLiteral("was ended by signal 9 (Killed)"));
        // Stand-ins of earlier tests, each reaped by a thread of its own, may still be ending
        // on a loaded machine, as in a fresh root that builds beside the tests.
        QTRY_COMPARE_WITH_TIMEOUT(childrenOf({getpid()}, true), QList<pid_t>(), 20000);
#endif
    }

    // A tool started with its standard descriptors closed still gives the server its log.
    void serverWritesItsLogWhenTheToolHasNoStandardDescriptors()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows gives the server a console of its own, not a log.");
#else
        FakeGameTree tree;
        tree.writeServer("#!/bin/sh\necho 'to the log'\necho 'errors too' >&2\n");
        writeBytes(tree.outputPath, kScript);
        QProcess tool;
        tool.start("/bin/sh", {"-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", LAUNCH_HELPER, tree.gameDir,
                               tree.outputPath});
        QVERIFY(tool.waitForFinished());
        QCOMPARE(tool.exitCode(), 0);
        QTRY_COMPARE(readAll(tree.gameDir + "/arena/conf1.log"), "to the log\nerrors too\n");
#endif
    }

    // A server that starts a child of its own, as a start script runs the engine, is
    // stopped with it by a later run of the tool, which knows the server by its record.
    void aServerIsStoppedWithWhatItStarted()
    {
        FakeGameTree tree;
        writeBytes(tree.outputPath, kScript);
#ifdef Q_OS_WIN
        writeBytes(tree.root() + "/records/child", {});
        writeBytes(tree.root() + "/records/silent", {});
#else
        tree.writeServer("#!/bin/sh\nsleep 600 &\nexec sleep 600\n");
#endif
        std::variant<StartedServer, Problem> started =
            launchServer(tree.gameDir, tree.outputPath, 3);
        QVERIFY(std::holds_alternative<StartedServer>(started));
        ServerProcess& process = *std::get<StartedServer>(started).process;
        QTRY_COMPARE(processGroup(process.pid()).size(), 2);
        const QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        ServerRecord record;
        record.pid = record.group = process.pid();
        record.identity = *processIdentity(process.pid());
        QCOMPARE(StartedServers::stop(record), std::nullopt);
        QVERIFY(process.ended());
        QCOMPARE(processGroup(process.pid()).size(), 0);
    }

    // The server keeps running after the program that started it has ended.
    void serverOutlivesTheTool()
    {
        if (const char* why = FakeGameTree::withoutRealEngine())
            QSKIP(why);
        FakeGameTree tree(FakeGameTree::RealEngine);
        writeBytes(tree.outputPath, "set sv_hostname \"left running\"\r\nmap quorvexmap1\r\n");
        QProcess tool;
        tool.start(QStringLiteral(LAUNCH_HELPER), {tree.gameDir, tree.outputPath});
        QVERIFY(tool.waitForFinished());
        QCOMPARE(tool.exitCode(), 0);
        const std::optional<QByteArray> status = waitForAnswer("getstatus", 10000);
        QVERIFY(status);
        QCOMPARE(infoPairs(status->split('\n').value(1)).value("sv_hostname"), "left running");
    }
};

QTEST_GUILESS_MAIN(TestServerLaunch)
#include "tst_serverlaunch.moc"
