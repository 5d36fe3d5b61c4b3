#include "config/ConfigScript.h"
#include "config/CreateConfig.h"
#include "config/SettingsCheck.h"
#include "support/TestSettings.h"

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
