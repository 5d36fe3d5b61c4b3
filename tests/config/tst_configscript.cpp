#include "config/ConfigScript.h"
#include "config/RegionCodeTable.h"
#include "config/SettingsCheck.h"
#include "support/GameEngine.h"
#include "support/Processes.h"
#include "support/TestSettings.h"

#include <QTest>

namespace {

QString crlfJoined(const QStringList& lines)
{
    return lines.join(QStringLiteral("\r\n"));
}

const QStringList kRegionComment = {
    "// Here are the Region Numbers:",
    "",
    "//0: Unspecified Region",
    "//1: Southeastern U.S.",
    "//2: Western U.S.",
    "//3: Midwestern U.S.",
    "//4: Northwestern U.S., Western Canada",
    "//5: Northeastern U.S., Eastern Canada",
    "//6: United Kingdom",
    "//7: Continental Europe",
    "//8: Central Asia, Middle East",
    "//9: Southeastern Asia, Pacific",
    "//10: Africa",
    "//11: Australia, New Zealand, or Pacific",
    "//12: Central, South America",
};

// The whole script, line by line, with the values that differ between the tests.
QString scriptFor(const QString& hostname, const QString& motd, const QString& maxClients,
                  const QString& timeLimit, const QString& reserved, const QStringList& passwords,
                  const QString& locationLine, const QString& map)
{
    QStringList lines = {
        "// =====================================",
        "//   CREATED BY GRELT'S CONFIG CREATOR   ",
        "// =====================================",
        "",
        "",
        "// Sets your server name",
        "set sv_hostname \"" + hostname + "\"",
        "",
        "// Sets your message of the day",
        "set g_motd \"" + motd + "\"",
        "",
        "// Sets the maximum amount of clients on your server",
        "set sv_maxclients " + maxClients,
        "",
        "// Sets the time limit of a map so that another map can start.  Quorvex does not "
        "support a frag limit.",
        "set timelimit " + timeLimit,
        "",
        "// Sets the amount of reserved client spaces",
        "set sv_privateClients " + reserved,
        "",
        "// Sets the reserved client password",
        passwords[0],
        "",
        "// Sets the administrator password",
        passwords[1],
        "",
        "// Sets the remote console password",
        passwords[2],
        "",
        "// Sets the password users have to specify when they connect or they will get an "
        "\"Invalid Password.\" message",
        passwords[3],
        "",
        "// Sets your server region code",
        "",
    };
    lines += kRegionComment;
    if (!locationLine.isNull())
        lines << locationLine;
    lines << ""
          << "// Sets your initial map"
          << "map " + map;
    return crlfJoined(lines);
}

const QStringList kNoPasswords = {"//set sv_privatePassword \"\"", "//set g_adminPass \"\"",
                                  "//set rconPassword \"\"", "//set Password \"\""};

QString built(const ServerSettings& settings)
{
    ConfigScript script;
    script.build(settings);
    return script.strCfg();
}

// The real game server runs the script and must end up holding exactly the typed values.
void verifyInTheEngine(const ServerSettings& settings)
{
    QCOMPARE(captioned(checkSettings(settings)), QStringList());
#ifdef Q_OS_WIN
    QSKIP("Debian's dedicated server, the judge of the scripts, runs only on Linux.");
#endif
    EngineTree tree;
    const QList<ServerState> states = tree.runScripts({configFileFor(settings)});
    QCOMPARE(states.first(), expectedState(settings));
}

} // namespace

