#include "options/SavedPaths.h"
#include "support/ChildProcess.h"
#include "support/Processes.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#ifdef Q_OS_WIN
#include <windows.h>
#endif

class TestSavedPaths : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_configHome;

    QString storeFile() const { return m_configHome.filePath("VELDORIQUE.conf"); }

    // A stored value as the system holds it, read from where the README says it is.
    QVariant storedValue(const QString& key) const
    {
#ifdef Q_OS_WIN
        const QSettings raw(QStringLiteral("HKEY_CURRENT_USER\\Software\\VELDORIQUE\\OPTIONS"),
                            QSettings::NativeFormat);
        return raw.value(key);
#else
        const QSettings raw(storeFile(), QSettings::IniFormat);
        return raw.value(QStringLiteral("OPTIONS/") + key);
#endif
    }

    void writeStoreFile(const QByteArray& bytes)
    {
        QFile file(storeFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    static void compareToDesignTexts(const SavedPaths& paths)
    {
        QCOMPARE(paths.gameDir, QStringLiteral("Q3 DIR HERE"));
        QCOMPARE(paths.outputPath, QStringLiteral("CONFIG OUTPUT (EXAMPLE: C:\\MYCONF.CFG)"));
    }

private slots:
    void cleanupTestCase()
    {
        checkNothingLeftRunning();
    }

    void initTestCase()
    {
        adoptOrphans();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    }

    void cleanup()
    {
#ifdef Q_OS_WIN
        QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\VELDORIQUE"),
                  QSettings::NativeFormat)
            .clear();
#else
        QFile::remove(storeFile());
        QDir(storeFile()).removeRecursively();
#endif
    }

    void firstRunGivesTheDesignTexts()
    {
        compareToDesignTexts(loadSavedPaths());
    }

    void pathsComeBackCharacterForCharacter_data()
    {
        QTest::addColumn<QString>("gameDir");
        QTest::addColumn<QString>("outputPath");
        QTest::newRow("plain") << "/opt/quake3"
                               << "/home/op/server.cfg";
        QTest::newRow("spaces and backslash") << "C:\\Program Files\\Quake III Arena\\"
                                              << "C:\\My Configs\\server one.cfg";
        QTest::newRow("surrounding spaces") << "  /opt/q3  "
                                            << " x ";
        QTest::newRow("ini syntax") << "a;b#c=d[e]"
                                    << "\"quoted\" 'single' ; # =";
        QTest::newRow("commas") << "a, b, c"
                                << ",";
        QTest::newRow("variant look-alike") << "@Variant(x)"
                                            << "@String(y)";
        QTest::newRow("non-ASCII") << "/home/zoë/Quake Ⅲ/日本"
                                   << "C:\\Ünïcødé\\€.cfg";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("tab") << "a\tb"
                             << "\t";
    }

    void pathsComeBackCharacterForCharacter()
    {
        QFETCH(QString, gameDir);
        QFETCH(QString, outputPath);
        QCOMPARE(storeSavedPaths({gameDir, outputPath}), std::nullopt);
        const SavedPaths loaded = loadSavedPaths();
        QCOMPARE(loaded.gameDir, gameDir);
        QCOMPARE(loaded.outputPath, outputPath);
        QCOMPARE(storedValue("Q3DIR").toString(), gameDir);
        QCOMPARE(storedValue("SAVECFG").toString(), outputPath);
    }

    // The values are plain strings under the key, for anyone who reads the registry.
    void registryHoldsThePathsAsText()
    {
#ifdef Q_OS_WIN
        QCOMPARE(storeSavedPaths({"C:\\Games\\Quake III Arena", "D:\\my.cfg"}), std::nullopt);
        wchar_t text[256];
        DWORD size = sizeof text;
        QCOMPARE(RegGetValueW(HKEY_CURRENT_USER, L"Software\\VELDORIQUE\\OPTIONS", L"Q3DIR",
                              RRF_RT_REG_SZ, nullptr, text, &size),
                 LONG(ERROR_SUCCESS));
        QCOMPARE(QString::fromWCharArray(text), QStringLiteral("C:\\Games\\Quake III Arena"));
#else
        QSKIP("Only Windows keeps the paths in the registry.");
#endif
    }

    void storingKeepsOtherEntries()
    {
#ifdef Q_OS_WIN
        QSKIP("On Windows the store is the registry, not a file that can hold other text.");
#else
        writeStoreFile("[OTHERTOOL]\nkey=value\n\n[OPTIONS]\nQ3DIR=old\n");
        QCOMPARE(storeSavedPaths({"new", "out"}), std::nullopt);
        QSettings raw(storeFile(), QSettings::IniFormat);
        QCOMPARE(raw.value("OTHERTOOL/key").toString(), QStringLiteral("value"));
        QCOMPARE(raw.value("OPTIONS/Q3DIR").toString(), QStringLiteral("new"));
#endif
    }

    void oneMissingKeyGivesItsDesignText()
    {
#ifdef Q_OS_WIN
        QSKIP("On Windows the store is the registry, not a file that can hold other text.");
#else
        writeStoreFile("[OPTIONS]\nSAVECFG=/srv/q3.cfg\n");
        const SavedPaths loaded = loadSavedPaths();
        QCOMPARE(loaded.gameDir, QStringLiteral("Q3 DIR HERE"));
        QCOMPARE(loaded.outputPath, QStringLiteral("/srv/q3.cfg"));
#endif
    }

    void damagedStoreGivesTheDesignTexts_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("binary junk") << QByteArray("\x00\xff\xfe[[[\x01\n=\n\x80", 12);
        QTest::newRow("lists instead of text")
            << QByteArray("[OPTIONS]\nQ3DIR=a, b\nSAVECFG=c, d\n");
        QTest::newRow("non-text values")
            << QByteArray("[OPTIONS]\nQ3DIR=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n"
                          "SAVECFG=@ByteArray(xyz)\n");
    }

    void damagedStoreGivesTheDesignTexts()
    {
#ifdef Q_OS_WIN
        QSKIP("On Windows the store is the registry, not a file that can hold other text.");
#else
        QFETCH(QByteArray, content);
        writeStoreFile(content);
        compareToDesignTexts(loadSavedPaths());
#endif
    }

    void storingOverADamagedStoreKeepsThePaths()
    {
#ifdef Q_OS_WIN
        QSKIP("On Windows the store is the registry, not a file that can hold other text.");
#else
        writeStoreFile(QByteArray("\x00\xff\xfe[[[\x01\n=\n\x80", 12));
        QCOMPARE(storeSavedPaths({"/opt/q3", "/srv/q3.cfg"}), std::nullopt);
        const SavedPaths loaded = loadSavedPaths();
        QCOMPARE(loaded.gameDir, QStringLiteral("/opt/q3"));
        QCOMPARE(loaded.outputPath, QStringLiteral("/srv/q3.cfg"));
#endif
    }

    void unreadableStoreGivesTheDesignTextsAndCannotBeWritten_data()
    {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("folder") << false;
        QTest::newRow("named pipe, never opened") << true;
    }

    void unreadableStoreGivesTheDesignTextsAndCannotBeWritten()
    {
#ifdef Q_OS_WIN
        QSKIP("On Windows the store is the registry, not a file that can hold other text.");
#else
        QFETCH(bool, pipe);
        QVERIFY(pipe ? mkfifo(QFile::encodeName(storeFile()), 0600) == 0
                     : QDir().mkdir(storeFile()));
        compareToDesignTexts(loadSavedPaths());
        const std::optional<QString> error = storeSavedPaths({"a", "b"});
        QVERIFY(error);
        QVERIFY2(error->contains(storeFile()), qPrintable(*error));
#endif
    }

    void readOnlyConfigDirectoryIsReportedWithoutHanging()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no ordinary user for a child to become.");
#else
        QCOMPARE(storeSavedPaths({"old", "old"}), std::nullopt);
        QVERIFY(handOver(storeFile(), QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(handOver(m_configHome.path(), QFile::ReadOwner | QFile::ExeOwner));
        const ChildResult child = runUnprivileged([&] {
            const std::optional<QString> error = storeSavedPaths({"new", "new"});
            return error && error->contains(storeFile()) ? 0 : 1;
        });
        QFile::setPermissions(m_configHome.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(child.exitCode, 0);
        QCOMPARE(loadSavedPaths().gameDir, QStringLiteral("old"));
#endif
    }
};

QTEST_GUILESS_MAIN(TestSavedPaths)
#include "tst_savedpaths.moc"
