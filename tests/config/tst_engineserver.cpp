#include "config/CreateConfig.h"
#include "launch/LaunchPlan.h"
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
};

QTEST_GUILESS_MAIN(TestEngineServer)
#include "tst_engineserver.moc"
