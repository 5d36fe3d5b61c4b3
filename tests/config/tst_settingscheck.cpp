#include "config/ConfigScript.h"
#include "script/ScriptReader.h"
#include "config/SettingsCheck.h"
#include "support/GameEngine.h"
#include "support/Processes.h"
#include "support/TestSettings.h"

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
    void initTestCase() { adoptOrphans(); }
    void cleanupTestCase() { checkNothingLeftRunning(); }

    void designSettingsPass() { QCOMPARE(captioned(checkSettings(testSettings())), QStringList()); }

    void refused_data()
    {
        QTest::addColumn<SettingsMember>("member");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("mentions");

        const QList<std::tuple<const char*, SettingsMember, QString, QString>> rows = {
            {"quote in name", &ServerSettings::serverName, "a\"b", "double quotes"},
            {"quote injection in rcon", &ServerSettings::rconPassword, "x\";quit;\"",
             "double quotes"},
            {"Enter in motd", &ServerSettings::motd, "one\r\ntwo", "line breaks"},
            {"LF in admin", &ServerSettings::adminPassword, "a\nb",
             "line breaks; the config file cannot hold them in a setting. The pasted text holds "
             "line breaks, shown as spaces."},
            {"line separator in name", &ServerSettings::serverName, "a\u2028b",
             "replace the characters U+2028; the config file can only hold Western European "
             "(ISO-8859-1) characters. The pasted text holds line breaks, shown as spaces."},
            {"NUL in motd", &ServerSettings::motd, QString("a") + QChar(0) + "b", "NUL"},
            {"semicolon in max clients", &ServerSettings::maxClients, "16;quit",
             "give a whole number from 1 to 64;"},
            {"space in max clients", &ServerSettings::maxClients, " 16 ", "from 1 to 64"},
            {"max clients over 64", &ServerSettings::maxClients, "100", "from 1 to 64"},
            {"no max clients", &ServerSettings::maxClients, "0", "from 1 to 64"},
            {"empty max clients", &ServerSettings::maxClients, "", "from 1 to 64"},
            {"word in time limit", &ServerSettings::timeLimit, "abc",
             "give a whole number from 0 to 2147483647; the game server would read other text "
             "as 0"},
            {"comment in time limit", &ServerSettings::timeLimit, "30//", "a whole number"},
            {"negative reserved", &ServerSettings::reservedSlots, "-3", "from 0 to 64"},
            {"only a space in reserved", &ServerSettings::reservedSlots, " ", "a whole number"},
            {"every slot reserved", &ServerSettings::reservedSlots, "16",
             "give fewer than Maximum Clients, 16; with 16 of the 16 slots kept for the reserved "
             "password, the server would tell every other player that it is full."},
            {"map with its file ending", &ServerSettings::initialMap, "q3dm17.BSP",
             "remove the \".bsp\" at the end; the game server adds it itself"},
            {"control in map", &ServerSettings::initialMap, "q3\x1b", "(U+001B)"},
            {"letter beyond ASCII in map", &ServerSettings::initialMap, "3é0",
             "beyond plain ASCII (\"é\" U+00E9)"},
            {"no-break space in map", &ServerSettings::initialMap, "my\u00a0map", "(U+00A0)"},
            {"space in map", &ServerSettings::initialMap, "my map", "cut the setting"},
            {"backslash in map", &ServerSettings::initialMap, "a\\b", "backslashes"},
            {"55-character map", &ServerSettings::initialMap, QString(55, u'm'), "54"},
            {"backslash in name", &ServerSettings::serverName, "a\\b", "backslashes"},
            {"semicolon in name", &ServerSettings::serverName, "a;b", "semicolons"},
            {"backslash in reserved password", &ServerSettings::reservedPassword, "a\\b",
             "backslashes"},
            {"semicolon in connection password", &ServerSettings::connectionPassword, "a;b",
             "semicolons"},
            {"percent in connection password", &ServerSettings::connectionPassword, "100%",
             "percent signs"},
            {"Latin-1 in reserved password", &ServerSettings::reservedPassword, "clé",
             "no player could ever"},
            {"space in rcon", &ServerSettings::rconPassword, "r c", "spaces"},
            {"Latin-1 in rcon", &ServerSettings::rconPassword, "pässword", "\"ä\""},
            {"percent in rcon", &ServerSettings::rconPassword, "%s", "percent"},
            {"comment in rcon", &ServerSettings::rconPassword, "a//b", "(//)"},
            {"block comment in rcon", &ServerSettings::rconPassword, "a/*b", "(/*)"},
            {"256 characters", &ServerSettings::motd, QString(256, u'm'), "255"},
            {"outside Latin-1", &ServerSettings::adminPassword, "pass€", "\"€\" U+20AC"},
            {"emoji and zero-width space", &ServerSettings::serverName, "😀a\u200b😀",
             "\"😀\" U+1F600, U+200B"},
            {"region word", &ServerSettings::region, "Europe", "give a number"},
            {"region empty", &ServerSettings::region, "", "give a number"},
            {"region too big", &ServerSettings::region, "99999", "give a number"},
            {"output empty", &ServerSettings::outputPath, "", "path"},
            {"output from home", &ServerSettings::outputPath, "~/my.cfg",
             "would be a folder named ~, so give for example \"" + QDir::homePath() + "/my.cfg\"."},
            {"output of another user", &ServerSettings::outputPath, "~quake/my.cfg",
             "would be a folder named ~."},
            {"pasted output", &ServerSettings::outputPath, "/tmp/a\r\n.cfg",
             "remove the line breaks from the path. The pasted text"},
            {"output design text", &ServerSettings::outputPath, QString(kOutputPathPlaceholder),
             "path"},
        };
        for (const auto& [name, member, value, mentions] : rows)
            QTest::newRow(name) << member << value << mentions;
    }

    void refused()
    {
        QFETCH(SettingsMember, member);
        QFETCH(QString, value);
        QFETCH(QString, mentions);
        ServerSettings s = testSettings();
        s.*member = value;
        const QStringList problems = captioned(checkSettings(s));
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problemFor(problems, member).contains(mentions), qPrintable(problems.first()));
    }

    void accepted_data()
    {
        QTest::addColumn<SettingsMember>("member");
        QTest::addColumn<QString>("value");

        QTest::newRow("leading zero in max clients") << &ServerSettings::maxClients << "016";
        QTest::newRow("empty time limit") << &ServerSettings::timeLimit << "";
        QTest::newRow("semicolon in quoted motd") << &ServerSettings::motd << "hi; there";
        QTest::newRow("backslash in motd") << &ServerSettings::motd << "C:\\q3";
        QTest::newRow("comment marks in admin")
            << &ServerSettings::adminPassword << " a//b/*c;d\\%é\t";
        QTest::newRow("punctuation in rcon") << &ServerSettings::rconPassword << "a/b*c;d\\^$";
        QTest::newRow("single slash in map") << &ServerSettings::initialMap << "maps/a*b";
        QTest::newRow("54-character map") << &ServerSettings::initialMap << QString(54, u'm');
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
        ServerSettings s = testSettings();
        s.*member = value;
        QCOMPARE(captioned(checkSettings(s)), QStringList());
    }

    void everyProblemIsReportedInFormOrder()
    {
        ServerSettings s = testSettings();
        s.serverName = "\"";
        s.motd = "a\"b\nc";
        s.initialMap = QString(300, u'x') + "; x";
        s.region = "x";
        s.outputPath.clear();
        const QStringList problems = captioned(checkSettings(s));
        QCOMPARE(problems.size(), 7);
        QVERIFY(problems[0].startsWith("Server Name: remove the double quotes"));
        QVERIFY(problems[1].startsWith("Server Description (Message of the Day): remove the "
                                       "double quotes (\") and line breaks;"));
        QVERIFY(problems[2].startsWith("Server Region/Location: "));
        QVERIFY(problems[3].startsWith("Initial Map: remove the semicolons"));
        QVERIFY(problems[4].startsWith("Initial Map: remove the spaces"));
        QVERIFY(problems[5].startsWith("Initial Map: shorten it to 54 characters or fewer "
                                       "(it has 303)"));
        QVERIFY(problems[6].startsWith("Config output path: "));
    }

    // Random forms, most of them made of what the game server reads back exactly and some
    // with one box of anything, run through the real engine. The reader of scripts must agree with
    // the engine on every form, and every form that the check accepts must arrive exactly.
    void formsAgainstTheEngine()
    {
#ifdef Q_OS_WIN
        QSKIP("Debian's dedicated server, the judge of the scripts, runs only on Linux.");
#else
        QRandomGenerator random(20261207);
        const QString anything = QStringLiteral("aZ09 _-.,:!?#$%&'()*+<=>@[]^`{|}~;\\/\t\x01\x1f"
                                                "\x7f\u00e9\u00a0\u00bd\u00ff");
        const auto without = [&](const QString& remove) {
            QString pool = anything;
            return pool.removeIf([&](QChar c) { return remove.contains(c); });
        };
        const QString separators = QStringLiteral(" \t\x01\x1f\u00e9\u00a0\u00bd\u00ff");
        const QString quoted = anything;
        const QString info = without(QStringLiteral("\\;"));
        const QString playerPassword = without(QStringLiteral("\\;%\u00e9\u00a0\u00bd\u00ff"));
        const QString rcon = without(separators + QStringLiteral("%"));
        const QString unquoted = without(separators + QStringLiteral(";"));
        const QString map = without(separators + QStringLiteral(";\\"));
        const auto text = [&](const QString& pool, bool bare) {
            const int length =
                random.bounded(8) == 0 ? int(random.bounded(250, 256)) : int(random.bounded(0, 12));
            QString value;
            for (int i = 0; i < length; ++i)
                value += pool[random.bounded(pool.size())];
            while (bare &&
                   (value.contains(QStringLiteral("//")) || value.contains(QStringLiteral("/*"))))
                value.replace(QStringLiteral("//"), QStringLiteral("/"))
                    .replace(QStringLiteral("/*"), QStringLiteral("*"));
            return value;
        };

        QList<ServerSettings> forms;
        QList<QByteArray> scripts;
        for (int round = 0; round < 6000; ++round) {
            ServerSettings s = testSettings();
            s.serverName = text(info, false);
            s.motd = text(quoted, false);
            const auto number = [&](int least, int most) {
                return random.bounded(24) == 0 ? text(unquoted, true)
                                               : QString::number(random.bounded(least, most + 1));
            };
            s.maxClients = number(1, 64);
            s.timeLimit = number(0, 999);
            s.reservedSlots = number(0, std::max(0, s.maxClients.toInt() - 1));
            s.reservedPassword = text(playerPassword, false);
            s.adminPassword = text(quoted, false);
            s.rconPassword = text(rcon, true);
            s.connectionPassword = text(playerPassword, false);
            s.region = random.bounded(2) ? QString::number(random.bounded(-40000, 40000))
                                         : QStringLiteral(" %1.5 ").arg(random.bounded(-9, 9));
            s.initialMap = text(map, true).left(54);
            if (random.bounded(8) == 0) {
                const SettingsField& wild = kSettingsFields[random.bounded(11)];
                s.*wild.member = text(anything, false);
            }
            forms << s;
            scripts << configFileFor(s);
        }

        EngineTree tree;
        const QList<ServerState> states = tree.runScripts(scripts);
        int accepted = 0;
        for (qsizetype i = 0; i < forms.size(); ++i) {
            if (checkSettings(forms[i]).isEmpty()) {
                ++accepted;
                // The engine's run ends each script with a line that closes an open block
                // comment, and loads no map, so its values are those the map would take.
                QCOMPARE(states[i], readState(scripts[i] + "//*/\n"));
                QCOMPARE(states[i], expectedState(forms[i]));
                // Read back, the script gives the form: an empty number as 0, the region rounded.
                ServerSettings form = forms[i];
                for (QString* number : {&form.maxClients, &form.timeLimit, &form.reservedSlots})
                    *number = number->isEmpty() ? QStringLiteral("0") : *number;
                form.region = QString::number(*toInteger16(form.region));
                form.outputPath = kOutputPathPlaceholder;
                QVERIFY(readScript(scripts[i]).settings() == form);
            }
        }
        qInfo("%d of %lld forms accepted, all of them arrived exactly", accepted, forms.size());
        QVERIFY(accepted >= 4000);
#endif
    }

    // What the check refuses in the script's own text really changes what the server holds.
    void refusedValuesChangeInTheEngine()
    {
#ifdef Q_OS_WIN
        QSKIP("Debian's dedicated server, the judge of the scripts, runs only on Linux.");
#else
        const QList<std::pair<SettingsMember, QString>> refused = {
            {&ServerSettings::maxClients, "3\u00e90"},
            {&ServerSettings::timeLimit, " 16 "},
            {&ServerSettings::reservedSlots, " "},
            {&ServerSettings::initialMap, "my map"},
            {&ServerSettings::initialMap, QString(55, u'm')},
            {&ServerSettings::maxClients, "8;set sv_hostname x"},
            {&ServerSettings::timeLimit, "30//"},
        };
        QList<ServerSettings> forms;
        QList<QByteArray> scripts;
        for (const auto& [member, value] : refused) {
            ServerSettings s = testSettings();
            s.*member = value;
            QVERIFY(!checkSettings(s).isEmpty());
            forms << s;
            scripts << configFileFor(s);
        }
        EngineTree tree;
        const QList<ServerState> states = tree.runScripts(scripts);
        for (qsizetype i = 0; i < forms.size(); ++i)
            QVERIFY2(states[i] != expectedState(forms[i]), qPrintable(describe(states[i])));
#endif
    }
};

QTEST_APPLESS_MAIN(TestSettingsCheck)
#include "tst_settingscheck.moc"
