#include "support/FakeGameTree.h"
#include "support/TestSettings.h"

#include <QProcess>
#include <QTest>

// The real program run as a shell runs it on a server: no display, no platform named, its
// settings store and home folder in the test's own folder.
class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    struct Ran {
        int status;
        QByteArray out;
        QString err;
    };

    Ran run(const QStringList& arguments) const
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        environment.insert("XDG_CONFIG_HOME", m_dir.path());
        environment.insert("HOME", m_dir.path());
        environment.insert("QT_DEBUG_PLUGINS", "1");
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(m_dir.path());
        program.start(QStringLiteral(PROGRAM), arguments);
        if (!program.waitForFinished(30000))
            qFatal("the program did not end");
        return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
                program.readAllStandardOutput(),
                QString::fromLocal8Bit(program.readAllStandardError())};
    }

    // The config file that the form with these changes writes.
    static QByteArray scriptWith(const QList<std::pair<SettingsMember, QString>>& changes)
    {
        ServerSettings settings = testSettings();
        for (const auto& [member, value] : changes)
            settings.*member = value;
        return configFileFor(settings);
    }

private slots:
    void initTestCase()
    {
        adoptOrphans();
        writeBytes(m_dir.filePath("VELDORIQUE.conf"), "[OPTIONS]\nSAVECFG=saved.cfg\n");
        writeBytes(m_dir.filePath("old.cfg"), "old");
    }

    // Each use with its exit status, what it prints or its file holds (the start of its help),
    // and what it says on standard error.
    void usesOfTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("file"); // holds the output when not empty
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("err");
        // clang-format off
        QTest::newRow("help") << QStringList{"--help"} << 0 << ""
                              << QByteArray("Usage: quorvex-config-creator [FILE]\n"
                                            "  or:  quorvex-config-creator create [--from SCRIPT] [SETTINGS] [--output FILE]\n"
                                            "  or:  quorvex-config-creator show SCRIPT\n"
                                            "  or:  quorvex-config-creator run [--game-dir DIR] [--output FILE]\n") << "";
        QTest::newRow("version") << QStringList{"-v"} << 0 << "" << QByteArray("quorvex-config-creator 1.0.0\n") << "";
        QTest::newRow("create") << QStringList{"create", "--server-name", "Arena", "--rcon-password=-x", "--output", "a.cfg"} << 0 << "a.cfg"
                                << scriptWith({{&ServerSettings::serverName, "Arena"}, {&ServerSettings::rconPassword, "-x"}}) << "";
        QTest::newRow("show") << QStringList{"show", "a.cfg"} << 0 << ""
                              << QByteArray("--server-name=Arena\n--motd=\n--max-clients=16\n--time-limit=30\n--connection-password=\n"
                                            "--reserved-spaces=0\n--reserved-password=\n--admin-password=\n--rcon-password=-x\n"
                                            "--region=0\n--map=quorvexmap1\n") << "";
        QTest::newRow("create from a script") << QStringList{"create", "--from", "a.cfg", "--max-clients=20"} << 0 << "saved.cfg"
                                              << scriptWith({{&ServerSettings::serverName, "Arena"}, {&ServerSettings::rconPassword, "-x"},
                                                             {&ServerSettings::maxClients, "20"}}) << "";
        QTest::newRow("create to standard output") << QStringList{"create", "--map", "q3dm1", "--output", "-"} << 0 << ""
                                                   << scriptWith({{&ServerSettings::initialMap, "q3dm1"}}) << "";
        QTest::newRow("refused") << QStringList{"create", "--max-clients", "1 6", "--output", "old.cfg"} << 1 << "old.cfg" << QByteArray("old")
                                 << "--max-clients: remove the spaces;";
        QTest::newRow("no script") << QStringList{"show", "none.cfg"} << 1 << "" << QByteArray() << "The script \"none.cfg\" does not exist.";
        QTest::newRow("unknown command") << QStringList{"creat"} << 2 << "" << QByteArray() << "unknown command 'creat'.\nTry 'quorvex-config-creator --help'";
        QTest::newRow("unknown option") << QStringList{"create", "--nope"} << 2 << "" << QByteArray() << "Unknown option 'nope'.\nTry";
        QTest::newRow("option of another command") << QStringList{"run", "--map", "x"} << 2 << "" << QByteArray() << "run takes no option --map.";
        // clang-format on
    }

    void usesOfTheCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, file);
        QFETCH(QByteArray, out);
        QFETCH(QString, err);
        const QByteArray store = readAll(m_dir.filePath("VELDORIQUE.conf"));
        const Ran ran = run(arguments);
        QCOMPARE(ran.status, status);
        QVERIFY2(err.isEmpty() ? ran.err.isEmpty() : ran.err.contains(err), qPrintable(ran.err));
        const QByteArray written = file.isEmpty() ? ran.out : readAll(m_dir.filePath(file));
        QCOMPARE(arguments.first() == "--help" ? written.first(out.size()) : written, out);
        // No windowing system is loaded, and the saved paths stay as they were.
        QVERIFY2(!ran.err.contains("platforms"), qPrintable(ran.err));
        QCOMPARE(readAll(m_dir.filePath("VELDORIQUE.conf")), store);
    }

    // run starts the real engine and waits for its verdict: a start that answers, or one
    // whose map is missing, reported with exit status 1. The server outlives the command.
    void runStartsTheServerAndReportsItsVerdict_data()
    {
        QTest::addColumn<QString>("map");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("confirmed")
            << "quorvexmap1" << 0 << "; the server answers as its script sets it.\n";
        QTest::newRow("missing map") << "nosuchmap" << 1 << "could not find the map \"nosuchmap\"";
    }

    void runStartsTheServerAndReportsItsVerdict()
    {
        QFETCH(QString, map);
        QFETCH(int, status);
        QFETCH(QString, said);
        FakeGameTree tree(FakeGameTree::RealEngine);
        QCOMPARE(run({"create", "--server-name", "Shell Arena", "--map", map, "--output",
                      tree.outputPath})
                     .status,
                 0);
        const Ran ran = run({"run", "--game-dir", tree.gameDir, "--output", tree.outputPath});
        QCOMPARE(ran.status, status);
        QVERIFY2((status == 0 ? QString::fromLocal8Bit(ran.out) : ran.err).contains(said),
                 qPrintable(ran.err));
        if (status == 0) {
            const std::optional<QByteArray> answer = waitForAnswer("getstatus", 5000);
            QVERIFY(answer);
            QCOMPARE(infoPairs(answer->split('\n').value(1)).value("sv_hostname"), "Shell Arena");
        }
    }

    void cleanupTestCase() { checkNothingLeftRunning(); }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
