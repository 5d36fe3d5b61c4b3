#include "config/CreateConfig.h"
#include "script/ScriptReader.h"
#include "support/Files.h"
#include "support/GameEngine.h"
#include "support/Processes.h"
#include "support/TestSettings.h"
#include "support/VstrChains.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

class TestScriptReader : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { adoptOrphans(); }
    void cleanupTestCase() { checkNothingLeftRunning(); }

    // Scripts as an operator edits them by hand, generated: each of the form's variables
    // set by any of the set commands, toggle or reset, or by its bare name, which sets only
    // a variable that exists, in any case, once or more, quoted or not, in one word or more,
    // with or without a comment after it, before and after a map command that loads the map
    // or looks for a missing one, commands chained with semicolons or on lines of their own
    // ending in LF or CR LF. Each runs in an engine of its own, and the reader must find what
    // the level that runs holds: a latched variable set after the map waits for the next,
    // and the game module's variables exist only once a map has loaded.
    void readsHandEditedScriptsAsTheEngineDoes()
    {
#ifdef Q_OS_WIN
        QSKIP("Debian's dedicated server, the judge of the scripts, runs only on Linux.");
#else
        QRandomGenerator random(20261210);
        const auto pick = [&](const QStringList& choices) {
            return choices[random.bounded(choices.size())];
        };
        QList<QByteArray> scripts;
        for (int round = 0; round < 120; ++round) {
            const QString lineEnd = pick({"\n", "\r\n"});
            QString script;
            const auto someSets = [&] {
                for (const QString& name : kScriptCvars) {
                    for (int times = random.bounded(3) - 1; times >= 0; --times) {
                        const QString n = QString::number(random.bounded(99));
                        const QString set = pick({"set ", "seta ", "sets ", "setu ", "SET ",
                                                  "Seta ", "", "", "toggle ", "reset "});
                        const QString value =
                            set == u"toggle " ? pick({"", n + u' ' + n + u'1'})
                            : set == u"reset "
                                ? QString()
                                : pick({n, '"' + n + '"', '"' + name + u' ' + n + '"',
                                        name + u' ' + n});
                        script += set + pick({name, name.toUpper()}) + u' ' + value +
                                  pick({"", " // a note", "\t//"}) +
                                  (random.bounded(4) == 0 ? QStringLiteral("; ") : lineEnd);
                    }
                }
            };
            someSets();
            script += pick({"map", "devmap", "DEVMAP"}) + u' ' +
                      pick({EngineTree::kMap, "q3dm" + QString::number(random.bounded(99))}) +
                      lineEnd;
            someSets();
            scripts << script.toLatin1();
        }
        // vstr puts a variable's value into the command buffer ahead of what remains, so what
        // it runs comes before the rest, nested or not, an open comment in it included; an
        // unset variable runs nothing.
        scripts << "set d1 \"map quorvexmap1; set sv_hostname Rotated\"\nvstr d1\n"
                << "set a \"vstr b; set timelimit 5\"\nset b \"set timelimit 7; set g_motd "
                   "inner\"\nvstr a\nset sv_maxclients 9\nmap quorvexmap1\n"
                << "set x \"set sv_hostname X\"; vstr x; set g_motd after\r\nvstr nothing\n"
                << "set c \"set g_motd first\"\nvstr c; set g_motd second\nVSTR C\n"
                << "set a \"/*\"; vstr a\nset sv_hostname \"Swallowed\"\n*/ map quorvexmap1\n"
                << "g_motd \"too early\"\nmap quorvexmap1\ng_motd \"in time\"\n"
                << "map quorvexmap1\nset sv_maxclients 32\nsv_maxclients 12\n"
                << "toggle rconPassword s3cretA s3cretB\ntoggle Password\nmap quorvexmap1\n"
                << "set sv_hostname a\nreset sv_hostname\nset g_motd b\nreset g_motd\n"
                << "set a \"set sv_hostname Y\"\n" + QByteArray("vstr a\n").repeated(10001) +
                       "map quorvexmap1\n"
                // vstr commands that run one another fill the command buffer a line end at a
                // time, until it overflows and the script goes on.
                << "set a \"vstr b\"\nset b \"vstr a\"\nvstr a\nset sv_hostname After\nmap "
                   "quorvexmap1\n";
        EngineTree tree;
        const QList<ServerState> states = tree.runEach(scripts);
        for (qsizetype i = 0; i < scripts.size(); ++i)
            QCOMPARE(heldState(scripts[i], {EngineTree::kMap}), states[i]);
#endif
    }

    // What the server runs around the script: a file that exec runs, found in the tree, and
    // the archive that an earlier server left in the home path, which the engine runs first.
    void readsWhatRunsAroundTheScript_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QByteArray>("executed");
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QStringList>("archived");
        const QByteArray archive =
            "// generated by quake, do not modify\nseta g_password \"secret\"\n"
            "seta g_motd \"from A\"\nseta sv_hostname \"Old\"\nseta sv_maxclients \"8\"\n";
        QTest::newRow("exec of a file that sets the name")
            << QByteArray("set sv_hostname Mine\nexec common\nmap quorvexmap1\n")
            << QByteArray("set sv_hostname Common\nset g_motd \"from common\"\n") << QByteArray()
            << QStringList();
        QTest::newRow("an archive left by an earlier server")
            << QByteArray("set sv_hostname Mine\nmap quorvexmap1\n") << QByteArray() << archive
            << QStringList{"g_motd=from A", "g_password=secret"};
        QTest::newRow("an archive that the script overrides")
            << QByteArray("seta g_motd mine\nset g_password \"\"\nmap quorvexmap1\n")
            << QByteArray() << archive << QStringList{"sv_hostname=Old"};
        QTest::newRow("an archived latched value that the script sets after the map")
            << QByteArray("set sv_hostname Four\nmap quorvexmap1\nset sv_maxclients 12\n")
            << QByteArray() << QByteArray("seta sv_maxclients \"20\"\n")
            << QStringList{"sv_maxclients=20"};
    }

    void readsWhatRunsAroundTheScript()
    {
#ifdef Q_OS_WIN
        QSKIP("Debian's dedicated server, the judge of the scripts, runs only on Linux.");
#else
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, executed);
        QFETCH(QByteArray, archive);
        QFETCH(QStringList, archived);
        EngineTree tree;
        writeBytes(tree.arena() + "/common.cfg", executed);
        ScriptSurroundings surroundings;
        surroundings.before = archive;
        surroundings.executed = [&](const QString& name) -> std::optional<QByteArray> {
            return name == "common" ? std::optional(executed) : std::nullopt;
        };
        QCOMPARE(heldState(script, {EngineTree::kMap}, surroundings),
                 tree.runEach({script}, archive)[0]);
        QStringList held;
        for (const auto& [variable, value] : readScript(script, surroundings).archived)
            held << variable + u'=' + value;
        QCOMPARE(held, archived);