class TestConfigScript : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { adoptOrphans(); }
    void cleanupTestCase() { checkNothingLeftRunning(); }

    void regionRenderings()
    {
        QStringList dialog = {"Here are the Region Numbers:", ""};
        for (const QString& line : kRegionComment.mid(2))
            dialog << line.mid(2);
        QCOMPARE(RegionCodeTable::dialogText(), crlfJoined(dialog));
        QCOMPARE(RegionCodeTable::scriptText(), crlfJoined(kRegionComment));
        QCOMPARE(dialog.size(), 15);
    }

    void designDefaultsGiveTheTemplate()
    {
        const QString expected =
            scriptFor("", "", "16", "30", "0", kNoPasswords, "set location 0", "quorvexmap1");
        QCOMPARE(built(testSettings()), expected);
        QCOMPARE(expected.count(QStringLiteral("\r\n")), 52);
        QVERIFY(!expected.endsWith(QStringLiteral("\r\n")));
        verifyInTheEngine(testSettings());
    }

    void filledFormGivesTheTemplate()
    {
        ServerSettings s = testSettings();
        s.serverName = "Grelt's Arena";
        s.motd = "Welcome; have fun";
        s.maxClients = "24";
        s.timeLimit = "";
        s.reservedSlots = "2";
        s.reservedPassword = "res";
        s.adminPassword = " ";
        s.rconPassword = "rc/o*n;";
        s.connectionPassword = "join";
        s.region = " 7.5 ";
        s.initialMap = "";
        const QStringList passwords = {"set sv_privatePassword \"res\"", "set g_adminPass \" \"",
                                       "set rconPassword \"rc/o*n;\"", "set Password \"join\""};
        QCOMPARE(built(s), scriptFor("Grelt's Arena", "Welcome; have fun", "24", "0", "2",
                                     passwords, "set location 8", ""));
        verifyInTheEngine(s);
    }

    void unconvertibleRegionLeavesTheLocationLineOut_data()
    {
        QTest::addColumn<QString>("region");
        QTest::newRow("empty") << "";
        QTest::newRow("word") << "six";
        QTest::newRow("above range") << "32768";
        QTest::newRow("below range") << "-32769";
    }

    void unconvertibleRegionLeavesTheLocationLineOut()
    {
        QFETCH(QString, region);
        ServerSettings s = testSettings();
        s.region = region;
        QCOMPARE(built(s),
                 scriptFor("", "", "16", "30", "0", kNoPasswords, QString(), "quorvexmap1"));
    }

    void regionConversion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -99999: no value
        const int none = -99999;
        QTest::newRow("plain") << "6" << 6;
        QTest::newRow("spaces around") << "  6  " << 6;
        QTest::newRow("tab around") << "\t6\t" << 6;
        QTest::newRow("half down to even") << "6.5" << 6;
        QTest::newRow("half up to even") << "7.5" << 8;
        QTest::newRow("above half") << "6.51" << 7;
        QTest::newRow("negative") << "-12" << -12;
        QTest::newRow("negative half to zero") << "-0.5" << 0;
        QTest::newRow("negative zero") << "-0" << 0;
        QTest::newRow("leading zeros") << "007" << 7;
        QTest::newRow("maximum") << "32767" << 32767;
        QTest::newRow("minimum") << "-32768" << -32768;
        QTest::newRow("rounds past maximum") << "32767.5" << none;
        QTest::newRow("rounds to minimum") << "-32768.5" << -32768;
        QTest::newRow("beyond maximum") << "40000" << none;
        QTest::newRow("empty") << "" << none;
        QTest::newRow("space") << " " << none;
        QTest::newRow("word") << "abc" << none;
        QTest::newRow("trailing junk") << "6x" << none;
        QTest::newRow("infinity") << "inf" << none;
        QTest::newRow("not a number") << "nan" << none;
        QTest::newRow("huge") << "1e400" << none;
    }

    void regionConversion()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const std::optional<qint16> value = toInteger16(text);
        if (expected == -99999) {
            QVERIFY2(!value, qPrintable(QString::number(value.value_or(0))));
        } else {
            QVERIFY(value);
            QCOMPARE(int(*value), expected);
        }
    }

    void negativeZeroIsWrittenAsZero()
    {
        ServerSettings s = testSettings();
        s.region = "-0.5";
        QVERIFY(built(s).contains(QStringLiteral("\r\nset location 0\r\n")));
    }

    void buildReplacesThePreviousScript()
    {
        ServerSettings s = testSettings();
        ConfigScript script;
        s.serverName = "first";
        script.build(s);
        s.serverName = "second";
        script.build(s);
        QCOMPARE(script.strCfg(), built(s));
        script.build(s);
        QCOMPARE(script.strCfg(), built(s));
    }

    void valuesAreWrittenAsTyped()
    {
        ServerSettings s = testSettings();
        s.motd = "line one\r\nline two";
        s.maxClients = "abc";
        s.reservedSlots = " ";
        const QString text = built(s);
        QVERIFY(text.contains(QStringLiteral("\r\nset g_motd \"line one\r\nline two\"\r\n")));
        QVERIFY(text.contains(QStringLiteral("\r\nset sv_maxclients abc\r\n")));
        QVERIFY(text.contains(QStringLiteral("\r\nset sv_privateClients  \r\n")));
    }
};

QTEST_APPLESS_MAIN(TestConfigScript)
#include "tst_configscript.moc"
