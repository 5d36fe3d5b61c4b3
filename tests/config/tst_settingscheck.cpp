#include "config/ConfigScript.h"
#include "config/ServerScriptModel.h"
#include "config/SettingsCheck.h"
#include "config/TestSettings.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

// The problem reported for one box, or an empty string.
QString problemFor(const QStringList& problems, SettingsMember member)
{
    const QString prefix = fieldCaption(member) + QStringLiteral(": ");
    for (const QString& problem : problems) {
        if (problem.startsWith(prefix))
            return problem;
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(SettingsMember)

class TestSettingsCheck : public QObject {
    Q_OBJECT

private slots:
    void designSettingsPass() { QCOMPARE(checkSettings(designSettings()), QStringList()); }

    void refused_data()
    {
        QTest::addColumn<SettingsMember>("member");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("mentions");

        QTest::newRow("quote in name") << &ServerSettings::serverName << "a\"b"
                                       << "double quotes";
        QTest::newRow("quote injection in rcon") << &ServerSettings::rconPassword << "x\";quit;\""
                                                 << "double quotes";
        QTest::newRow("Enter in motd") << &ServerSettings::motd << "one\r\ntwo"
                                       << "line breaks";
        QTest::newRow("LF in admin") << &ServerSettings::adminPassword << "a\nb"
                                     << "line breaks";
        QTest::newRow("CR in map") << &ServerSettings::initialMap << "a\rb"
                                   << "line breaks";
        QTest::newRow("NUL in motd") << &ServerSettings::motd << QString("a") + QChar(0) + "b"
                                     << "NUL characters";
        QTest::newRow("semicolon in max clients") << &ServerSettings::maxClients << "16;quit"
                                                  << "semicolons";
        QTest::newRow("comment in time limit") << &ServerSettings::timeLimit << "30//"
                                               << "(//)";
        QTest::newRow("block comment in reserved") << &ServerSettings::reservedSlots << "0/*"
                                                   << "(/*)";
        QTest::newRow("semicolon in map") << &ServerSettings::initialMap << "m;quit"
                                          << "semicolons";
        QTest::newRow("backslash in name") << &ServerSettings::serverName << "a\\b"
                                           << "backslashes";
        QTest::newRow("semicolon in name") << &ServerSettings::serverName << "a;b"
                                           << "semicolons";
        QTest::newRow("backslash in reserved password")
            << &ServerSettings::reservedPassword << "a\\b"
            << "backslashes";
        QTest::newRow("semicolon in connection password")
            << &ServerSettings::connectionPassword << "a;b"
            << "semicolons";
        QTest::newRow("256 characters") << &ServerSettings::motd << QString(256, u'm') << "255";
        QTest::newRow("outside Latin-1") << &ServerSettings::adminPassword << "pass€"
                                         << "\"€\"";
        QTest::newRow("emoji") << &ServerSettings::serverName << "😀a😁😀"
                               << "\"😀😁\"";
        QTest::newRow("region word") << &ServerSettings::region << "Europe"
                                     << "whole number";
        QTest::newRow("region empty") << &ServerSettings::region << ""
                                      << "whole number";
        QTest::newRow("region too big") << &ServerSettings::region << "99999"
                                        << "whole number";
        QTest::newRow("output empty") << &ServerSettings::outputPath << ""
                                      << "path";
        QTest::newRow("output design text")
            << &ServerSettings::outputPath << QString(kOutputPathPlaceholder) << "path";
    }

    void refused()
    {
        QFETCH(SettingsMember, member);
        QFETCH(QString, value);
        QFETCH(QString, mentions);
        ServerSettings s = designSettings();
        s.*member = value;
        const QStringList problems = checkSettings(s);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problemFor(problems, member).contains(mentions), qPrintable(problems.first()));
    }

    void accepted_data()
    {
        QTest::addColumn<SettingsMember>("member");
        QTest::addColumn<QString>("value");

        QTest::newRow("non-numeric max clients") << &ServerSettings::maxClients << "abc";
        QTest::newRow("empty time limit") << &ServerSettings::timeLimit << "";
        QTest::newRow("semicolon in quoted motd") << &ServerSettings::motd << "hi; there";
        QTest::newRow("backslash in motd") << &ServerSettings::motd << "C:\\q3";
        QTest::newRow("comment marks in rcon") << &ServerSettings::rconPassword << "a//b/*c;d\\";
        QTest::newRow("single slash in map") << &ServerSettings::initialMap << "maps/a*b";
        QTest::newRow("255 characters") << &ServerSettings::serverName << QString(255, u'n');
        QTest::newRow("Latin-1 accents") << &ServerSettings::serverName << "Café Ünïcødé ÿ";
        QTest::newRow("space password") << &ServerSettings::adminPassword << " ";
        QTest::newRow("region with spaces") << &ServerSettings::region << " 6 ";
        QTest::newRow("negative region") << &ServerSettings::region << "-3";
        QTest::newRow("relative output") << &ServerSettings::outputPath << "server.cfg";
        QTest::newRow("game dir not checked") << &ServerSettings::gameDir << "";
    }

    void accepted()
    {
        QFETCH(SettingsMember, member);
        QFETCH(QString, value);
        ServerSettings s = designSettings();
        s.*member = value;
        QCOMPARE(checkSettings(s), QStringList());
    }

    void everyProblemIsReportedInFormOrder()
    {
        ServerSettings s = designSettings();
        s.serverName = "\"";
        s.motd = "a\"b\nc";
        s.initialMap = QString(300, u'x') + ";";
        s.region = "x";
        s.outputPath.clear();
        const QStringList problems = checkSettings(s);
        QCOMPARE(problems.size(), 6);
        QVERIFY(problems[0].startsWith("Server Name: remove the double quotes"));
        QVERIFY(problems[1].startsWith("Server Description (Message of the Day): remove the "
                                       "double quotes (\") and line breaks;"));
        QVERIFY(problems[2].startsWith("Server Region/Location: "));
        QVERIFY(problems[3].startsWith("Initial Map: remove the semicolons"));
        QVERIFY(problems[4].startsWith("Initial Map: shorten it to 255 characters or fewer "
                                       "(it has 301)"));
        QVERIFY(problems[5].startsWith("Config output path: "));
    }

    // Values built from everything the check lets through must reach the game server as
    // exactly the commands the form describes, carrying exactly the typed values.
    void acceptedValuesKeepTheScriptStructure()
    {
        QRandomGenerator random(20261207);
        const QString anywhere = QStringLiteral("aZ09 _-.,:!?#$%&'()*+<=>@[]^`{|}~\té\xff");
        const auto text = [&](const QString& pool) {
            QString value;
            const int length = random.bounded(0, 12);
            for (int i = 0; i < length; ++i)
                value += pool[random.bounded(pool.size())];
            return value;
        };
        const QString quoted = anywhere + QStringLiteral(";\\/");
        const QString info = anywhere + QStringLiteral("/");
        // A slash is allowed in unquoted values as long as it starts no comment.
        const auto unquoted = [&] {
            QString value = text(anywhere);
            if (random.bounded(3) == 0)
                value.insert(random.bounded(value.size() + 1), u'/');
            while (value.contains(QStringLiteral("//")) || value.contains(QStringLiteral("/*")))
                value.replace(QStringLiteral("//"), QStringLiteral("/"))
                    .replace(QStringLiteral("/*"), QStringLiteral("*"));
            return value;
        };

        for (int round = 0; round < 2000; ++round) {
            ServerSettings s = designSettings();
            s.serverName = text(info);
            s.motd = text(quoted);
            s.maxClients = unquoted();
            s.timeLimit = unquoted();
            s.reservedSlots = unquoted();
            s.reservedPassword = text(info);
            s.adminPassword = text(quoted);
            s.rconPassword = text(quoted);
            s.connectionPassword = text(info);
            const qint16 location = qint16(random.bounded(-32768, 32768));
            s.region = QString::number(location);
            s.initialMap = unquoted();

            const QStringList problems = checkSettings(s);
            QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
            ConfigScript script;
            script.build(s);
            const QStringList commands = serverCommands(script.strCfg());
            QCOMPARE(commands, expectedCommands(s, location));
            for (const QString& command : commands) {
                if (command.endsWith(u'"'))
                    QCOMPARE(serverArguments(command).size(), 3);
            }
        }
    }

    // The model itself must see the injections that the check refuses.
    void modelSeesInjections()
    {
        ServerSettings s = designSettings();
        s.rconPassword = "x\";quit;\"";
        ConfigScript script;
        script.build(s);
        QVERIFY(serverCommands(script.strCfg()).contains(QStringLiteral("quit")));
        QCOMPARE(serverArguments(QStringLiteral("set a \"b; c\"")),
                 (QStringList{"set", "a", "b; c"}));
    }
};

QTEST_APPLESS_MAIN(TestSettingsCheck)
#include "tst_settingscheck.moc"
