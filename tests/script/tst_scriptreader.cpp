#include "config/CreateConfig.h"
#include "script/ScriptReader.h"
#include "support/Files.h"
#include "support/GameEngine.h"
#include "support/Processes.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

class TestScriptReader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { adoptOrphans(); }
    void cleanupTestCase() { checkNothingLeftRunning(); }

    // Scripts as an operator edits them by hand, generated: each of the form's variables
    // set by any of the set commands or by its bare name, which sets only a variable that
    // exists, in any case, once or more, quoted or not, in one word or more, with or without
    // a comment after it, maps loaded by map or devmap, commands chained with semicolons or
    // on lines of their own ending in LF or CR LF. The reader must find what the real engine
    // holds after each.
    void readsHandEditedScriptsAsTheEngineDoes()
    {
#ifdef Q_OS_WIN
        QSKIP("Debian's dedicated server, the judge of the scripts, runs only on Linux.");
#else
        QRandomGenerator random(20261208);
        const auto pick = [&](const QStringList& choices) {
            return choices[random.bounded(choices.size())];
        };
        QList<QByteArray> scripts;
        for (int round = 0; round < 300; ++round) {
            const QString lineEnd = pick({"\n", "\r\n"});
            QString script;
            for (const QString& name : kScriptCvars + QStringList{"map"}) {
                for (int times = name == "map" ? 0 : random.bounded(3); times >= 0; --times) {
                    const QString n = QString::number(random.bounded(99));
                    const QString set =
                        pick({"set ", "seta ", "sets ", "setu ", "SET ", "Seta ", "", ""});
                    const QString command =
                        name == "map" ? pick({"map", "devmap", "DEVMAP"}) + " q3dm" + n
                                      : set + pick({name, name.toUpper()}) + u' ' +
                                            pick({n, '"' + n + '"', '"' + name + u' ' + n + '"',
                                                  name + u' ' + n});
                    script += command + pick({"", " // a note", "\t//"}) +
                              (random.bounded(4) == 0 ? QStringLiteral("; ") : lineEnd);
                }
            }
            scripts << script.toLatin1();
        }
        // vstr puts a variable's value into the command buffer where it stands, so what it
        // runs comes before the rest, nested or not; an unset variable runs nothing.
        scripts << "set d1 \"map q3dm3; set sv_hostname Rotated\"\nvstr d1\n"
                << "set a \"vstr b; set timelimit 5\"\nset b \"set timelimit 7; set g_motd "
                   "inner\"\nvstr a\nset sv_maxclients 9\nmap q3dm1\n"
                << "set x \"set sv_hostname X\"; vstr x; set g_motd after\r\nvstr nothing\n"
                << "set c \"set g_motd first\"\nvstr c; set g_motd second\nVSTR C\n";
        EngineTree tree;
        const QList<ServerState> states = tree.runScripts(scripts);
        for (qsizetype i = 0; i < scripts.size(); ++i)
            QCOMPARE(readState(scripts[i] + "//*/\n"), states[i]);
#endif
    }

    // A hand-written script opened, one setting changed and written back: the server holds
    // every other variable as the old script left it, the changed one as changed, and plays
    // the same rotation; a script that the tool wrote comes back byte for byte.
    void writingBackKeepsWhatTheFormDoesNotCarry()
    {
        const QByteArray old = "// my server\r\nset g_password \"oldpass\"\r\nexec bans.cfg\r\n"
                               "seta sv_hostname \"Old name\"; set sv_fps 30 // fast\r\n"
                               "set d1 \"map q3dm2; set nextmap vstr d2\"\r\n"
                               "set d2 \"map q3dm7; set g_motd rotated; set nextmap vstr d1\"\r\n"
                               "bind x \"say hi\"\r\nvstr d1\r\n// late\r\nset fraglimit 20\r\n";
        const ScriptReading reading = readScript(old);
        QTemporaryDir dir;
        ServerSettings settings = reading.settings();
        settings.serverName = "New name";
        settings.outputPath = dir.filePath("server.cfg");
        ConfigScript script;
        QCOMPARE(captioned(createConfig(settings, script, reading.kept)), QStringList());
        const QByteArray written = readAll(settings.outputPath);
        const ScriptReading again = readScript(written);
        QCOMPARE(again.rotation, reading.rotation);
        QCOMPARE(again.map, reading.map);
        QCOMPARE(again.overriding, (QList<ScriptLine>{{57, "g_motd"}}));
#ifndef Q_OS_WIN
        QCOMPARE(fileMode(settings.outputPath), 0600);
        const QStringList others{"g_password", "sv_fps", "d1", "d2", "fraglimit", "nextmap"};
        EngineTree tree;
        ServerState before = tree.runScripts({old}, others)[0];
        const ServerState after = EngineTree().runScripts({written}, others)[0];
        before.cvars["sv_hostname"] = "New name";
        for (const char* formDefault :
             {"g_motd", "sv_maxclients", "timelimit", "sv_privateclients", "location"})
            before.cvars.insert(formDefault, after.cvars.value(formDefault));
        before.mapFiles.prepend("maps/q3dm2.bsp");
        QCOMPARE(after, before);
#endif
        // Written again unchanged, the tool's own script stays as it is.
        const ScriptReading own = readScript(written);
        QCOMPARE(own.uncarried.size(), reading.uncarried.size());
        ConfigScript rewritten;
        ServerSettings same = own.settings();
        same.outputPath = settings.outputPath;
        QCOMPARE(captioned(createConfig(same, rewritten, own.kept)), QStringList());
        QCOMPARE(readAll(settings.outputPath), written);
    }

    void listsWhatTheFormCannotCarry()
    {
        const ScriptReading reading =
            readScript("exec other.cfg\r\nset sv_hostname \"Arena\" ; bind x \"say hi\"\r"
                       "// a comment\n\n  vstr next // jump\nset fraglimit 20\nset g_motd\n"
                       "seta Password secret /* spans\nlines */ map q3dm2\n"
                       "set g_password \"s3cret\"\ng_adminPass s3cret\nrconpassword s3cret\n"
                       "devmap q3dm7\nset rcon_password rc\nset d3 \"map x; rconPassword "
                       "secret2\"\n");
        // A password is masked; a bare name sets only a variable that exists.
        QCOMPARE(reading.uncarried,
                 (QList<ScriptLine>{{1, "exec other.cfg"},
                                    {2, "bind x \"say hi\""},
                                    {5, "vstr next // jump"},
                                    {6, "set fraglimit 20"},
                                    {7, "set g_motd"},
                                    {10, "set g_password \"********\""},
                                    {11, "g_adminPass \"********\""},
                                    {14, "set rcon_password \"********\""},
                                    {15, "set d3 \"map x; rconPassword ********\""}}));
        ServerSettings expected = designSettings();
        expected.serverName = "Arena";
        expected.connectionPassword = "secret";
        expected.rconPassword = "s3cret";
        expected.initialMap = "q3dm7";
        QVERIFY(reading.settings() == expected);
        QVERIFY(uncarriedWarning("a.cfg", reading, Keeping::Shown)
                    .contains("\nline 5: vstr next // jump\n"));
    }

    void filesThatAreNoScriptsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("content"); // or "(folder)", "(missing)"
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << QByteArray("(missing)") << "does not exist";
        QTest::newRow("folder") << QByteArray("(folder)") << "is a folder, not a script";
        QTest::newRow("NUL") << QByteArray("set sv_hostname x\n\0", 19) << "binary data";
        QTest::newRow("picture") << QByteArray("\x89PNG\r\n\x1a\n") << "binary data";
        QTest::newRow("larger than the server executes")
            << QByteArray("map q3dm1\n").leftJustified(ServerScript::kMaxBytes + 1, '/')
            << "no script larger than 131,071 bytes";
        QTest::newRow("a vstr loop")
            << QByteArray("set a \"vstr b\"\nset b \"vstr a\"\nvstr a\nmap q3dm1\n")
            << "its vstr commands run one another without end as the script runs";
        QTest::newRow("a vstr loop at the end of a level")
            << QByteArray("set nextmap \"vstr nextmap\"\nmap q3dm1\nset nextmap \"vstr nextmap\"\n")
            << "without end at the end of a level";
        QTest::newRow("sets nothing of the form")
            << QByteArray("exec other.cfg\n") << "sets none of its settings";
    }

    void filesThatAreNoScriptsAreRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath("server.cfg");
        if (content == "(folder)")
            QVERIFY(QDir().mkdir(path));
        else if (content != "(missing)")
            writeBytes(path, content);
        const std::variant<ScriptReading, QString> read = readScriptFile(path);
        QVERIFY(std::holds_alternative<QString>(read));
        QVERIFY2(std::get<QString>(read).contains(message), qPrintable(std::get<QString>(read)));
    }

    // The engine's command buffer holds 128 KiB with the line end it adds: a script of one
    // byte less runs when the server starts with it, and one byte more does not.
    void theLargestScriptIsTheEnginesLargest_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<QByteArray>("printed");
        QTest::newRow("largest") << ServerScript::kMaxBytes << QByteArray("@@ran");
        QTest::newRow("one byte more") << ServerScript::kMaxBytes + 1 << QByteArray("overflowed");
    }

    void theLargestScriptIsTheEnginesLargest()
    {
#ifdef Q_OS_WIN
        QSKIP("Debian's dedicated server runs only on Linux.");
#else
        QFETCH(qsizetype, size);
        QFETCH(QByteArray, printed);
        EngineTree tree;
        const QByteArray end = "\necho @@ran\nquit\n";
        writeBytes(tree.arena() + "/big.cfg", QByteArray(size - end.size(), '/') + end);
        QProcess engine;
        engine.setProcessChannelMode(QProcess::MergedChannels);
        engine.start(kEngineProgram,
                     tree.engineOptions() + QStringList{"+set", "fs_game", "arena", "+set",
                                                        "net_enabled", "0", "+exec", "big"});
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += engine.readAll()).contains(printed), 10000);
        QVERIFY(!output.contains(printed == "@@ran" ? "overflowed" : "@@ran"));
        engine.kill();
        engine.waitForFinished();
#endif
    }
};

QTEST_GUILESS_MAIN(TestScriptReader)
#include "tst_scriptreader.moc"
