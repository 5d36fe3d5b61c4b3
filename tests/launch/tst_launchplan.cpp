#include "launch/LaunchPlan.h"
#include "servers/ScriptNumbers.h"

#include <QTest>
#include <cmath>

class TestLaunchPlan : public QObject {
    Q_OBJECT

private slots:
    void paths_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("gameDir");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QString>("commandLine");

        const QString options = " +set fs_game arena +set sv_pure 0 +set bot_enable 0 "
                                "+set dedicated 2 +set net_port 27960 +exec conf";
        const int windows = int(PathStyle::Windows);
        const int posix = int(PathStyle::Posix);
        QTest::newRow("windows") << windows << "C:\\Quake3"
                                 << "C:\\Quake3\\arena\\conf17.cfg"
                                 << "C:\\Quake3\\quake3.exe" + options + "17";
        QTest::newRow("windows trailing backslash") << windows << "C:\\Quake3\\"
                                                    << "C:\\Quake3\\arena\\conf17.cfg"
                                                    << "C:\\Quake3\\quake3.exe" + options + "17";
        QTest::newRow("windows trailing slash") << windows << "C:/Quake3/"
                                                << "C:/Quake3/\\arena\\conf17.cfg"
                                                << "C:/Quake3/\\quake3.exe" + options + "17";
        QTest::newRow("windows spaces")
            << windows << "C:\\Program Files\\Quake III Arena"
            << "C:\\Program Files\\Quake III Arena\\arena\\conf17.cfg"
            << "C:\\Program Files\\Quake III Arena\\quake3.exe" + options + "17";
        QTest::newRow("windows empty") << windows << ""
                                       << "\\arena\\conf17.cfg"
                                       << "\\quake3.exe" + options + "17";
        QTest::newRow("posix") << posix << "/opt/quake3"
                               << "/opt/quake3/arena/conf17.cfg"
                               << "/opt/quake3/quake3.exe" + options + "17";
        QTest::newRow("posix trailing slash") << posix << "/opt/quake3/"
                                              << "/opt/quake3/arena/conf17.cfg"
                                              << "/opt/quake3/quake3.exe" + options + "17";
        QTest::newRow("posix trailing backslash") << posix << "/opt/q3\\"
                                                  << "/opt/q3\\/arena/conf17.cfg"
                                                  << "/opt/q3\\/quake3.exe" + options + "17";
    }

    void paths()
    {
        QFETCH(int, style);
        QFETCH(QString, gameDir);
        QFETCH(QString, installed);
        QFETCH(QString, commandLine);
        QCOMPARE(installedScriptPath(gameDir, 17, PathStyle(style)), installed);
        QCOMPARE(serverCommandLine(serverProgram(gameDir, PathStyle(style)), 17), commandLine);
    }

    void argumentsNameTheScriptWithoutExtension()
    {
        const QStringList arguments = serverArguments(0);
        QCOMPARE(arguments.size(), 17);
        QCOMPARE(arguments.mid(13), (QStringList{"net_port", "27960", "+exec", "conf0"}));
        QCOMPARE(serverArguments(5001).last(), QStringLiteral("conf5001"));
        // Another port gets its own home path; the game's own keeps the engine's.
        QCOMPARE(serverArguments(3, 27961, "/home/a b/.q3a-27961").mid(13),
                 (QStringList{"net_port", "27961", "+set", "fs_homepath", "/home/a b/.q3a-27961",
                              "+exec", "conf3"}));
        QCOMPARE(serverArguments(3, kServerPort, "/elsewhere"), serverArguments(3));
    }

    void numbersStayInRange()
    {
        QCOMPARE(ScriptNumberSequence::numberFor(0.0f), 0);
        QCOMPARE(ScriptNumberSequence::numberFor(0.5f), 2501);
        QCOMPARE(ScriptNumberSequence::numberFor(std::nextafter(1.0f, 0.0f)), 5001);

        ScriptNumberSequence sequence;
        int lowest = ScriptNumberSequence::kCount;
        int highest = -1;
        for (int i = 0; i < 200000; ++i) {
            const int n = sequence.next();
            lowest = std::min(lowest, n);
            highest = std::max(highest, n);
        }
        QCOMPARE(lowest, 0);
        QCOMPARE(highest, 5001);
    }

    // A word of a Windows command line, as a task's action and a detached run take it, comes
    // back whole through CommandLineToArgvW's rules: quotes escaped, the backslashes before a
    // quote doubled, and those before the closing quote too.
    void windowsWords_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << "--restart=on-failure"
                               << "--restart=on-failure";
        QTest::newRow("backslashes alone") << "C:\\Games\\q3"
                                           << "C:\\Games\\q3";
        QTest::newRow("a space") << "Z:\\Quake III Arena"
                                 << "\"Z:\\Quake III Arena\"";
        QTest::newRow("a folder's last backslash") << "C:\\My Games\\"
                                                   << "\"C:\\My Games\\\\\"";
        QTest::newRow("quotes") << "say \"hi\""
                                << "\"say \\\"hi\\\"\"";
        QTest::newRow("a backslash before a quote") << "a\\\"b"
                                                    << "\"a\\\\\\\"b\"";
        QTest::newRow("empty") << ""
                               << "\"\"";
    }

    void windowsWords()
    {
        QFETCH(QString, word);
        QFETCH(QString, quoted);
        QCOMPARE(windowsArgument(word), quoted);
    }

    void everySequenceIsTheSame()
    {
        ScriptNumberSequence a;
        ScriptNumberSequence b;
        QList<int> first;
        for (int i = 0; i < 10; ++i)
            first << a.next();
        for (int i = 0; i < 10; ++i)
            QCOMPARE(b.next(), first[i]);
        QVERIFY(first.count(first[0]) < 10);
    }
};

QTEST_APPLESS_MAIN(TestLaunchPlan)
#include "tst_launchplan.moc"
