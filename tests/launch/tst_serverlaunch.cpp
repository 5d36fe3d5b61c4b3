#include "config/ServerSettings.h"
#include "launch/FakeGameTree.h"
#include "launch/LaunchPlan.h"
#include "launch/ScriptNumbers.h"
#include "launch/ServerLaunch.h"
#include "support/ChildProcess.h"
#include "support/Files.h"

#include <QProcess>
#include <QTest>

namespace {

const QByteArray kScript = "// script\r\nset sv_hostname \"x\"\r\nmap quorvexmap1\r\n";

QStringList launchRecord(const QString& gameDir, int n)
{
    return QStringList{QDir(gameDir).canonicalPath()} + serverArguments(n);
}

} // namespace

class TestServerLaunch : public QObject {
    Q_OBJECT

private slots:
    void installsTheScriptAndStartsTheServer_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("as typed") << "";
        QTest::newRow("trailing separator") << "/";
    }

    void installsTheScriptAndStartsTheServer()
    {
        QFETCH(QString, suffix);
        FakeGameTree tree;
        writeBytes(tree.outputPath, kScript);
        const QString before = QDir::currentPath();

        QCOMPARE(launchServer(tree.gameDir + suffix, tree.outputPath, 42), std::nullopt);
        QTRY_COMPARE(tree.launches().size(), 1);
        QCOMPARE(tree.launches().first(), launchRecord(tree.gameDir, 42));
        QCOMPARE(tree.arena(), QStringList{"conf42.cfg"});
        QCOMPARE(readAll(tree.gameDir + "/arena/conf42.cfg"), kScript);
        QCOMPARE(QDir::currentPath(), before);
    }

    void replacesAScriptOfTheSameNumber()
    {
        FakeGameTree tree;
        writeBytes(tree.gameDir + "/arena/conf7.cfg", QByteArray(5000, 'o'));
        writeBytes(tree.outputPath, kScript);
        QCOMPARE(launchServer(tree.gameDir, tree.outputPath, 7), std::nullopt);
        QCOMPARE(readAll(tree.gameDir + "/arena/conf7.cfg"), kScript);
        QCOMPARE(tree.arena(), QStringList{"conf7.cfg"});
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
        QCOMPARE(launchServer(tree.gameDir, tree.outputPath, processScriptNumbers().next()),
                 std::nullopt);
        QCOMPARE(launchServer(tree.gameDir, tree.outputPath, processScriptNumbers().next()),
                 std::nullopt);
        QStringList expected{"conf" + numbers[0] + ".cfg", "conf" + numbers[1] + ".cfg"};
        expected.sort();
        QCOMPARE(tree.arena(), expected);
        QTRY_COMPARE(tree.launches().size(), 2);
    }

    void refusalsStartAndInstallNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty game directory")
            << "empty"
            << "Game directory: type the folder where Quake III Arena is installed";
        QTest::newRow("design text") << "design"
                                     << "Game directory: type the folder where Quake III Arena";
        QTest::newRow("missing game directory") << "missing"
                                                << "does not exist";
        QTest::newRow("no arena folder") << "no arena"
                                         << "has no arena folder";
        QTest::newRow("no quake3.exe") << "no server"
                                       << "has no quake3.exe";
        QTest::newRow("quake3.exe not executable") << "not executable"
                                                   << "cannot be run";
        QTest::newRow("no config file") << "no config"
                                        << "Click Create Config";
        QTest::newRow("config path design text") << "config design"
                                                 << "Config output path: ";
        QTest::newRow("installed name is a directory") << "conf is directory"
                                                       << "Could not install the config file as";
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
        const QStringList arenaBefore = tree.arena();

        const std::optional<QString> error = launchServer(gameDir, outputPath, 3);
        QVERIFY(error);
        QVERIFY2(error->contains(message), qPrintable(*error));
        QTest::qWait(100);
        QCOMPARE(tree.launches(), QList<QStringList>());
        QCOMPARE(tree.arena(), arenaBefore);
    }

    void readOnlyArenaInstallsAndStartsNothing()
    {
        FakeGameTree tree;
        writeBytes(tree.outputPath, kScript);
        const QFile::Permissions all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner;
        QVERIFY(handOver(tree.root(), all));
        QVERIFY(handOver(tree.gameDir, all));
        QVERIFY(handOver(tree.gameDir + "/arena", readOnly));
        QVERIFY(handOver(tree.gameDir + "/quake3.exe", readOnly));

        const ChildResult child = runUnprivileged([&] {
            const std::optional<QString> error = launchServer(tree.gameDir, tree.outputPath, 5);
            return error && error->startsWith("Could not install the config file as \"" +
                                              tree.gameDir + "/arena/conf5.cfg\": ")
                       ? 0
                       : 1;
        });
        QFile::setPermissions(tree.gameDir + "/arena", all);
        QCOMPARE(child.exitCode, 0);
        QTest::qWait(100);
        QCOMPARE(tree.launches(), QList<QStringList>());
        QCOMPARE(tree.arena(), QStringList());
    }

    void failedStartIsReported()
    {
        FakeGameTree tree;
        tree.writeServer("#!/nonexistent/interpreter\n");
        writeBytes(tree.outputPath, kScript);
        const std::optional<QString> error = launchServer(tree.gameDir, tree.outputPath, 9);
        QVERIFY(error);
        QVERIFY2(error->startsWith("Could not start the game server (" +
                                   serverCommandLine(tree.gameDir, 9, PathStyle::Posix) + "): "),
                 qPrintable(*error));
        QVERIFY2(error->contains("No such file or directory"), qPrintable(*error));
    }
};

QTEST_GUILESS_MAIN(TestServerLaunch)
#include "tst_serverlaunch.moc"
