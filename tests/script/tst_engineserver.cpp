#include "config/CreateConfig.h"
#include "launch/LaunchPlan.h"
#include "script/ScriptReader.h"
#include "support/GameEngine.h"
#include "support/Processes.h"
#include "support/TestSettings.h"

#include <QTest>

// A real dedicated server started on the test's small map with a script the tool wrote.
class TestEngineServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { adoptOrphans(); }
    void cleanupTestCase() { checkNothingLeftRunning(); }

    void serverRunsTheWrittenScript()
    {
        EngineTree tree;
        ServerSettings s = testSettings(tree.arena() + QStringLiteral("/conf17.cfg"));
        s.serverName = QStringLiteral("Grelt's Quorvex Arena ^1red");
        s.maxClients = QStringLiteral("12");
        s.timeLimit = QStringLiteral("25");
        s.reservedSlots = QStringLiteral("2");
        s.reservedPassword = QStringLiteral("friends");
        s.rconPassword = QStringLiteral("s3cret;/x");
        s.initialMap = EngineTree::kMap;
        ConfigScript script;
        QCOMPARE(captioned(createConfig(s, script)), QStringList());

        EngineServer server(tree, QStringList{"+set", "net_ip", "127.0.0.1"} + serverArguments(17));
        const std::optional<QByteArray> status = waitForAnswer("getstatus", 10000);
        QVERIFY2(status, server.output().constData());
        QVERIFY(status->startsWith("statusResponse\n"));
        const QHash<QString, QString> info = infoPairs(status->split('\n').value(1));
        QCOMPARE(info.value("sv_hostname"), s.serverName);
        QCOMPARE(info.value("sv_maxclients"), s.maxClients);
        QCOMPARE(info.value("timelimit"), s.timeLimit);
        QCOMPARE(info.value("sv_privateClients"), s.reservedSlots);
        QCOMPARE(info.value("mapname"), s.initialMap);

        // The server allows a source address one query a second once its burst is spent.
        QTest::qWait(1100);
        const std::optional<QByteArray> answer =
            askServer("rcon " + s.rconPassword.toLatin1() + " status");
        QVERIFY(answer);
        QVERIFY2(answer->startsWith("print\nmap: " + s.initialMap.toLatin1()), answer->constData());
        QTest::qWait(1100);
        QCOMPARE(askServer("rcon s3cret status"), QByteArray("print\nBad rconpassword.\n"));
    }

    // The maps that a rotation plays, as the reader follows it, are those the server plays
    // over its first level ends, with time sped up: steps of the rotation's own form, a step
    // whose map is missing, and the game's fall back to vstr d1 after a map resets nextmap.
    void rotationsPlayAsTheReaderFollowsThem_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("levels");
        const QByteArray steps = "set d1 \"map qa; set nextmap vstr d2\"\n"
                                 "set d2 \"map %; set nextmap vstr d3\"\n"
                                 "set d3 \"map qc; set nextmap vstr d1\"\nvstr d1\n";
        QTest::newRow("three steps")
            << QByteArray(steps).replace('%', "qb") << QStringList{"qa", "qb", "qc", "qa"};
        QTest::newRow("a missing map")
            << QByteArray(steps).replace('%', "qmissing") << QStringList{"qa", "qa", "qc", "qa"};
        QTest::newRow("back to d1")
            << QByteArray("set d1 \"map qb; set nextmap vstr d2\"\nset d2 \"map qc\"\nmap qa\n")
            << QStringList{"qa", "qb", "qc", "qb"};
    }

    void rotationsPlayAsTheReaderFollowsThem()
    {
        QFETCH(QByteArray, script);
        QFETCH(QStringList, levels);
        EngineTree tree;
        for (const char* map : {"qa", "qb", "qc"})
            writeBytes(tree.root() + "/baseq3/maps/" + map + ".bsp", smallMap());
        const ScriptReading reading = readScript(script, [&](const QString& map) {
            return QFile::exists(tree.root() + "/baseq3/maps/" + map + ".bsp");
        });
        QStringList order = QStringList{*reading.map} + reading.rotation;
        while (order.size() < levels.size())
            order << order[reading.repeatsFrom +
                           (order.size() - reading.repeatsFrom) %
                               (reading.rotation.size() + 1 - reading.repeatsFrom)];
        QCOMPARE(order.first(levels.size()), levels);

        writeBytes(tree.arena() + "/conf21.cfg", "set timelimit 1\n" + script);
        EngineServer server(tree,
                            QStringList{"+set", "net_ip", "127.0.0.1", "+set", "timescale", "20"} +
                                serverArguments(21));
        // Each level's map, as the server names it at its load and at its end.
        QStringList played;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                played = QStringList();
                QString map;
                for (const QByteArray& line : server.output().split('\n')) {
                    if (line.startsWith("Server: "))
                        map = QString::fromLatin1(line.mid(8));
                    else if (line.startsWith("Exit: "))
                        played << map;
                }
                return played.size() >= levels.size();
            }(),
            30000);
        QCOMPARE(played.first(levels.size()), levels);
    }
};

QTEST_GUILESS_MAIN(TestEngineServer)
#include "tst_engineserver.moc"