#endif
    }

    // Hand-written script shapes, opened and written back: unchanged, the same bytes; with
    // one setting changed, only that setting's lines, and in the engine every variable and
    // the map as before but the one changed.
    void writingBackChangesOnlyWhatChanged_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("written");
        const QByteArray map = "map quorvexmap1";
        // clang-format off
        QTest::newRow("block comment on a line")
            << "seta sv_hostname \"X\"\nseta g_gametype 0 /* ffa */\nseta fraglimit 30\n" + map + "\n"
            << "server-name" << "New"
            << "seta sv_hostname \"New\"\nseta g_gametype 0 /* ffa */\nseta fraglimit 30\n" + map + "\n";
        QTest::newRow("block comment over lines, a line added")
            << "/* bans\nof March */\nexec bans\nset sv_hostname X\n// the map\n" + map + "\n"
            << "time-limit" << "20"
            << "/* bans\nof March */\nexec bans\nset sv_hostname X\nset timelimit 20\n// the map\n" + map + "\n";
        QTest::newRow("header and line end comments")
            << "// Friday FFA - hand edited\n\n// passwords\nseta rconpassword \"secret\"\n"
               "seta sv_maxclients 14 // raise on fridays\n\n" + map + "\n"
            << "max-clients" << "20"
            << "// Friday FFA - hand edited\n\n// passwords\nseta rconpassword \"secret\"\n"
               "seta sv_maxclients 20 // raise on fridays\n\n" + map + "\n";
        QTest::newRow("set twice, seta and bare, CR LF")
            << "seta sv_hostname \"A\"\r\n" + map + "\r\nsv_hostname B\r\n" << "server-name" << "C D"
            << "seta sv_hostname \"C D\"\r\n" + map + "\r\nsv_hostname \"C D\"\r\n";
        QTest::newRow("mixed line ends, no last line end")
            << "set g_motd hi\r\nset timelimit 5\n" + map + "\rset location 3" << "motd" << "two words"
            << "set g_motd \"two words\"\r\nset timelimit 5\n" + map + "\rset location 3";
        QTest::newRow("a rotation loaded by vstr d1")
            << QByteArray("set d1 \"map quorvexmap1; set nextmap vstr d2\"\nset d2 \"map qb; set nextmap vstr d1\"\nvstr d1\n")
            << "server-name" << "Rotating"
            << QByteArray("set d1 \"map quorvexmap1; set nextmap vstr d2\"\nset d2 \"map qb; set nextmap vstr d1\"\n"
                          "set sv_hostname \"Rotating\"\nvstr d1\n");
        QTest::newRow("the map of a rotation loaded by vstr d1")
            << QByteArray("set d1 \"map quorvexmap1; set nextmap vstr d2\"\nset d2 \"map qb; set nextmap vstr d1\"\nvstr d1\n")
            << "map" << "qb"
            << QByteArray("set d1 \"map qb; set nextmap vstr d2\"\nset d2 \"map qb; set nextmap vstr d1\"\nvstr d1\n");
        ServerSettings own = testSettings();
        own.serverName = "Own";
        ServerSettings withPassword = own;
        withPassword.rconPassword = "s3cret";
        QTest::newRow("the tool's own script, a password given")
            << configFileFor(own) << "rcon-password" << "s3cret" << configFileFor(withPassword);
        QTest::newRow("a password emptied, its comment kept")
            << "set rconPassword \"x\" // old\n" + map + "\n" << "rcon-password" << ""
            << "//set rconPassword \"\" // old\n" + map + "\n";
        QTest::newRow("the tool's own script, a password emptied")
            << configFileFor(withPassword) << "rcon-password" << "" << configFileFor(own);
        QTest::newRow("no map, as managers give +map")
            << QByteArray("set sv_hostname \"Managed\"\nset sv_maxclients 12\n") << "map" << "quorvexmap1"
            << QByteArray("set sv_hostname \"Managed\"\nset sv_maxclients 12\nmap quorvexmap1\n");
        QTest::newRow("unset settings") << map + "\n" << "reserved-spaces" << "2"
                                        << "set sv_privateClients 2\n" + map + "\n";
        QTest::newRow("the map of the tool's rotation loaded by vstr d1")
            << QByteArray("set d1 \"map quorvexmap1; set nextmap vstr d2\"\nset d2 \"map qb; set nextmap vstr d1\"\n"
                          "set nextmap \"vstr d2\"\nvstr d1 // go\n")
            << "map" << "qb"
            << QByteArray("set d1 \"map qb; set nextmap vstr d2\"\nset d2 \"map qb; set nextmap vstr d1\"\n"
                          "set nextmap \"vstr d2\"\nvstr d1 // go\n");
        QTest::newRow("toggle with a comment")
            << "toggle sv_maxclients 4 12 // busy nights\n" + map + "\n" << "max-clients" << "10"
            << "set sv_maxclients 10 // busy nights\n" + map + "\n";
        QTest::newRow("a rotation that turns to a tournament")
            << QByteArray("set d1 \"map quorvexmap1; set nextmap vstr d2\"\nset d2 \"seta g_gametype 1 ; map qb ; set nextmap vstr d3\"\nvstr d1\n")
            << "time-limit" << "15"
            << QByteArray("set d1 \"map quorvexmap1; set nextmap vstr d2\"\nset d2 \"seta g_gametype 1 ; map qb ; set nextmap vstr d3\"\n"
                          "set timelimit 15\nvstr d1\n");
        QTest::newRow("vstr before map")
            << "set dm1 \"map qb ; set nextmap vstr dm2\"\nvstr dm1\n" + map + "\n" << "server-name" << "V"
            << "set dm1 \"map qb ; set nextmap vstr dm2\"\nset sv_hostname \"V\"\nvstr dm1\n" + map + "\n";
        QTest::newRow("# and ; lines, quoted names, indents")
            << "# comment\n; empty\nset \"sv_hostname\" \"Quoted\"\n   set timelimit 10\n\t" + map + "\n"
            << "motd" << "Hi"
            << "# comment\n; empty\nset \"sv_hostname\" \"Quoted\"\n   set timelimit 10\nset g_motd \"Hi\"\n\t" + map + "\n";
        QTest::newRow("placeholder with spaces left alone")
            << "set sv_hostname \"YOUR NAME\"\nset rconpassword \"CHANGE ME\"\n" + map + "\n"
            << "server-name" << "Mine"
            << "set sv_hostname \"Mine\"\nset rconpassword \"CHANGE ME\"\n" + map + "\n";
        QTest::newRow("a bare game variable before the map")
            << "g_motd \"early\"\n" + map + "\n" << "motd" << "new"
            << "g_motd \"early\"\nset g_motd \"new\"\n" + map + "\n";
        QTest::newRow("latched after the map")
            << map + "\nset sv_maxclients 32\n" << "max-clients" << "12"
            << "set sv_maxclients 12\n" + map + "\nset sv_maxclients 12\n";
        QTest::newRow("toggle") << "set sv_hostname a\ntoggle sv_hostname a b\n" + map + "\n"
                                << "server-name" << "c"
                                << "set sv_hostname c\nset sv_hostname \"c\"\n" + map + "\n";
        // clang-format on
    }

    void writingBackChangesOnlyWhatChanged()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, option);
        QFETCH(QString, value);
        QFETCH(QByteArray, written);
        const auto field = std::ranges::find_if(
            kSettingsFields, [&](const SettingsField& each) { return each.option == option; });
        const ScriptReading reading = readScript(script);
        OpenedScript opened{reading, reading.settings()};
        opened.shown.outputPath = QStringLiteral("server.cfg");
        QCOMPARE(writeBack(opened.shown, opened, std::nullopt, false).text, script);
        ServerSettings changed = opened.shown;
        changed.*field->member = value;
        const WriteBack edit = writeBack(changed, opened, std::nullopt, false);
        QCOMPARE(captioned(edit.problems), QStringList());
        QCOMPARE(edit.text, written);
#ifndef Q_OS_WIN
        EngineTree tree;
        writeBytes(tree.root() + "/baseq3/maps/qb.bsp", smallMap());
        const QList<ServerState> states = tree.runEach({script, written});
        const QStringList maps{EngineTree::kMap, "qb"};
        QCOMPARE(heldState(script, maps), states[0]);
        QCOMPARE(heldState(written, maps), states[1]);
        ServerState expected = states[0];
        if (field->variable)
            expected.cvars[QString::fromLatin1(field->variable).toLower()] = value;
        else if (expected.map.isEmpty())
            expected = states[1];
        expected.map = field->variable ? expected.map : value;
        QCOMPARE(states[1], expected);
#endif
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
        // What the script does not set is the engine's own.
        ServerSettings expected = designSettings();
        expected.serverName = "Arena";
        expected.maxClients = "8";
        expected.timeLimit = "0";
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
        // A rotation of 1,024 steps, each running a chain of 1,000 vstrs: the reading's budget
        // ends it, where comparing each level with every earlier one took minutes.
        QTest::newRow("beyond the reading's budget")
            << vstrChainRotation(1000)
            << "the tool cannot follow it: reading it took more than the tool allows for one "
               "script, 2,000,000 commands run, most of them vstr at the end of a level";
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
