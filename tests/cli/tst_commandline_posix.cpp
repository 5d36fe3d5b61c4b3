#include "launch/LaunchPlan.h"
#include "network/StatusSocket.h"
#include "servers/StartedServers.h"
#include "support/FakeGameTree.h"
#include "support/StandInConsole.h"
#include "support/TestSettings.h"
#include "support/ZipWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <csignal>
#include <pty.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

// The real program run as a shell runs it on a server: no display, no platform named, its
// settings store and home folder in the test's own folder.
class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_stateHome; // for the program's state, when not its default

    struct Ran {
        int status;
        QByteArray out;
        QString err;
    };

    Ran run(const QStringList& arguments, const QByteArray& input = {}) const
    {
        QProcess program;
        start(program, arguments);
        program.write(input);
        program.closeWriteChannel();
        if (!program.waitForFinished(30000))
            qFatal("the program did not end");
        return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
                program.readAllStandardOutput(),
                QString::fromLocal8Bit(program.readAllStandardError())};
    }

    void start(QProcess& program, const QStringList& arguments,
               const QString& executable = QStringLiteral(PROGRAM)) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_STATE_HOME"})
            environment.remove(name);
        if (!m_stateHome.isEmpty())
            environment.insert("XDG_STATE_HOME", m_stateHome);
        environment.insert("XDG_CONFIG_HOME", m_dir.path());
        environment.insert("HOME", m_dir.path());
        environment.insert("QT_DEBUG_PLUGINS", "1");
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(m_dir.path());
        program.start(executable, arguments);
    }

    // The config file that the form with these changes writes.
    static QByteArray scriptWith(const QList<std::pair<SettingsMember, QString>>& changes,
                                 const QStringList& rotation = {})
    {
        ServerSettings settings = testSettings();
        for (const auto& [member, value] : changes)
            settings.*member = value;
        ConfigScript script;
        script.build(settings, rotation);
        return configFileBytes(script.strCfg());
    }

    // The words of a command line as systemd reads them (systemd.service, "Command lines"):
    // apart at white space outside quotes, the quotes and C escapes undone, %% read as %
    // and $$ as $; nothing for any other specifier or variable, which it would replace.
    static std::optional<QStringList> systemdWords(const QString& line)
    {
        QStringList words;
        std::optional<QString> word;
        QChar quote;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const QChar c = line[i];
            if (quote.isNull() && c.isSpace()) {
                if (word)
                    words << *std::exchange(word, std::nullopt);
                continue;
            }
            word = word.value_or(QString());
            if (c == u'"' || c == u'\'') {
                if (quote.isNull())
                    quote = c;
                else if (quote == c)
                    quote = QChar();
                else
                    *word += c;
            } else if (c == u'\\' && i + 1 < line.size()) {
                const QChar next = line[++i];
                *word += next == u'n' ? QChar(u'\n') : next == u't' ? QChar(u'\t') : next;
            } else if ((c == u'%' || c == u'$') && i + 1 < line.size() && line[i + 1] == c) {
                *word += line[++i];
            } else if (c == u'%' || c == u'$') {
                return std::nullopt;
            } else {
                *word += c;
            }
        }
        if (!quote.isNull())
            return std::nullopt;
        if (word)
            words << *word;
        return words;
    }

    // Has systemd's own check of units read the unit, as a user's, its command included.
    void verifiedBySystemd(const QString& unit) const
    {
        const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
        QVERIFY2(!analyze.isEmpty(), "systemd-analyze is missing: install systemd");
        QTemporaryDir folder;
        QVERIFY(QDir().mkdir(folder.filePath("run"),
                             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        writeBytes(folder.filePath("quorvex-27960.service"), unit.toUtf8());
        QProcess verify;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", folder.filePath("run"));
        verify.setProcessEnvironment(environment);
        verify.setProcessChannelMode(QProcess::MergedChannels);
        verify.start(analyze,
                     {"--user", "--man=no", "verify", folder.filePath("quorvex-27960.service")});
        QVERIFY(verify.waitForFinished(30000));
        QVERIFY2(verify.exitCode() == 0, verify.readAll().constData());
    }

    // The README's container command, run as written without the container: its words after
    // the image, the paths under its volumes' container sides mapped to the test's tree and
    // config file as the volumes map them to the host's, and the program found on the path,
    // as the image installs it.
    static QStringList containerCommand(const FakeGameTree& tree)
    {
        const QString readme = QString::fromUtf8(readAll(README));
        const qsizetype at = readme.indexOf("docker run", readme.indexOf("<!-- container -->"));
        const QString line = readme.mid(at, readme.indexOf("\n    docker logs", at) - at)
                                 .replace(QRegularExpression("\\\\\n\\s*"), " ");
        const QStringList words = QProcess::splitCommand(line);
        QList<std::pair<QString, QString>> volumes;
        qsizetype i = 2;
        for (; i < words.size() && words[i].startsWith('-'); ++i) {
            if (words[i] == "-v") {
                const QStringList volume = words[++i].split(':');
                volumes << std::pair{volume[1],
                                     volume[0].endsWith(".cfg") ? tree.outputPath : tree.gameDir};
            } else if (words[i] != "-d" && words[i] != "--init") {
                ++i; // an option's value
            }
        }
        QStringList command{"env", "PATH=" + QFileInfo(PROGRAM).path() + ':' + qgetenv("PATH")};
        for (QString word : words.mid(i + 1)) {
            for (const auto& [inside, host] : volumes) {
                if (word == inside || word.startsWith(inside + '/'))
                    word = host + word.mid(inside.size());
            }
            command << word;
        }
        return command;
    }

    // A script as an operator writes one by hand.
    static constexpr char kHandWritten[] = "// mine\nexec bans\nseta g_motd \"Old\" // note\n"
                                           "map q3dm1 ; bind x y\n";

private slots:
    void init() { m_stateHome.clear(); }

    void initTestCase()
    {
        adoptOrphans();
        writeBytes(m_dir.filePath("VELDORIQUE.conf"), "[OPTIONS]\nSAVECFG=saved.cfg\n");
        writeBytes(m_dir.filePath("old.cfg"), "old");
        writeBytes(m_dir.filePath("secret.cfg"), "set g_password \"s3cret\"\nmap q3dm1\n");
        writeBytes(m_dir.filePath("rotation.cfg"),
                   "set d1 \"map q3dm1; set nextmap vstr d2\"\n"
                   "set d2 \"map q3dm7; set sv_adminPass s3cret; set nextmap vstr d1\"\nvstr d1\n");
        QCOMPARE(mkfifo(QFile::encodeName(m_dir.filePath("pipe")), 0600), 0);
        QDir().mkpath(m_dir.filePath("game/arena/maps"));
        QDir().mkpath(m_dir.filePath("game/baseq3"));
        writeBytes(m_dir.filePath("game/arena/maps/q3dm17.bsp"), smallMap());
        writeBytes(m_dir.filePath("game/arena/broken.pk3"), "PK");
        writeZip(m_dir.filePath("game/baseq3/maps.pk3"), {{"maps/Q3DM7.bsp", smallMap()}});
        QVERIFY(QFile::link("secret.cfg", m_dir.filePath("linked.cfg")));
        // Scripts written back by another path to each: a link, a hard link and "..".
        for (const char* name : {"soft.cfg", "hard.cfg", "dots.cfg"})
            writeBytes(m_dir.filePath(name), kHandWritten);
        QVERIFY(QFile::link("soft.cfg", m_dir.filePath("soft-link.cfg")));
        QCOMPARE(link(QFile::encodeName(m_dir.filePath("hard.cfg")),
                      QFile::encodeName(m_dir.filePath("hard-link.cfg"))),
                 0);
        QDir().mkpath(m_dir.filePath("sub"));
        QDir().mkpath(m_dir.filePath("systemd/user"));
        writeBytes(m_dir.filePath("systemd/user/quorvex-27999.service"), "[Unit]\n");
        // A device node like /dev/null, which only root can make.
        if (geteuid() == 0)
            QCOMPARE(
                mknod(QFile::encodeName(m_dir.filePath("null")), S_IFCHR | 0666, makedev(1, 3)), 0);
    }

    // Each use with its exit status, what it prints or its file holds (the start of its help),
    // and what it says on standard error.
    void usesOfTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("file"); // holds the output when not empty
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("err");
        const QByteArray none;
        // clang-format off
        QTest::newRow("help") << QStringList{"--help"} << none << 0 << ""
                              << QByteArray("Usage: quorvex-config-creator [FILE]\n"
                                            "  or:  quorvex-config-creator create [--from SCRIPT] [SETTINGS] [--rotation MAP,MAP] [--output FILE]\n"
                                            "  or:  quorvex-config-creator show [--json] SCRIPT\n"
                                            "  or:  quorvex-config-creator maps [--game-dir DIR] [--port N] [--json]\n"
                                            "  or:  quorvex-config-creator run [--game-dir DIR] [--output FILE] [--port N] [--replace] [--fresh] [--wait] [--restart WHEN]\n"
                                            "  or:  quorvex-config-creator service [--game-dir DIR] [--output FILE] [--port N] [--print] [--enable] [--remove]\n"
                                            "  or:  quorvex-config-creator status [--game-dir DIR] [--port N] [--json]\n"
                                            "  or:  quorvex-config-creator stop [--game-dir DIR] [--port N]\n"
                                            "  or:  quorvex-config-creator rcon [--game-dir DIR] [--port N] [--color WHEN] COMMAND...\n"
                                            "  or:  quorvex-config-creator players [--game-dir DIR] [--port N] [--color WHEN] [--json]\n"
                                            "  or:  quorvex-config-creator say [--game-dir DIR] [--port N] [--color WHEN] TEXT...\n"
                                            "  or:  quorvex-config-creator kick [--game-dir DIR] [--port N] [--color WHEN] PLAYER\n"
                                            "  or:  quorvex-config-creator log [--game-dir DIR] [--port N] [--lines N] [--follow] [--color WHEN]\n"
                                            "  or:  quorvex-config-creator console [--game-dir DIR] [--port N] [--color WHEN]\n"
                                            "  or:  quorvex-config-creator help [COMMAND]\n") << "";
        QTest::newRow("help of a command") << QStringList{"create", "--help"} << none << 0 << ""
                                           << QByteArray("Usage: quorvex-config-creator create [--from SCRIPT] [SETTINGS] [--rotation MAP,MAP] [--output FILE]\n\n"
                                                         "Check the settings and write the config file, as Create Config does.\n\n") << "";
        QTest::newRow("help as a command") << QStringList{"help", "status"} << none << 0 << ""
                                           << QByteArray("Usage: quorvex-config-creator status [--game-dir DIR] [--port N] [--json]\n\n"
                                                         "Show the servers that this tool started and that still run.\n\n") << "";
        QTest::newRow("version") << QStringList{"-v"} << none << 0 << "" << QByteArray("quorvex-config-creator 1.0.0\n") << "";
        QTest::newRow("create") << QStringList{"create", "--server-name", "Arena", "--rcon-password=-x", "--output", "a.cfg"} << none << 0 << "a.cfg"
                                << scriptWith({{&ServerSettings::serverName, "Arena"}, {&ServerSettings::rconPassword, "-x"}}) << "";
        QTest::newRow("show") << QStringList{"show", "a.cfg"} << none << 0 << ""
                              << QByteArray("--server-name=Arena \\\n--motd= \\\n--max-clients=16 \\\n--time-limit=30 \\\n--connection-password= \\\n"
                                            "--reserved-spaces=0 \\\n--reserved-password= \\\n--admin-password= \\\n--rcon-password=-x \\\n"
                                            "--region=0 \\\n--map=quorvexmap1\n") << "";
        QTest::newRow("show as JSON") << QStringList{"show", "--json", "rotation.cfg"} << none << 0 << ""
                                      << QByteArray("{\n    \"admin-password\": \"\",\n    \"connection-password\": \"\",\n    \"map\": \"q3dm1\",\n"
                                                    "    \"max-clients\": \"8\",\n    \"motd\": \"\",\n    \"rcon-password\": \"\",\n    \"region\": \"0\",\n"
                                                    "    \"reserved-password\": \"\",\n    \"reserved-spaces\": \"0\",\n    \"rotation\": [\n        \"q3dm7\"\n    ],\n"
                                                    "    \"server-name\": \"noname\",\n    \"time-limit\": \"0\",\n    \"uncarried\": [\n"
                                                    "        {\n            \"line\": 1,\n            \"text\": \"set d1 \\\"map q3dm1; set nextmap vstr d2\\\"\"\n        },\n"
                                                    "        {\n            \"line\": 2,\n            \"text\": \"set d2 \\\"map q3dm7; set sv_adminPass ********; set nextmap vstr d1\\\"\"\n        },\n"
                                                    "        {\n            \"line\": 3,\n            \"text\": \"vstr d1\"\n        }\n    ]\n}\n") << "";
        QTest::newRow("create from a script") << QStringList{"create", "--from", "a.cfg", "--max-clients=20"} << none << 0 << "a.cfg"
                                              << scriptWith({{&ServerSettings::serverName, "Arena"}, {&ServerSettings::rconPassword, "-x"},
                                                             {&ServerSettings::maxClients, "20"}}) << "";
        QTest::newRow("create to standard output") << QStringList{"create", "--map", "q3dm1", "--output", "-"} << none << 0 << ""
                                                   << scriptWith({{&ServerSettings::initialMap, "q3dm1"}}) << "";
        QTest::newRow("refused") << QStringList{"create", "--server-name", "a\"b", "--output", "old.cfg"} << none << 1 << "old.cfg" << QByteArray("old")
                                 << "--server-name: remove the double quotes";
        QTest::newRow("no script") << QStringList{"show", "none.cfg"} << none << 1 << "" << QByteArray() << "The script \"none.cfg\" does not exist.";
        QTest::newRow("create without a file") << QStringList{"create", "--motd", "x"} << none << 2 << "" << QByteArray()
                                               << "create needs --output FILE, the file to write, or --from SCRIPT";
        QTest::newRow("from standard input") << QStringList{"create", "--from", "-", "--max-clients", "24", "--output", "in.cfg"}
                                             << QByteArray("set rconPassword \"s3cret\"\n") << 0 << "in.cfg"
                                             << QByteArray("set rconPassword \"s3cret\"\nset sv_maxclients 24\n") << "";
        QTest::newRow("standard input kept") << QStringList{"create", "--from", "-", "--output", "kept.cfg"}
                                             << QByteArray("set sv_fps 30\nset timelimit 9\nmap q3dm2 ; bind x y\n") << 0 << "kept.cfg"
                                             << QByteArray("set sv_fps 30\nset timelimit 9\nmap q3dm2 ; bind x y\n")
                                             << "Standard input holds commands that the settings cannot carry:\nline 1: set sv_fps 30\nline 3: bind x y\n"
                                                "Writing the settings back to it keeps them as they stand.";
        QTest::newRow("show of a tournament") << QStringList{"show", "-"} << QByteArray("set g_gametype 1\nmap q3dm1\n") << 0 << ""
                                              << QByteArray("--server-name=noname \\\n--motd= \\\n--max-clients=8 \\\n--time-limit=0 \\\n--connection-password= \\\n"
                                                            "--reserved-spaces=0 \\\n--reserved-password= \\\n--admin-password= \\\n--rcon-password= \\\n"
                                                            "--region=0 \\\n--map=q3dm1\n")
                                              << "The script sets g_gametype 1, a tournament, where the game restarts its map";
        QTest::newRow("show of a rotation that turns to a tournament") << QStringList{"show", "-"}
            << QByteArray("set d1 \"map q3dm1; set nextmap vstr d2\"\nset d2 \"map q3dm2; set nextmap vstr d3\"\n"
                          "set d3 \"seta g_gametype 1 ; map q3tourney2 ; set nextmap vstr d4\"\nvstr d1\n") << 0 << ""
            << QByteArray("--server-name=noname \\\n--motd= \\\n--max-clients=8 \\\n--time-limit=0 \\\n--connection-password= \\\n"
                          "--reserved-spaces=0 \\\n--reserved-password= \\\n--admin-password= \\\n--rcon-password= \\\n"
                          "--region=0 \\\n--map=q3dm1 \\\n--rotation=q3dm2,q3tourney2\n")
            << "At the ends of levels the server plays q3dm2, q3tourney2, where g_gametype 1 makes a tournament that only ever restarts q3tourney2.";
        QTest::newRow("rotation") << QStringList{"create", "--map", "q3dm1", "--rotation", "q3dm7,q3dm17", "--output", "-"} << none << 0 << ""
                                  << scriptWith({{&ServerSettings::initialMap, "q3dm1"}}, {"q3dm7", "q3dm17"}) << "";
        QTest::newRow("rotation of another form") << QStringList{"create", "--from", "rotation.cfg", "--rotation", "q3dm1"} << none << 1 << ""
                                                  << QByteArray() << "--rotation: \"rotation.cfg\" plays a rotation of its own, on lines 1, 2, 3,";
        QTest::newRow("rotation map refused") << QStringList{"create", "--rotation", "q3dm7,bad map", "--output", "old.cfg"} << none << 1 << "old.cfg"
                                              << QByteArray("old") << "The map rotation's map \"bad map\": remove the spaces";
        QTest::newRow("password masked") << QStringList{"create", "--from", "secret.cfg", "--output", "-"} << none << 0 << ""
                                         << scriptWith({{&ServerSettings::serverName, "noname"}, {&ServerSettings::maxClients, "8"}, {&ServerSettings::timeLimit, "0"}, {&ServerSettings::initialMap, "q3dm1"}})
                                         << "\"secret.cfg\" holds commands that the settings cannot carry:\nline 1: set g_password \"********\"\n";
        QTest::newRow("more players than the server holds") << QStringList{"create", "--max-clients", "100", "--output", "old.cfg"} << none << 1 << "old.cfg"
                                                            << QByteArray("old") << "--max-clients: give a whole number from 1 to 64;";
        const QByteArray edited = QByteArray(kHandWritten).replace("Old", "New");
        const QString kept = "Writing the settings back to it keeps them as they stand.";
        QTest::newRow("written back through a link")
            << QStringList{"create", "--from", "soft.cfg", "--output", "soft-link.cfg", "--motd", "New"}
            << none << 0 << "soft.cfg" << edited << kept;
        QTest::newRow("written back through a hard link")
            << QStringList{"create", "--from", "hard.cfg", "--output", "hard-link.cfg", "--motd", "New"}
            << none << 0 << "hard.cfg" << edited << kept;
        QTest::newRow("a value that runs on over lines")
            << QStringList{"create", "--from", "-", "--output", "runs-on.cfg", "--server-name", "C"}
            << QByteArray("/* it\"s */ set sv_hostname A\nmap q3dm1\n\" */ set g_motd M\n") << 1 << ""
            << QByteArray() << "--server-name: line 1 of the script sets sv_hostname with a command that runs on";
        QTest::newRow("written back by ..")
            << QStringList{"create", "--from", "dots.cfg", "--output", "sub/../dots.cfg", "--motd", "New"}
            << none << 0 << "dots.cfg" << edited << kept;
        QTest::newRow("read through a link") << QStringList{"create", "--from", "linked.cfg", "--output", "-"} << none << 0 << ""
                                             << scriptWith({{&ServerSettings::serverName, "noname"}, {&ServerSettings::maxClients, "8"}, {&ServerSettings::timeLimit, "0"}, {&ServerSettings::initialMap, "q3dm1"}}) << "\"linked.cfg\" holds commands";
        QTest::newRow("show a pipe") << QStringList{"show", "pipe"} << none << 1 << "" << QByteArray()
                                     << "\"pipe\" is a named pipe (FIFO), not a script file, and was not opened.";
        QTest::newRow("read from a pipe") << QStringList{"create", "--from", "pipe", "--output", "p.cfg"} << none << 1 << "" << QByteArray()
                                          << "\"pipe\" is a named pipe (FIFO)";
        QTest::newRow("write to a pipe") << QStringList{"create", "--output", "pipe"} << none << 1 << "" << QByteArray()
                                         << "Could not write the config file \"pipe\": it is a named pipe (FIFO), not a regular file";
        QTest::newRow("write to a device (root)") << QStringList{"create", "--output", "null"} << none << 1 << "" << QByteArray()
                                                  << "Could not write the config file \"null\": it is a character device, not a regular file";
        QTest::newRow("window without a display") << QStringList{} << none << 1 << "" << QByteArray()
                                                  << "there is no display to show the window on.";
        QTest::newRow("mistyped command") << QStringList{"crate"} << none << 2 << "" << QByteArray()
                                          << "unknown command 'crate'; did you mean 'create'?\nTry 'quorvex-config-creator --help'";
        QTest::newRow("mistyped option") << QStringList{"create", "--server-nme", "x"} << none << 2 << "" << QByteArray()
                                         << "unknown option '--server-nme'; did you mean '--server-name'?\nTry";
        QTest::newRow("begun option") << QStringList{"status", "--js"} << none << 2 << "" << QByteArray() << "unknown option '--js'; did you mean '--json'?";
        QTest::newRow("unknown option") << QStringList{"create", "--nope"} << none << 2 << "" << QByteArray() << "unknown option '--nope'.\nTry";
        QTest::newRow("option of another command") << QStringList{"run", "--map", "x"} << none << 2 << "" << QByteArray()
                                                   << "run takes no option --map.\nTry 'quorvex-config-creator run --help' for more information.\n";
        QTest::newRow("option of the command only") << QStringList{"stop", "-j"} << none << 2 << "" << QByteArray()
                                                    << "unknown option '-j'.\nTry 'quorvex-config-creator stop --help'";
        QTest::newRow("another program's command") << QStringList{"restart"} << none << 2 << "" << QByteArray()
                                                   << "unknown command 'restart'; did you mean 'run --replace'?";
        QTest::newRow("maps") << QStringList{"maps", "--game-dir", "game"} << none << 0 << ""
                              << "q3dm17  " + QFile::encodeName(m_dir.filePath("game/arena/maps/q3dm17.bsp")) +
                                     " (a loose file, which clients cannot download)\nq3dm7   " +
                                     QFile::encodeName(m_dir.filePath("game/baseq3/maps.pk3")) + "\n"
                              << "The server passes over \"" + m_dir.filePath("game/arena/broken.pk3") + "\": it is no zip file";
        QTest::newRow("stop of no folder") << QStringList{"stop", "--game-dir", "/no/such/typo"} << none << 1 << "" << QByteArray()
                                           << "--game-dir: \"/no/such/typo\" is no folder, so no server is of it; nothing was stopped.";
        QTest::newRow("a port of the system's") << QStringList{"rcon", "--port", "80", "status"} << none << 2 << "" << QByteArray()
                                                << "--port takes a UDP port from 1024 to 65535, such as 27961, not '80'.";
        QTest::newRow("a port with a sign") << QStringList{"stop", "--port", "+27961"} << none << 2 << "" << QByteArray()
                                            << "--port takes a UDP port from 1024 to 65535, such as 27961, not '+27961'.";
        QTest::newRow("a restart of its own") << QStringList{"run", "--restart=sometimes"} << none << 2 << "" << QByteArray()
                                              << "--restart takes no, on-failure or always, as systemd's Restart= does, not 'sometimes'.";
        QTest::newRow("a unit printed and removed") << QStringList{"service", "--print", "--remove"} << none << 2 << "" << QByteArray()
                                                    << "service takes one of --print, --enable and --remove.";
        QTest::newRow("a unit not the tool's") << QStringList{"service", "--remove", "--port", "27999"} << none << 1 << "" << QByteArray()
                                               << "\"" + m_dir.filePath("systemd/user/quorvex-27999.service") + "\" is no unit that the tool wrote, and is left as it is.";
        QTest::newRow("maps of no game tree") << QStringList{"maps", "--game-dir", "."} << none << 1 << "" << QByteArray()
                                              << "--game-dir: \"" + m_dir.path() + "/.\" is no game tree: it has neither an arena nor a baseq3 folder.";
        // clang-format on
    }

    void usesOfTheCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(QString, file);
        QFETCH(QByteArray, out);
        QFETCH(QString, err);
        if (QString(QTest::currentDataTag()).endsWith("(root)") && geteuid() != 0)
            QSKIP("Only root can make a device node.");
        const QByteArray store = readAll(m_dir.filePath("VELDORIQUE.conf"));
        const Ran ran = run(arguments, input);
        QCOMPARE(ran.status, status);
        QVERIFY2(err.isEmpty() ? ran.err.isEmpty() : ran.err.contains(err), qPrintable(ran.err));
        const QByteArray written = file.isEmpty() ? ran.out : readAll(m_dir.filePath(file));
        const bool help = arguments.contains("--help") || arguments.value(0) == "help";
        QCOMPARE(help ? written.first(out.size()) : written, out);
        // Special files stay as they were, and no secret is shown.
        for (const char* special : {"pipe", "null"})
            QVERIFY(!QFileInfo(m_dir.filePath(special)).isFile());
        QVERIFY2(!ran.err.contains("s3cret"), qPrintable(ran.err));
        // No windowing system is loaded, and the saved paths stay as they were.
        QVERIFY2(!ran.err.contains("platforms"), qPrintable(ran.err));
        QCOMPARE(readAll(m_dir.filePath("VELDORIQUE.conf")), store);
    }

    // Talking to a running server, through its console input and then, as one that an
    // earlier version started, through the engine's remote console with the password read
    // from the server's own script: each reply whole, and the commands that would empty the
    // server or end it behind the records refused before they are sent.
    void talkingToTheServer()
    {
        FakeGameTree tree(FakeGameTree::RealEngine);
        const auto serve = [&](const QStringList& settings, bool throughInput) {
            if (run(QStringList{"create", "--server-name", "Talk", "--map", "quorvexmap1",
                                "--output", tree.outputPath} +
                    settings)
                        .status != 0 ||
                run({"run", "--replace", "--game-dir", tree.gameDir, "--output", tree.outputPath})
                        .status != 0)
                qFatal("the server did not start");
            const QJsonObject server =
                QJsonDocument::fromJson(run({"status", "--json"}).out).array()[0].toObject();
            const QString record =
                m_dir.filePath(".local/state/quorvex-config-creator/servers/%1.json")
                    .arg(server["pid"].toInteger());
            QJsonObject json = QJsonDocument::fromJson(readAll(record)).object();
            if (!QFileInfo::exists(json["input"].toString()))
                qFatal("the server has no console input");
            if (!throughInput) {
                json.remove("input");
                writeBytes(record, QJsonDocument(json).toJson());
            }
            return server;
        };
        serve({}, true);
        QVERIFY(run({"rcon", "status"}).out.contains("map: quorvexmap1\n"));
        serve({}, false);
        Ran ran = run({"rcon", "status"});
        QVERIFY2(ran.status == 1 && ran.err.contains("sets no remote console password, so the "
                                                     "server takes no command. Set one with "
                                                     "create --rcon-password"),
                 qPrintable(ran.err));
        const QString longEcho = QString(230, u'x');
        for (const bool throughInput : {true, false}) {
            const QJsonObject server = serve({"--rcon-password", "s3cret"}, throughInput);
            for (const auto& [arguments, status, said] :
                 {std::tuple{QStringList{"rcon", "status"}, 0, "map: quorvexmap1\n"},
                  // Six packets of reply.
                  std::tuple{QStringList{"rcon", "cvarlist"}, 0, " total cvars\n"},
                  std::tuple{QStringList{"rcon", "set", "g_motd", "two words"}, 0, ""},
                  std::tuple{QStringList{"rcon", "print", "g_motd"}, 0,
                             "\"g_motd\" is:\"two words"},
                  std::tuple{QStringList{"rcon", "MAP", "quorvexmap2"}, 1,
                             "The server cannot load the map \"quorvexmap2\" from the arena or "
                             "baseq3 folder; did you mean quorvexmap1? The command was not sent."},
                  std::tuple{QStringList{"rcon", "killserver"}, 1, "Give the stop command"},
                  std::tuple{QStringList{"rcon", "quit", "/**/"}, 1, "Give the stop command"},
                  // Read as the engine reads a packet, whichever way in: not as killserver,
                  // but as a word that the game says to the players.
                  std::tuple{QStringList{"rcon", "\u00e9killserver"}, 0, "server: ..killserver"},
                  std::tuple{QStringList{"rcon", "wait", "100000"}, 1, "wait is not sent"},
                  std::tuple{QStringList{"rcon", "vstr", "rconpassword"}, 1,
                             "vstr is not sent: it runs a variable's text"},
                  std::tuple{QStringList{"rcon", "echo", "Bad", "rconpassword."}, 0,
                             "Bad rconpassword.\n"},
                  std::tuple{QStringList{"rcon", "--game-dir", m_dir.path(), "status"}, 3,
                             "No server that this tool started is running in that game "
                             "directory"},
                  // Colours as the engine's terminal shows them, or none.
                  std::tuple{QStringList{"rcon", "--color=always", "echo", "^1red^7white"}, 0,
                             "\x1b[0m\x1b[31mred\x1b[0m\x1b[0mwhite\x1b[0m\n"},
                  std::tuple{QStringList{"rcon", "echo", "^1red^7white"}, 0, "redwhite\n"},
                  std::tuple{QStringList{"say", "--color", "often", "hi"}, 2,
                             "--color takes auto, always or never, not 'often'."},
                  std::tuple{QStringList{"players"}, 0,
                             "map: quorvexmap1\nNo player is on the server.\n"},
                  std::tuple{QStringList{"players", "--json"}, 0, "\"players\": [\n    ]"},
                  std::tuple{QStringList{"say", "a/*b"}, 0, "console: a/*b\n"},
                  std::tuple{QStringList{"say", "back", "at // nine"}, 0,
                             "console: back at // nine\n"},
                  std::tuple{QStringList{"kick", "^1Nobody"}, 1,
                             "No player on the server is \"^1Nobody\""},
                  std::tuple{QStringList{"rcon", "seta", "RCONPASSWORD", "other"}, 1,
                             "changes the server's remote console password"},
                  // The console input takes what one read of the engine's takes.
                  std::tuple{QStringList{"rcon", "echo", longEcho}, throughInput ? 1 : 0,
                             throughInput ? "takes one command of at most 221 bytes"
                                          : "xxxxxxxxxx\n"}}) {
                ran = run(arguments);
                QVERIFY2(ran.status == status && (status ? ran.err : ran.out).contains(said),
                         qPrintable(arguments.join(u' ') + u'\n' + ran.out + ran.err));
                QVERIFY2(!(ran.out + ran.err).contains("s3cret"), qPrintable(ran.out + ran.err));
            }
            // Commands piped into the console run in turn, to the end of the input; through
            // the console input, a line that the engine would run as two is not written.
            ran = run({"console"},
                      "status\n\nsay piped\nquit/**/\nsay a; quit\ncvarlist rconp\nsay after");
            QVERIFY2(ran.status == 0 && ran.out.contains("map: quorvexmap1\n") &&
                         ran.out.contains("rconPassword \"********\"") &&
                         !ran.out.contains("s3cret") && ran.out.contains("console: piped\n") &&
                         ran.out.contains("console: after") &&
                         ran.err.contains("Give the stop command") &&
                         ran.out.contains("console: a; quit") != throughInput &&
                         !ran.out.contains("quorvex-end-"),
                     qPrintable(ran.out + ran.err));
            // A server that reads nothing: the tool's own arguments and environment hold no
            // password while it waits, and it gives up.
            kill(pid_t(server["pid"].toInteger()), SIGSTOP);
            QProcess waiting;
            start(waiting, {"rcon", "status"});
            QVERIFY(waiting.waitForStarted());
            QTest::qWait(500);
            for (const char* file : {"cmdline", "environ"})
                QVERIFY(!readAll(QStringLiteral("/proc/%1/%2").arg(waiting.processId()).arg(file))
                             .contains("s3cret"));
            QVERIFY(waiting.waitForFinished(10000));
            QCOMPARE(waiting.exitCode(), 1);
            QVERIFY(waiting.readAllStandardError().contains(
                throughInput ? "has not read the command from its console input"
                             : "did not answer the command"));
            // Through the input, nothing more is written while that command waits unread.
            QVERIFY(run({"rcon", "status"})
                        .err.contains(throughInput ? "Nothing was written" : "did not answer"));
            kill(pid_t(server["pid"].toInteger()), SIGCONT);
        }
        // The console at a terminal: its prompt, a command and its reply, and Ctrl+D.
        serve({"--rcon-password", "s3cret"}, true);
        int terminal = -1;
        int side = -1;
        QCOMPARE(openpty(&terminal, &side, nullptr, nullptr, nullptr), 0);
        QProcess console;
        console.setStandardInputFile(QString::fromLocal8Bit(ttyname(side)));
        start(console, {"console"});
        QVERIFY(console.waitForStarted());
        QTRY_COMPARE(console.peek(2), "] ");
        QCOMPARE(write(terminal, "status\n", 7), 7);
        QTRY_VERIFY(console.peek(1 << 20).contains("map: quorvexmap1\n"));
        QCOMPARE(write(terminal, "\x04", 1), 1);
        QVERIFY(console.waitForFinished(10000));
        QCOMPARE(console.exitCode(), 0);
        QVERIFY(console.readAllStandardOutput().endsWith("] \n"));
        close(side);
        close(terminal);
        // The log's last lines, and followed across a replace until the server stops.
        const QJsonObject first =
            QJsonDocument::fromJson(run({"status", "--json"}).out).array()[0].toObject();
        ran = run({"log", "-n", "2"});
        QCOMPARE(ran.status, 0);
        QList<QByteArray> logged = readAll(first["log"].toString()).split('\n');
        logged.removeIf([](const QByteArray& line) { return line.startsWith("quorvex-end-"); });
        QCOMPARE(ran.out, logged.last(3).join('\n'));
        QProcess follow;
        start(follow, {"log", "--lines", "0", "-f"});
        QVERIFY(follow.waitForStarted());
        serve({"--rcon-password", "s3cret"}, true);
        QVERIFY(run({"rcon", "echo", "after the replace"}).status == 0);
        QTRY_VERIFY_WITH_TIMEOUT(follow.peek(1 << 20).contains("\nafter the replace\n"), 10000);
        const QByteArray followed = follow.readAllStandardOutput();
        QVERIFY(followed.contains("ShutdownGame") && !followed.contains("quorvex-end-"));
        QVERIFY(follow.readAllStandardError().contains("The server was replaced; following"));
        QCOMPARE(run({"stop"}).status, 0);
        QVERIFY(follow.waitForFinished(25000));
        QCOMPARE(follow.exitCode(), 0);
        QVERIFY(follow.readAllStandardError().endsWith("The server has stopped.\n"));
        // A server that holds another password than its script.
        const QString script = serve({"--rcon-password", "s3cret"}, false)["script"].toString();
        writeBytes(script, readAll(script).replace("s3cret", "other"));
        ran = run({"rcon", "status"});
        QVERIFY2(ran.status == 1 && ran.err.contains("refused the remote console password"),
                 qPrintable(ran.err));
        QVERIFY(waitForAnswer("getstatus", 5000).has_value());
        // No console input is left behind by the servers that ended, nor by those whose
        // records came to name none.
        serve({}, true);
        QCOMPARE(run({"stop"}).status, 0);
        QCOMPARE(QDir(m_dir.filePath(".local/state/quorvex-config-creator/servers"))
                     .entryList({"input.*"}, QDir::System),
                 QStringList());
    }

    // run --wait stays with its server, whose console lines it prints as they come, until it
    // ends: stopped by SIGTERM, its shutdown shown, or by a stop given elsewhere, with 0; after
    // a crash, even one that status told first, with the server's own status, which the
    // engine makes 2. An output that takes nothing stops the server. With --restart, a crash
    // or a silence is followed by a restart, told once, and the log goes on; a server that
    // cannot start again ends the wait after the start limit; a stop is followed by none. The
    // same without --wait, through the tool's own process, which a replace keeps.
    void runWaitsForItsServer()
    {
        FakeGameTree tree(FakeGameTree::RealEngine);
        QCOMPARE(run({"create", "--map", "quorvexmap1", "--output", tree.outputPath}).status, 0);
        // The unit that service writes names the tree and the config file by their paths,
        // as odd as they come.
        const QString oddTree = m_dir.filePath("a \"tree\" of %h's, $HOME \\x");
        const QString oddConfig = oddTree + "/100% my.cfg";
        QVERIFY(QFile::link(tree.gameDir, oddTree));
        QVERIFY(QFile::copy(tree.outputPath, oddConfig));
        qputenv("QUORVEX_TEST_RESTART_MS", "100,3000");
        // The server that runs in place of the one before, once status has told why, once, or
        // where the operator waits with it, not at all.
        const auto restarted = [&](pid_t before, bool waited) {
            QJsonObject now;
            QString told;
            const auto back = [&] {
                const Ran status = run({"status", "--json"});
                told += status.err;
                now = QJsonDocument::fromJson(status.out)[0].toObject();
                return now["pid"].toInteger(before) != before && now["answering"].toBool() &&
                       now["restart"].toObject()["restarts"].toInt() == 1;
            };
            const bool toldOnce = QTest::qWaitFor(back, 20000) &&
                                  told.contains("the tool starts it again") != waited &&
                                  !run({"status"}).err.contains("again");
            return toldOnce ? now : QJsonObject();
        };
        const QString map = tree.gameDir + "/baseq3/maps/" + EngineTree::kMap + ".bsp";
        for (const auto& [end, status] : {std::pair{"SIGTERM", 0},
                                          {"restarted after SIGSEGV, SIGTERM", 0},
                                          {"restarted after silence, stop", 0},
                                          {"restarted, a crash loop", 1},
                                          {"the unit's command, SIGTERM", 0},
                                          {"the container's command, SIGTERM", 0},
                                          {"stop", 0},
                                          {"SIGSEGV", 2},
                                          {"SIGSEGV told by status", 2},
                                          {"full output", 1}}) {
            const std::string_view how = end;
            QProcess waiting;
            if (how == "full output")
                waiting.setStandardOutputFile("/dev/full");
            QStringList command{PROGRAM,      "run",      "--wait",       "--game-dir",
                                tree.gameDir, "--output", tree.outputPath};
            if (how.starts_with("restarted"))
                command << "--restart=on-failure";
            if (how.starts_with("the unit")) {
                const Ran printed = run({"service", "--print", "--game-dir", oddTree, "--output",
                                         oddConfig, "--port", "27960"});
                QCOMPARE(printed.status, 0);
                const QString unit = QString::fromUtf8(printed.out);
                const QRegularExpression execStart("^ExecStart=(.*)$",
                                                   QRegularExpression::MultilineOption);
                command = systemdWords(execStart.match(unit).captured(1)).value_or(QStringList());
                QCOMPARE(command, (QStringList{QFileInfo(PROGRAM).canonicalFilePath(), "run",
                                               "--wait", "--game-dir", oddTree, "--output",
                                               oddConfig, "--port", "27960"}));
                verifiedBySystemd(unit);
                // Written, the unit is kept once edited, until removed.
                const QStringList service{"service", "--game-dir", oddTree, "--output", oddConfig};
                const QString written = m_dir.filePath("systemd/user/quorvex-27960.service");
                QCOMPARE(run(service).status, 0);
                QCOMPARE(readAll(written), printed.out);
                writeBytes(written, printed.out + "Nice=5\n");
                QCOMPARE(run(service).status, 1);
                QCOMPARE(readAll(written), printed.out + "Nice=5\n");
                QCOMPARE(run({"service", "--remove"}).status, 0);
                QVERIFY(!QFile::exists(written));
            }
            if (how.starts_with("the container")) {
                command = containerCommand(tree);
                QCOMPARE(command.mid(2),
                         (QStringList{"quorvex-config-creator", "run", "--wait", "--game-dir",
                                      tree.gameDir, "--output", tree.outputPath}));
            }
            start(waiting, command.mid(1), command[0]);
            QTRY_VERIFY2_WITH_TIMEOUT(
                how == "full output" || waiting.peek(1 << 20).contains("Common Initialization"),
                qPrintable(command.join(' ') + '\n' + waiting.readAllStandardError()), 15000);
            QTRY_VERIFY_WITH_TIMEOUT(how == "full output" ||
                                         waiting.peek(1 << 20).contains("answers as its script"),
                                     15000);
            const QJsonArray servers =
                QJsonDocument::fromJson(run({"status", "--json"}).out).array();
            const pid_t server = pid_t(servers[0].toObject()["pid"].toInteger());
            if (how == "stop") {
                QCOMPARE(run({"stop"}).status, 0);
            } else if (how.starts_with("restarted after")) {
                kill(server, how.find("SIGSEGV") != how.npos ? SIGSEGV : SIGSTOP);
                const QJsonObject back = restarted(server, true);
                QVERIFY(!back.isEmpty());
                QVERIFY(back["restart"].toObject()["lastReason"].toString().contains(
                    how.find("SIGSEGV") != how.npos ? "exited with status 2" : "no status query"));
                if (how.ends_with("stop"))
                    QCOMPARE(run({"stop"}).status, 0);
                else
                    kill(pid_t(waiting.processId()), SIGTERM);
                QTRY_VERIFY_WITH_TIMEOUT(processGone(pid_t(back["pid"].toInteger())), 15000);
            } else if (how.ends_with("crash loop")) {
                QVERIFY(QFile::rename(map, map + ".away"));
                kill(server, SIGSEGV);
            } else if (how.starts_with("SIGSEGV")) {
                if (how != "SIGSEGV")
                    kill(pid_t(waiting.processId()), SIGSTOP);
                kill(server, SIGSEGV);
                if (how != "SIGSEGV") {
                    QString told;
                    QTRY_VERIFY((told += run({"status"}).err).contains("has ended by itself"));
                    kill(pid_t(waiting.processId()), SIGCONT);
                }
            } else if (how.ends_with("SIGTERM")) {
                kill(pid_t(waiting.processId()), SIGTERM);
            }
            QVERIFY(waiting.state() == QProcess::NotRunning || waiting.waitForFinished(15000));
            const QByteArray err = waiting.readAllStandardError();
            QVERIFY2(waiting.exitCode() == status,
                     qPrintable(QString::number(waiting.exitCode()) + u' ' + end + u' ' + err));
            const QByteArray out = waiting.readAllStandardOutput();
            QCOMPARE(out.contains("----- Server Shutdown"), how != "full output");
            // The log goes on from the restarted server, never shown again from its start.
            QCOMPARE(out.count("Common Initialization"), how.starts_with("restarted after") ? 2
                                                         : how.ends_with("crash loop")      ? 5
                                                         : how == "full output"             ? 0
                                                                                            : 1);
            // Told where the operator waits, and not again by status.
            QCOMPARE(err.contains("the tool starts it again"), how.starts_with("restarted"));
            if (how.ends_with("crash loop")) {
                QVERIFY(QFile::rename(map + ".away", map));
                QVERIFY(err.contains("started 5 times within 5 minutes, so the tool starts it no "
                                     "more"));
            }
            QTest::qWait(500); // for a restart, which none should follow
            QCOMPARE(run({"status"}).status, 3);
            QVERIFY(processGone(server));
        }
        QVERIFY(!udpPortTaken(kServerPort));
        // Without --wait, the tool's own process stays with the server and restarts it; a
        // replace keeps it, and stop ends it first.
        const QStringList paths{"--game-dir", tree.gameDir, "--output", tree.outputPath};
        const Ran kept = run(QStringList{"run", "--restart=on-failure"} + paths);
        QVERIFY2(kept.status == 0 && kept.out.contains("starts it again when it fails"),
                 qPrintable(kept.err));
        QJsonObject server = QJsonDocument::fromJson(run({"status", "--json"}).out)[0].toObject();
        kill(pid_t(server["pid"].toInteger()), SIGSEGV);
        server = restarted(pid_t(server["pid"].toInteger()), false);
        const qint64 keeper = server["restart"].toObject()["supervisor"].toInteger();
        QVERIFY(!server.isEmpty() && processStatus(pid_t(keeper)));
        QCOMPARE(run(QStringList{"run", "--replace"} + paths).status, 0);
        server = QJsonDocument::fromJson(run({"status", "--json"}).out)[0].toObject();
        QCOMPARE(server["restart"].toObject()["policy"].toString(), "on-failure");
        QVERIFY(processGone(pid_t(keeper)));
        // A stop that cannot reach the tool's process stops nothing, as it would restart it.
        QLockFile held(
            m_dir.filePath(".local/state/quorvex-config-creator/servers/supervisions.lock"));
        QVERIFY(held.tryLock(0));
        const Ran refused = run({"stop"});
        QVERIFY2(refused.status == 1 && refused.err.contains("left the server"),
                 qPrintable(refused.err));
        QVERIFY(processStatus(pid_t(server["pid"].toInteger())));
        held.unlock();
        const Ran stopped = run({"stop"});
        QVERIFY2(stopped.status == 0 && stopped.out.contains("and the tool's process"),
                 qPrintable(stopped.out + stopped.err));
        QVERIFY(processGone(pid_t(server["restart"].toObject()["supervisor"].toInteger())));
        QTest::qWait(500);
        QCOMPARE(run({"status"}).status, 3);
        QVERIFY(!udpPortTaken(kServerPort));
        qunsetenv("QUORVEX_TEST_RESTART_MS");
    }

    // players and kick against a stand-in, a process of the test's remembered as a started
    // server, whose remote console a thread of the test answers with four clients.
    void talkingToAStandIn()
    {
        m_stateHome = m_dir.filePath("state-standin");
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_stateHome));
        QProcess standIn;
        standIn.start("sleep", {"60"});
        QVERIFY(standIn.waitForStarted());
        std::atomic<quint16> port = 0;
        std::atomic<bool> done = false;
        QByteArrayList commands;
        std::thread answering([&] {
            QUdpSocket server;
            server.bind(QHostAddress::LocalHost, 0);
            port = server.localPort();
            const QByteArray rcon = "\xff\xff\xff\xffrcon s3cret ";
            while (!done) {
                if (!server.waitForReadyRead(20))
                    continue;
                const QNetworkDatagram query = server.receiveDatagram();
                commands << query.data().mid(rcon.size());
                const QByteArray command = commands.last();
                const QList<QByteArray> replies = command == "status" ? standInStatus()
                                                  : command.startsWith("echo ")
                                                      ? QList{command.mid(5) + '\n'}
                                                      : QList<QByteArray>();
                for (const QByteArray& reply : replies)
                    server.writeDatagram(query.makeReply("\xff\xff\xff\xffprint\n" + reply));
            }
        });
        QTRY_VERIFY(port != 0);
        ServerRecord record;
        record.gameDir = m_dir.filePath("game");
        record.pid = record.group = standIn.processId();
        record.identity = *processIdentity(record.pid);
        record.port = port;
        record.script = m_dir.filePath("standin.cfg");
        record.startedAt = QDateTime::currentDateTime();
        writeBytes(record.script, "set rconPassword \"s3cret\"\n");
        QVERIFY(!StartedServers::remember(record));
        QStringList players;
        for (const QJsonValue player :
             QJsonDocument::fromJson(run({"players", "--json"}).out)["players"].toArray())
            players << QStringLiteral("%1|%2|%3|%4|%5|%6")
                           .arg(player["slot"].toInt())
                           .arg(player["name"].toString(), player["plainName"].toString(),
                                player["state"].toString(),
                                QString::number(player["ping"].toInt(-1)),
                                player["address"].toString());
        QCOMPARE(
            players,
            (QStringList{"0|^1Red^7Fox|RedFox|active|48|127.0.0.1:27961",
                         "1|A Name with^7 spaces|A Name with spaces|CNCT|-1|[::1]:27962",
                         "2|^^77seven|^7seven|ZMB|-1|bot", "11|redfox|redfox|active|9|loopback"}));
        for (const auto& [arguments, status, said] :
             {std::tuple{QStringList{"players"}, 0,
                         "map: q3dm17\n 0  RedFox  score 12  ping 48  127.0.0.1:27961  rate "
                         "25000\n 1  A Name with spaces  score -3  ping CNCT  [::1]:27962  rate "
                         "90000\n"},
              std::tuple{QStringList{"kick", "REDFOX"}, 1,
                         "2 players fit \"REDFOX\", by slot or name; give the slot of the one "
                         "to kick:\n  slot 0: RedFox, 127.0.0.1:27961\n  slot 11: redfox, "
                         "loopback"},
              std::tuple{QStringList{"kick", "a name WITH spaces"}, 0,
                         "Kicked A Name with spaces from slot 1."},
              std::tuple{QStringList{"kick", "11"}, 0, "Kicked redfox from slot 11."}}) {
            const Ran ran = run(arguments);
            QVERIFY2(ran.status == status && (status ? ran.err : ran.out).contains(said),
                     qPrintable(ran.out + ran.err));
        }
        done = true;
        answering.join();
        QVERIFY(commands.contains("clientkick 1") && commands.contains("clientkick 11") &&
                !commands.contains("clientkick 0"));
        standIn.kill();
        standIn.waitForFinished();
        qunsetenv("XDG_STATE_HOME");
    }

    // The servers' life against the real engine: run starts one and waits for its verdict;
    // run again refuses while the first holds the game's port, and --replace stops it
    // first, unless the game tree lacks what the new script loads; status shows it and stop
    // ends it. A start that fails leaves nothing running.
    void theServersLife()
    {
        FakeGameTree tree(FakeGameTree::RealEngine);
        const QStringList paths{"--game-dir", tree.gameDir, "--output", tree.outputPath};
        const auto create = [&](const QString& name, const QString& map) {
            QCOMPARE(
                run({"create", "--server-name", name, "--map", map, "--output", tree.outputPath})
                    .status,
                0);
        };
        const auto serving = [] {
            const std::optional<QByteArray> answer = waitForAnswer("getstatus", 5000);
            return answer ? infoPairs(answer->split('\n').value(1)).value("sv_hostname")
                          : QString();
        };
        const auto running = [&] {
            QList<int> pids;
            for (const QString& name : QDir(tree.root() + "/records").entryList({"pid.*"}))
                if (!processGone(name.mid(4).toInt()))
                    pids << name.mid(4).toInt();
            return pids;
        };
        create("First Arena", "quorvexmap1");
        Ran ran = run(QStringList{"run"} + paths);
        QCOMPARE(ran.status, 0);
        QVERIFY(ran.out.endsWith("; the server answers as its script sets it.\n"));
        const QList<int> first = running();
        QCOMPARE(first.size(), 1);

        create("Second Arena", "quorvexmap1");
        ran = run(QStringList{"run"} + paths);
        QCOMPARE(ran.status, 1);
        QVERIFY2(ran.err.startsWith("A server that this tool started already holds UDP port "
                                    "27960, so a new one would take another port, where "
                                    "players do not look: \"First Arena\" on quorvexmap1 with "
                                    "0 of 16 players, on UDP port 27960, process " +
                                    QString::number(first[0])) &&
                     ran.err.endsWith("Nothing was started. To stop it and start the new one "
                                      "in its place, give run --replace.\n"),
                 qPrintable(ran.err));
        QCOMPARE(running(), first);
        QCOMPARE(serving(), "First Arena");

        ran = run({"status"});
        QCOMPARE(ran.status, 0);
        for (const QString& line :
             QStringList{"Server of process " + QString::number(first[0]) + ", started ",
                         "  port: UDP 27960\n", "  name: First Arena\n", "  map: quorvexmap1\n",
                         "  players: 0 of 16\n"})
            QVERIFY2(ran.out.contains(line.toUtf8()), ran.out.constData());
        ran = run({"status", "--json"});
        QCOMPARE(ran.status, 0);
        const QJsonArray servers = QJsonDocument::fromJson(ran.out).array();
        QCOMPARE(servers.size(), 1);
        const QJsonObject server = servers[0].toObject();
        QCOMPARE(server["pid"].toInt(), first[0]);
        QCOMPARE(server["port"].toInt(), 27960);
        QCOMPARE(server["hostname"].toString(), "First Arena");
        QCOMPARE(server["map"].toString(), "quorvexmap1");
        QCOMPARE(server["maxClients"].toInt(), 16);
        QCOMPARE(server["players"].toArray().size(), 0);
        QCOMPARE(server["answering"].toBool(), true);
        const QString startedAt = server["startedAt"].toString();
        QVERIFY(QDateTime::fromString(startedAt, Qt::ISODate).isValid());
        QVERIFY2(QRegularExpression("T\\d\\d:\\d\\d:\\d\\d([+-]\\d\\d:\\d\\d|Z)$")
                     .match(startedAt)
                     .hasMatch(),
                 qPrintable(startedAt));
        QCOMPARE(server["script"].toString().left(tree.gameDir.size() + 11),
                 tree.gameDir + "/arena/conf");

        ran = run(QStringList{"run", "--replace"} + paths);
        QCOMPARE(ran.status, 0);
        QVERIFY2(ran.out.startsWith("Stopped \"First Arena\" on quorvexmap1"), ran.out.constData());
        QCOMPARE(running().size(), 1);
        QVERIFY(running() != first);
        QCOMPARE(serving(), "Second Arena");

        // A map or an executed file that the tree lacks stops nothing, nor a map that a
        // file in a pk3 file loads.
        const QList<int> second = running();
        writeZip(tree.gameDir + "/arena/packed.pk3",
                 {{"packed.cfg", "map quorvexmap2\n", 0, true}});
        for (const auto& [map, exec, said] :
             {std::tuple{"quorvexmap2", "",
                         "my.cfg line 53: the server cannot find the map "
                         "\"quorvexmap2\": no maps/quorvexmap2.bsp is in the "
                         "arena or baseq3 folder, loose or in a pk3 file; did "
                         "you mean quorvexmap1? Give a map that the game tree holds. Nothing "
                         "was stopped or started."},
              std::tuple{"quorvexmap1", "exec bans\r\n",
                         "The config file executes \"bans\", which the server cannot find: no "
                         "bans.cfg is in the arena or baseq3 folder"},
              std::tuple{"", "set sv_hostname \"Packed\"\r\nexec packed\r\n",
                         "my.cfg line 2: the server cannot find the map \"quorvexmap2\""},
              std::tuple{"quorvexmap1",
                         "set d1 \"map quorvexmap1; set nextmap vstr d2\"\r\n"
                         "set d2 \"map quorvexmap2; set nextmap vstr d1\"\r\n"
                         "set nextmap \"vstr d2\"\r\n",
                         "The config file's map rotation plays \"quorvexmap2\", which the "
                         "server cannot load from the arena or baseq3 folder, so it would play "
                         "the map before it one more round instead; did you mean quorvexmap1?"},
              // A script of its own that loads no map, as its map command is in a comment.
              std::tuple{"", "set sv_hostname \"No Map\"\r\n/* map quorvexmap1\r\n",
                         "my.cfg loads no map: the block comment that opens on line 2 is never "
                         "closed"}}) {
            create("Third Arena", *map ? map : "quorvexmap1");
            writeBytes(tree.outputPath, *map ? readAll(tree.outputPath) + exec : QByteArray(exec));
            ran = run(QStringList{"run", "--replace"} + paths);
            QCOMPARE(ran.status, 1);
            // A refusal that names no fix says only that nothing was done.
            QVERIFY2(ran.err.startsWith(said) &&
                         (map != QLatin1String("quorvexmap1") ||
                          ran.err.endsWith("Nothing was stopped or started.\n")),
                     qPrintable(ran.err));
            QCOMPARE(running(), second);
            QCOMPARE(serving(), "Second Arena");
        }

        // The server keeps a home path of its own here: a file in the tool's alone passes the
        // check, and the watch finds the server's failure to execute it in its log. The
        // server that a replace stopped for such a start runs again.
        QDir().mkpath(m_dir.filePath(".q3a/arena"));
        writeBytes(m_dir.filePath(".q3a/arena/homeonly.cfg"), {});
        create("Fourth Arena", "quorvexmap1");
        writeBytes(tree.outputPath, readAll(tree.outputPath) + "exec homeonly\r\n");
        ran = run(QStringList{"run", "--replace"} + paths);
        QCOMPARE(ran.status, 1);
        QVERIFY2(ran.err.contains("could not find \"homeonly.cfg\", which its script executes") &&
                     ran.err.contains("\nThe tool stopped the new server.\nThe server that the "
                                      "new one was to replace, \"Second Arena\" on quorvexmap1") &&
                     ran.err.endsWith(", runs again and answers as before.\n"),
                 qPrintable(ran.err));
        QCOMPARE(running().size(), 1);
        QCOMPARE(serving(), "Second Arena");

        ran = run({"stop", "--game-dir", tree.gameDir});
        QCOMPARE(ran.status, 0);
        QVERIFY2(ran.out.startsWith("Stopped \"Second Arena\" on quorvexmap1"),
                 ran.out.constData());
        QCOMPARE(running(), QList<int>());
        QVERIFY(!udpPortTaken(kServerPort));
        QCOMPARE(run({"status"}).status, 3);
        QCOMPARE(run({"stop"}).out, "No server that this tool started is running.\n");

        // With no server to bring back, the failed start leaves nothing running.
        ran = run(QStringList{"run"} + paths);
        QCOMPARE(ran.status, 1);
        QVERIFY2(ran.err.contains("could not find \"homeonly.cfg\", which its script executes") &&
                     ran.err.endsWith("\nThe tool stopped the new server.\n"),
                 qPrintable(ran.err));
        QCOMPARE(running(), QList<int>());

        // The archive that an earlier server left in the engine's home path: run names what the
        // server will hold from it, passwords masked, also in a value that vstr could run,
        // and makes it its owner's alone; with
        // --fresh the server holds none of it.
        tree.useEngineHome(FakeGameTree::DefaultHome);
        const QString archive = m_dir.filePath(".q3a/arena/q3config_server.cfg");
        const QByteArray archived = "seta g_password \"secret\"\nseta g_motd \"from A\"\n"
                                    "seta later \"set rconPassword hidden\"\n";
        writeBytes(archive, archived);
        QVERIFY(QFile::setPermissions(archive, QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ReadGroup | QFile::ReadOther));
        const auto needsPassword = [](quint16 port = kServerPort) {
            const std::optional<QByteArray> answer = waitForAnswer("getstatus", 5000, port);
            return answer ? infoPairs(answer->split('\n').value(1)).value("g_needpass") : QString();
        };
        create("Fifth Arena", "quorvexmap1");
        ran = run(QStringList{"run"} + paths);
        QCOMPARE(ran.status, 0);
        // The tool's script sets g_motd, so only the password stays.
        QVERIFY2(ran.err == "The server will also hold g_password (********) and later \"set "
                            "rconPassword ********\" from \"" +
                                archive + "\", which an earlier server left.\n",
                 qPrintable(ran.err));
        QCOMPARE(fileMode(archive), 0600);
        QCOMPARE(needsPassword(), "1");
        writeBytes(archive, archived);
        ran = run(QStringList{"run", "--replace", "--fresh"} + paths);
        QCOMPARE(ran.status, 0);
        QCOMPARE(ran.err, QByteArray());
        QTest::qWait(1100);
        QCOMPARE(needsPassword(), "0");

        // Another port: refused while another program holds it, which it names. On a free one,
        // a second server, whose home path of its own the first one's archive does not reach;
        // each is chosen, and stopped, by its port.
        const QList<int> fifth = running();
        QCOMPARE(fifth.size(), 1);
        {
            QUdpSocket holder;
            QVERIFY(holder.bind(QHostAddress::LocalHost, 27962));
            ran = run(QStringList{"run", "--port", "27962"} + paths);
            QCOMPARE(ran.status, 1);
            QVERIFY2(ran.err.startsWith("UDP port 27962 is held by ") &&
                         ran.err.contains(QByteArray::number(QCoreApplication::applicationPid())) &&
                         ran.err.contains("Nothing was started."),
                     qPrintable(ran.err));
            QCOMPARE(running(), fifth);
        }
        create("Sixth Arena", "quorvexmap1");
        // A home path of that port that another could have put there is refused.
        const QString ownHome = m_dir.filePath(".q3a-27961");
        for (const char* why :
             {"which is a link rather than a folder", "a folder that another user may write"}) {
            if (QFileInfo(ownHome).isSymLink())
                QVERIFY(QFile::remove(ownHome) && QDir().mkdir(ownHome));
            else
                QVERIFY(QFile::link(m_dir.path(), ownHome));
            QVERIFY(QFile::setPermissions(ownHome, QFileDevice::Permissions(0x7777)));
            ran = run(QStringList{"run", "--port", "27961"} + paths);
            QVERIFY2(ran.status == 1 && ran.err.contains(why), qPrintable(ran.err));
        }
        QVERIFY(QDir(ownHome).removeRecursively());
        writeBytes(archive, archived);
        ran = run(QStringList{"run", "--port", "27961"} + paths);
        QCOMPARE(ran.status, 0);
        QCOMPARE(ran.err, QByteArray());
        QCOMPARE(needsPassword(27961), "0");
        QCOMPARE(fileMode(m_dir.filePath(".q3a-27961")), 0700);
        QVERIFY(
            run({"status", "--port", "27961"})
                .out.contains("  home path: " + QFile::encodeName(m_dir.filePath(".q3a-27961"))));
        // The maps of that port's server are those of its home path.
        QDir().mkpath(m_dir.filePath(".q3a-27961/arena/maps"));
        writeBytes(m_dir.filePath(".q3a-27961/arena/maps/homeonly.bsp"), smallMap());
        QVERIFY(
            run({"maps", "--game-dir", tree.gameDir, "--port", "27961"}).out.contains("homeonly"));
        QVERIFY(!run({"maps", "--game-dir", tree.gameDir}).out.contains("homeonly"));
        QCOMPARE(run({"rcon", "--port", "27961", "map", "homeonly"}).status, 0);
        ran = run({"rcon", "sv_hostname"});
        QCOMPARE(ran.status, 1);
        QVERIFY2(ran.err.contains(" --port 27960: \"Fifth Arena\"") &&
                     ran.err.contains(" --port 27961: \"Sixth Arena\""),
                 qPrintable(ran.err));
        ran = run({"rcon", "--port", "27961", "sv_hostname"});
        QVERIFY2(ran.status == 0 && ran.out.contains("Sixth Arena"), ran.out.constData());
        ran = run({"stop", "--port", "27961", "--game-dir", tree.gameDir});
        QCOMPARE(ran.status, 0);
        QVERIFY2(ran.out.startsWith("Stopped \"Sixth Arena\""), ran.out.constData());
        QCOMPARE(running(), fifth);
        QCOMPARE(serving(), "Fifth Arena");
        QVERIFY(!udpPortTaken(27961));

        // A server that ends by itself is told once, by the next status.
        ::kill(fifth[0], SIGKILL);
        QTRY_VERIFY(processGone(fifth[0]));
        QVERIFY(QFile::remove(archive));
        tree.useEngineHome(FakeGameTree::FreshHome);
        ran = run({"status"});
        QCOMPARE(ran.status, 1);
        QVERIFY2(ran.err.startsWith("The server of process " + QString::number(fifth[0])) &&
                     ran.err.contains("has ended by itself since. The last lines of its log"),
                 qPrintable(ran.err));
        QCOMPARE(run({"status"}).status, 3);
    }

    // What made the tool lose track of a server, or report a stop that did not happen, each
    // as it was seen: the tool follows the server, stops the whole of it, and says so only
    // once nothing of it runs and its port is free.
    void serversAreFollowedToTheirEnd_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("runStatus");
        QTest::addColumn<QString>("runSaid");
        // clang-format off
        QTest::newRow("a start script that runs the engine as its child") << "child" << 0 << "";
        QTest::newRow("a start script that forks the engine and ends") << "fork" << 0 << "";
        QTest::newRow("a start script that puts the engine in a session of its own") << "setsid" << 0 << "";
        QTest::newRow("the same, with the script staying beside it") << "setsid stays" << 0 << "";
        QTest::newRow("umask 002, over a state folder others may write") << "umask" << 0
            << "it is now yours alone.\n";
        QTest::newRow("a pipe in the running server's script") << "fifo script" << 0 << "";
        QTest::newRow("a link to a pipe among the pk3 files") << "fifo pk3" << 1
            << "The server would open \"";
        QTest::newRow("the engine's program deleted as it runs") << "deleted" << 0 << "";
        QTest::newRow("a hang-up during a replace's watch") << "hup replace" << 129
            << "Interrupted while the new server's start was watched. The tool stopped the new server.\n"
               "The server that the new one was to replace, \"";
        QTest::newRow("a stop during the watch") << "stop" << 1
            << "A stop of the tool's, given elsewhere, stopped the new server while its start was watched.\n";
        QTest::newRow("a run ended by timeout") << "timeout" << 124 << "Interrupted. The tool stopped the new server.\n";
        QTest::newRow("two runs at once") << "two" << 143 << "Interrupted. The tool stopped the new server.\n";
        // clang-format on
    }

    void serversAreFollowedToTheirEnd()
    {
        QFETCH(QString, fault);
        QFETCH(int, runStatus);
        QFETCH(QString, runSaid);
        const bool engine = fault != "stop" && fault != "timeout" && fault != "two";
        FakeGameTree tree(engine           ? FakeGameTree::RealEngine
                          : fault == "two" ? FakeGameTree::Silent
                                           : FakeGameTree::Silent);
        const QString program = tree.gameDir + "/quake3.exe";
        QByteArray script = readAll(program);
        if (fault == "child" || fault == "fork")
            script.replace("\nexec ", "\n");
        if (fault == "fork")
            script.replace(script.lastIndexOf('\n'), 1, " &\n");
        // A start that finds the mark in place waits without answering, once.
        if (fault == "hup replace")
            script.replace(
                "\nexec ",
                "\nif [ -e \"$0.silent\" ]; then rm \"$0.silent\"; exec sleep 600; fi\nexec ");
        if (fault.startsWith("setsid")) {
            script.replace("\nexec ", "\nsetsid ");
            script.replace(script.lastIndexOf('\n'), 1,
                           fault == "setsid" ? " &\nexit 0\n" : " &\nexec sleep 30\n");
        }
        if (fault == "umask") {
            m_stateHome = m_dir.filePath("state-umask");
            QVERIFY(QDir().mkpath(m_stateHome + "/quorvex-config-creator"));
            QFile::setPermissions(m_stateHome + "/quorvex-config-creator",
                                  QFile::permissions(m_stateHome) | QFile::WriteGroup);
        }
        if (fault == "fifo pk3") {
            QCOMPARE(mkfifo(QFile::encodeName(tree.root() + "/fifo"), 0600), 0);
            QVERIFY(QFile::link("../../fifo", tree.gameDir + "/baseq3/zz.pk3"));
            const Ran maps = run({"maps", "--game-dir", tree.gameDir});
            QCOMPARE(maps.status, 0);
            QVERIFY2(maps.out.startsWith(EngineTree::kMap.toUtf8()) &&
                         maps.err.contains("zz.pk3\": it is a named pipe (FIFO)"),
                     qPrintable(maps.err));
        }
        if (fault == "deleted") {
            QVERIFY(QFile::copy(kEngineProgram, tree.root() + "/ioq3ded"));
            script.replace(kEngineProgram.toUtf8(), QFile::encodeName(tree.root() + "/ioq3ded"));
        }
        writeBytes(program, script);
        QCOMPARE(run({"create", "--output", tree.outputPath}).status, 0);
        const QStringList runArguments{"run", "--game-dir", tree.gameDir, "--output",
                                       tree.outputPath};
        QProcess first, second;
        if (fault == "timeout") {
            start(first, QStringList{"3", PROGRAM} + runArguments, "timeout");
        } else if (fault == "hup replace") {
            QCOMPARE(run(runArguments).status, 0);
            writeBytes(program + ".silent", {});
            start(first, QStringList{"run", "--replace"} + runArguments.mid(1));
            QTRY_COMPARE_WITH_TIMEOUT(tree.launches().size(), 2, 10000);
            QTest::qWait(500);
            QVERIFY2(first.state() == QProcess::Running, first.readAllStandardError().constData());
            ::kill(pid_t(first.processId()), SIGHUP);
        } else if (fault == "umask") {
            start(first, QStringList{"-c", "umask 002; exec \"$0\" \"$@\"", PROGRAM} + runArguments,
                  "sh");
        } else {
            start(first, runArguments);
            if (fault == "two")
                start(second, runArguments);
        }
        // Both servers run, each with a script of its own, until the runs are ended.
        if (fault == "two") {
            QTRY_COMPARE_WITH_TIMEOUT(tree.launches().size(), 2, 10000);
            QVERIFY(tree.launches()[0].constLast() != tree.launches()[1].constLast());
            for (const QProcess* each : {&first, &second}) {
                QVERIFY(each->processId() > 0);
                ::kill(pid_t(each->processId()), SIGTERM);
            }
        }
        if (fault == "stop") {
            QTRY_COMPARE_WITH_TIMEOUT(tree.launches().size(), 1, 5000);
            QTest::qWait(300);
            // Chosen by the port it is started on, before it has answered.
            const Ran stop = run({"stop", "--port", "27960"});
            QCOMPARE(stop.status, 0);
            QVERIFY(stop.out.startsWith("Stopped a server that does not answer"));
        }
        QVERIFY(first.waitForFinished(30000));
        const QString said = QString::fromLocal8Bit(first.readAllStandardError());
        QCOMPARE(first.exitCode(), runStatus);
        QVERIFY2(runSaid.isEmpty() ? said.isEmpty() : said.contains(runSaid), qPrintable(said));
        if (fault == "two") {
            QVERIFY(second.waitForFinished(30000));
            QCOMPARE(second.exitCode(), runStatus);
        }
        if (fault == "deleted")
            QVERIFY(QFile::remove(tree.root() + "/ioq3ded"));
        if (fault == "umask")
            for (const QString& folder : {QString(), QStringLiteral("/servers")})
                QCOMPARE(QFile::permissions(m_stateHome + "/quorvex-config-creator" + folder) &
                             0x7077,
                         QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // A pipe in place of the running server's installed script holds up neither a stop
        // nor a replace, which refuses at once, as the server could not be brought back.
        if (fault == "fifo script") {
            const QString installed = tree.gameDir + "/arena/" + tree.arena().filter(".cfg")[0];
            QVERIFY(QFile::remove(installed));
            QCOMPARE(mkfifo(QFile::encodeName(installed), 0600), 0);
            const Ran replaced = run(QStringList{"run", "--replace"} + runArguments.mid(1));
            QVERIFY2(replaced.status == 1 &&
                         replaced.err.startsWith("The running server could not be started again "
                                                 "should the new one fail: \"" +
                                                 installed + "\" is a named pipe"),
                     qPrintable(replaced.err));
        }
        if (fault == "hup replace")
            QVERIFY2(said.endsWith("runs again and answers as before.\n"), qPrintable(said));
        if (runStatus == 0 || fault == "hup replace") {
            const Ran status = run({"status"});
            // On failure, what status said and which records the state folder holds.
            QVERIFY2(status.status == 0,
                     qPrintable(QStringLiteral("status %1: %2%3; records: %4")
                                    .arg(status.status)
                                    .arg(QString::fromUtf8(status.out), status.err)
                                    .arg(QDir(m_dir.path() + "/.local/state/quorvex-config-creator/"
                                                             "servers")
                                             .entryList(QDir::Files)
                                             .join(u' '))));
            QVERIFY2(status.out.contains("  map: " + EngineTree::kMap.toUtf8()),
                     status.out.constData());
            QCOMPARE(run({"stop"}).status, 0);
        }
        QCOMPARE(run({"status"}).status, 3);
        QVERIFY(!udpPortTaken(kServerPort));
        QCOMPARE(livingDescendants(), QStringList());
    }

    // Records of servers that another user could have put there are never acted on, and a
    // link to a pipe among them does not hang the commands.
    void untrustedRecordsAreRefused_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("why");
        // clang-format off
        QTest::newRow("a record that links to a pipe") << "fifo" << "/1.json" << "it is a link";
        QTest::newRow("a folder that is a link") << "link" << "" << "it is a link";
        QTest::newRow("a record of another user (root)") << "owner" << "/2.json" << "it belongs";
        QTest::newRow("a console input that is a file") << "input" << "/input.1" << "it is no named pipe";
        QTest::newRow("a console input that is a link") << "input-link" << "/input.2" << "it is a link";
        // clang-format on
    }

    void untrustedRecordsAreRefused()
    {
        QFETCH(QString, fault);
        QFETCH(QString, entry);
        QFETCH(QString, why);
        if (fault == "owner" && geteuid() != 0)
            QSKIP("Only root can give a file to another user.");
        const QString state = m_dir.filePath("state-" + fault);
        const QString records = state + "/quorvex-config-creator/servers";
        QVERIFY(QDir().mkpath(records));
        QFile::setPermissions(records, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (fault == "fifo") {
            QCOMPARE(mkfifo(QFile::encodeName(state + "/pipe"), 0600), 0);
            QVERIFY(QFile::link(state + "/pipe", records + "/1.json"));
        } else if (fault == "input") {
            writeBytes(records + entry, "");
        } else if (fault == "input-link") {
            QCOMPARE(mkfifo(QFile::encodeName(state + "/pipe"), 0600), 0);
            QVERIFY(QFile::link(state + "/pipe", records + entry));
        } else if (fault == "link") {
            QVERIFY(QDir(records).removeRecursively());
            QVERIFY(QFile::link(state, records));
        } else {
            writeBytes(records + "/2.json", "{}");
            QCOMPARE(chown(QFile::encodeName(records + "/2.json"), 1, 1), 0);
        }
        FakeGameTree tree;
        writeBytes(tree.outputPath, "map " + EngineTree::kMap.toLatin1() + "\n");
        m_stateHome = state;
        for (const QStringList& arguments :
             {QStringList{"status"}, QStringList{"stop"},
              QStringList{"run", "--game-dir", tree.gameDir, "--output", tree.outputPath}}) {
            const Ran ran = run(arguments);
            QCOMPARE(ran.status, 1);
            QVERIFY2(ran.err.startsWith("The tool does not trust \"" + records + entry + "\"") &&
                         ran.err.contains("started: " + why),
                     qPrintable(ran.err));
        }
        QVERIFY(tree.launches().isEmpty());
    }

    // Standard input is read to its end, however slowly it comes.
    void aSlowPipeIsReadWhole()
    {
        QProcess program;
        start(program, {"create", "--from", "-", "--output", "slow.cfg"});
        program.write("set sv_hostname \"First\"\n");
        QTest::qWait(700);
        program.write("set sv_maxclients 8\nset rconPassword \"s3cret\"\n");
        program.closeWriteChannel();
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(readScript(readAll(m_dir.filePath("slow.cfg"))).settings().rconPassword, "s3cret");
        QCOMPARE(readScript(readAll(m_dir.filePath("slow.cfg"))).settings().maxClients, "8");
    }

    // What show prints, a POSIX shell takes back as it stands: create given it writes the
    // same script again, whatever quotes, dollars and spaces the values hold.
    void showGivesCreateWhatItShows()
    {
        ServerSettings settings = testSettings();
        settings.serverName = "Grelt's $HOME Arena";
        settings.motd = "It's \\back`, 100% 'quoted' & $(free)";
        settings.outputPath = m_dir.filePath("round.cfg");
        writeBytes(settings.outputPath, configFileFor(settings));
        QProcess shell;
        start(
            shell,
            {"-c",
             "eval \"set -- $(\"$0\" show round.cfg)\" && \"$0\" create \"$@\" --output again.cfg",
             PROGRAM},
            "/bin/sh");
        QVERIFY(shell.waitForFinished(30000));
        QCOMPARE(shell.exitCode(), 0);
        QCOMPARE(readAll(m_dir.filePath("again.cfg")), configFileFor(settings));
    }

    // Output that does not arrive fails the command: to a full disk, or to a closed output.
    void outputThatDoesNotArriveFails_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reason");
        QTest::newRow("help to a full disk") << "--help >/dev/full"
                                             << "No space left on device";
        QTest::newRow("show to a full disk") << "show a.cfg >/dev/full"
                                             << "No space left on device";
        QTest::newRow("version to a closed output") << "--version >&-"
                                                    << "Bad file descriptor";
    }

    void outputThatDoesNotArriveFails()
    {
        QFETCH(QString, command);
        QFETCH(QString, reason);
        QProcess shell;
        start(shell, {"-c", "\"$0\" " + command, PROGRAM}, "/bin/sh");
        QVERIFY(shell.waitForFinished(30000));
        QCOMPARE(shell.exitCode(), 1);
        const QString said = QString::fromLocal8Bit(shell.readAllStandardError());
        QVERIFY2(said.contains("could not write to standard output: " + reason + '.'),
                 qPrintable(said));
    }

    // Interrupted while it waits for the server's answer, run stops the server it started
    // and fails with 128 and the signal's number, and interrupted during a replace's stop, it
    // starts nothing; a run that could not keep the server's
    // record starts none, and fails with status 1.
    void anInterruptedRunStopsItsServer()
    {
        FakeGameTree tree(FakeGameTree::Silent);
        QCOMPARE(run({"create", "--output", tree.outputPath}).status, 0);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            QProcess program;
            start(program, {"run", "--game-dir", tree.gameDir, "--output", tree.outputPath});
            QTRY_COMPARE_WITH_TIMEOUT(tree.launches().size() == 1, true, 5000);
            const QString records = tree.root() + "/records/";
            const QStringList pids = QDir(records).entryList({"pid.*"});
            QCOMPARE(pids.size(), 1);
            QVERIFY(program.processId() > 0);
            ::kill(pid_t(program.processId()), signal);
            QVERIFY(program.waitForFinished(10000));
            QCOMPARE(program.exitCode(), 128 + signal);
            QCOMPARE(program.readAllStandardError(),
                     "Interrupted. The tool stopped the new server.\n");
            QVERIFY(processGone(pids[0].mid(4).toInt()));
            for (const QString& name : QDir(records).entryList(QDir::Files))
                QFile::remove(records + name);
        }
        // A run killed while it watches leaves a server that the tool still knows and stops,
        // though its start script has since become another program.
        {
            QProcess program;
            start(program, {"run", "--game-dir", tree.gameDir, "--output", tree.outputPath});
            QTRY_COMPARE_WITH_TIMEOUT(tree.launches().size() == 1, true, 5000);
            QTest::qWait(300);
            const QString pid = QDir(tree.root() + "/records").entryList({"pid.*"})[0].mid(4);
            program.kill();
            QVERIFY(program.waitForFinished(10000));
            QVERIFY(run({"status"}).out.startsWith("Server of process " + pid.toUtf8() + ","));
            QCOMPARE(run({"stop"}).status, 0);
            QVERIFY(processGone(pid.toInt()));
        }
        // Interrupted while a replace stops a server that holds the game's port and takes
        // its time to quit, the run finishes the stop and starts nothing.
        {
            m_stateHome = m_dir.filePath("state-replace");
            qputenv("XDG_STATE_HOME", QFile::encodeName(m_stateHome));
            QProcess slow;
            slow.start("sh", {"-c", "trap '' TERM; exec sleep 600"});
            QVERIFY(slow.waitForStarted());
            QTest::qWait(100);
            ServerRecord held;
            held.pid = held.group = slow.processId();
            held.identity = *processIdentity(held.pid);
            held.port = kServerPort;
            held.script = tree.outputPath;
            held.startedAt = QDateTime::currentDateTime();
            QCOMPARE(StartedServers::remember(held), std::nullopt);
            qunsetenv("XDG_STATE_HOME");
            const qsizetype launches = tree.launches().size();
            QProcess program;
            start(program,
                  {"run", "--replace", "--game-dir", tree.gameDir, "--output", tree.outputPath});
            QTest::qWait(2000);
            QVERIFY2(program.processId() > 0, program.readAllStandardError().constData());
            ::kill(pid_t(program.processId()), SIGINT);
            QVERIFY(program.waitForFinished(15000));
            QCOMPARE(program.exitCode(), 130);
            QVERIFY(slow.waitForFinished(1000));
            const QString said = QString::fromLocal8Bit(program.readAllStandardError());
            QVERIFY2(said.startsWith("Interrupted. The tool stopped a server that does not "
                                     "answer, on UDP port 27960") &&
                         said.endsWith(", as asked, and started nothing in its place.\n"),
                     qPrintable(said));
            QCOMPARE(tree.launches().size(), launches);
        }
        // Where the tool could not keep the server's record, it starts none.
        m_stateHome = m_dir.filePath("old.cfg");
        const qsizetype launches = tree.launches().size();
        const Ran ran = run({"run", "--game-dir", tree.gameDir, "--output", tree.outputPath});
        QCOMPARE(ran.status, 1);
        QVERIFY2(ran.err.startsWith("Could not write to the tool's state folder \"" +
                                    m_dir.filePath("old.cfg")) &&
                     ran.err.contains("Nothing was stopped or started"),
                 qPrintable(ran.err));
        QCOMPARE(tree.launches().size(), launches);
    }

    void cleanupTestCase() { checkNothingLeftRunning(); }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline_posix.moc"
