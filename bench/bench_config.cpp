#include "config/ConfigScript.h"
#include "config/CreateConfig.h"
#include "config/SettingsCheck.h"
#include "script/ScriptReader.h"
#include "support/TestSettings.h"
#include "support/VstrChains.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

ServerSettings filledSettings(const QString& outputPath)
{
    ServerSettings s = testSettings(outputPath);
    s.serverName = QStringLiteral("Grelt's Quorvex Arena");
    s.motd = QStringLiteral("Welcome! No camping; be nice.");
    s.reservedPassword = QStringLiteral("reserved");
    s.adminPassword = QStringLiteral("admin");
    s.rconPassword = QStringLiteral("rcon");
    s.connectionPassword = QStringLiteral("join");
    s.region = QStringLiteral("7");
    return s;
}

// A rotation of 64 maps in the tool's own form.
QByteArray rotation64()
{
    ServerSettings s = filledSettings(QStringLiteral("/tmp/unused.cfg"));
    s.initialMap = QStringLiteral("m0");
    QStringList maps;
    for (int i = 1; i < 64; ++i)
        maps << QStringLiteral("m%1").arg(i);
    ConfigScript script;
    script.build(s, maps);
    return script.strCfg().toLatin1();
}

// A hand-written script of 1,000 lines.
QByteArray thousandLines()
{
    QByteArray script = "// hand written\n";
    for (int i = 0; i < 997; ++i)
        script += "seta var" + QByteArray::number(i) + " \"value " + QByteArray::number(i) +
                  "\" // note\n";
    return script + "seta sv_hostname \"Big\"\nmap q3dm1\n";
}

} // namespace

class BenchConfig : public QObject {
    Q_OBJECT

private slots:
    void build()
    {
        const ServerSettings s = filledSettings(QStringLiteral("/tmp/unused.cfg"));
        ConfigScript script;
        QBENCHMARK
        {
            script.build(s);
        }
    }

    void check()
    {
        const ServerSettings s = filledSettings(QStringLiteral("/tmp/unused.cfg"));
        QBENCHMARK
        {
            QVERIFY(checkSettings(s).isEmpty());
        }
    }

    // show of a script: its reading, as the engine runs it, the rotation followed.
    void read_data()
    {
        QTest::addColumn<QByteArray>("script");
        ConfigScript own;
        own.build(filledSettings(QStringLiteral("/tmp/unused.cfg")));
        QTest::newRow("the tool's own script") << own.strCfg().toLatin1();
        QTest::newRow("a 64-map rotation") << rotation64();
        QTest::newRow("the worst that the budget admits") << vstrChainRotation(970);
    }

    void read()
    {
        QFETCH(QByteArray, script);
        QBENCHMARK
        {
            QVERIFY(!readScript(script).problem);
        }
    }

    // Create Config on a script of 1,000 lines that the form was filled from, one box
    // changed, written to disk.
    void writeBack()
    {
        QTemporaryDir dir;
        const QByteArray script = thousandLines();
        OpenedScript opened{readScript(script), {}};
        opened.shown = opened.reading.settings();
        ServerSettings changed = opened.shown;
        changed.outputPath = dir.filePath(QStringLiteral("server.cfg"));
        changed.serverName = QStringLiteral("Bigger");
        QBENCHMARK
        {
            QVERIFY(::writeBack(changed, opened, std::nullopt).problems.isEmpty());
        }
    }

    void checkBuildAndWrite()
    {
        QTemporaryDir dir;
        const ServerSettings s = filledSettings(dir.filePath(QStringLiteral("server.cfg")));
        ConfigScript script;
        QBENCHMARK
        {
            QVERIFY(createConfig(s, script).isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(BenchConfig)
#include "bench_config.moc"
