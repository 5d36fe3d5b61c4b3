#include "config/ConfigFile.h"
#include "config/CreateConfig.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/Processes.h"
#include "support/TestSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

#ifndef Q_OS_WIN
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

const QByteArray kOldContent = QByteArray("old script\r\n").repeated(400);

#ifndef Q_OS_WIN

// Keeps this process's file size limit low for its lifetime, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, SIG_DFL);
    }

private:
    rlimit m_saved{};
};
#endif

} // namespace

class TestConfigFile : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { adoptOrphans(); }
    void cleanupTestCase() { checkNothingLeftRunning(); }

    void writesTheScriptWithOneByteACharacter()
    {
        QTemporaryDir dir;
        ServerSettings s = testSettings(dir.filePath("server.cfg"));
        s.serverName = "Café ÿ";
        ConfigScript script;
        QCOMPARE(captioned(createConfig(s, script)), QStringList());

        const QByteArray bytes = readAll(s.outputPath);
        QCOMPARE(bytes, script.strCfg().toLatin1() + "\r\n");
        QVERIFY(bytes.startsWith("// =====================================\r\n//   CREATED BY"));
        QVERIFY(bytes.endsWith("\r\n\r\n// Sets your initial map\r\nmap quorvexmap1\r\n"));
        QVERIFY(bytes.contains("set sv_hostname \"Caf\xe9 \xff\"\r\n"));
        QCOMPARE(entries(dir.path()), QStringList{"server.cfg"});
    }

    // Windows refuses to replace a file while another program reads it, as a virus scanner does.
    void replacesALongerFileEntirely()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("server.cfg");
        writeBytes(path, kOldContent);
        QFile reader(path);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            reader.close();
        });
        ConfigScript script;
        const QStringList problems = captioned(createConfig(testSettings(path), script));
        release.join();
        QCOMPARE(problems, QStringList());
        QCOMPARE(readAll(path), configFileBytes(script.strCfg()));
        QCOMPARE(entries(dir.path()), QStringList{"server.cfg"});
    }

    void twoWritesGiveIdenticalFiles()
    {
        QTemporaryDir dir;
        ServerSettings s = testSettings(dir.filePath("a.cfg"));
        ConfigScript script;
        QCOMPARE(captioned(createConfig(s, script)), QStringList());
        const QByteArray first = readAll(s.outputPath);
        QCOMPARE(captioned(createConfig(s, script)), QStringList());
        QCOMPARE(readAll(s.outputPath), first);
    }

    void refusedSettingsLeaveTheOldFile_data()
    {
        QTest::addColumn<SettingsMember>("member");
        QTest::addColumn<QString>("value");
        QTest::newRow("quote") << &ServerSettings::rconPassword << "x\";quit;\"";
        QTest::newRow("line break") << &ServerSettings::motd << "one\r\ntwo";
        QTest::newRow("semicolon unquoted") << &ServerSettings::initialMap << "m;quit";
        QTest::newRow("backslash in name") << &ServerSettings::serverName << "a\\b";
        QTest::newRow("too long") << &ServerSettings::motd << QString(256, u'x');
        QTest::newRow("outside Latin-1") << &ServerSettings::adminPassword << "€";
        QTest::newRow("region") << &ServerSettings::region << "x";
    }

    void refusedSettingsLeaveTheOldFile()
    {
        QFETCH(SettingsMember, member);
        QFETCH(QString, value);
        QTemporaryDir dir;
        ServerSettings s = testSettings(dir.filePath("server.cfg"));
        writeBytes(s.outputPath, kOldContent);
        s.*member = value;
        ConfigScript script;
        const QStringList problems = captioned(createConfig(s, script));
        QCOMPARE(problems.size(), 1);
        QVERIFY(problems.first().startsWith(fieldCaption(member) + ": "));
        QCOMPARE(readAll(s.outputPath), kOldContent);
        QCOMPARE(entries(dir.path()), QStringList{"server.cfg"});
    }

    // A config file that holds a password is its owner's alone; a mode is narrowed to the
    // owner's, never widened, and one without a password keeps its own.
    void passwordsAreKeptFromOtherUsers_data()
    {
        QTest::addColumn<int>("before"); // -1: a new file
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("after"); // -1: a new file's usual mode
        QTest::newRow("new") << -1 << "" << -1;
        QTest::newRow("new with a password") << -1 << "secret" << 0600;
        QTest::newRow("replaced with a password") << 0664 << "secret" << 0600;
        QTest::newRow("replaced") << 0604 << "" << 0604;
    }

    void passwordsAreKeptFromOtherUsers()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows keeps files of a user's own in folders of that user's.");
#else
        QFETCH(int, before);
        QFETCH(QString, password);
        QFETCH(int, after);
        QTemporaryDir dir;
        ServerSettings s = testSettings(dir.filePath("server.cfg"));
        if (before >= 0) {
            writeBytes(s.outputPath, kOldContent);
            QVERIFY(chmod(QFile::encodeName(s.outputPath).constData(), mode_t(before)) == 0);
        }
        for (QString* box :
             {&s.reservedPassword, &s.adminPassword, &s.rconPassword, &s.connectionPassword}) {
            *box = password;
            ConfigScript script;
            QCOMPARE(captioned(createConfig(s, script)), QStringList());
            QCOMPARE(fileMode(s.outputPath), after < 0 ? newFileMode() : after);
            *box = QString();
        }
#endif
    }

    void designOutputTextWritesNothing()
    {
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(dir.path()));
        ConfigScript script;
        QCOMPARE(createConfig(testSettings(kOutputPathPlaceholder), script).size(), 1);
        QCOMPARE(entries(dir.path()), QStringList());
    }

    void failedWritesLeaveEverythingAsItWas_data()
    {
        QTest::addColumn<QString>("target"); // relative to a temporary directory
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing directory") << "missing/server.cfg"
                                           << "the folder \"%1/missing\" does not exist;";
        QTest::newRow("parent is a file") << "server.cfg/inner.cfg"
                                          << "\"%1/server.cfg\" is a file, not a folder.";
        QTest::newRow("directory in the way")
            << "folder"
            << "it is a folder, not a file; give the path of a file, such as "
               "\"%1/folder/server.cfg\".";
    }

    void failedWritesLeaveEverythingAsItWas()
    {
        QFETCH(QString, target);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        writeBytes(dir.filePath("server.cfg"), kOldContent);
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const QString path = dir.filePath(target);

        ConfigScript script;
        const QStringList problems = captioned(createConfig(testSettings(path), script));
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.first().startsWith("Could not write the config file \"" + path + "\": "),
                 qPrintable(problems.first()));
        QVERIFY2(problems.first().contains(reason.arg(dir.path())), qPrintable(problems.first()));
        QCOMPARE(readAll(dir.filePath("server.cfg")), kOldContent);
        QCOMPARE(entries(dir.path()), (QStringList{"folder", "server.cfg"}));
        QCOMPARE(entries(dir.filePath("folder")), QStringList());
    }

    void fullDiskLeavesTheOldFile()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no file size limit to stand in for a full disk.");
#else
        QTemporaryDir dir;
        const QString path = dir.filePath("server.cfg");
        writeBytes(path, kOldContent);
        QStringList problems;
        {
            const FileSizeLimit limit(100);
            ConfigScript script;
            problems = captioned(createConfig(testSettings(path), script));
        }
        QCOMPARE(problems,
                 QStringList("Could not write the config file \"" + path + "\": File too large."));
        QCOMPARE(readAll(path), kOldContent);
        QCOMPARE(entries(dir.path()), QStringList{"server.cfg"});
#endif
    }

    void permissionsLeaveTheOldFile_data()
    {
        QTest::addColumn<bool>("directoryWritable");
        QTest::addColumn<bool>("fileWritable");
        QTest::addColumn<QString>("reason");
        QTest::newRow("read-only directory")
            << false << true << "the folder \"%1\" cannot be written, and the file is saved";
        QTest::newRow("read-only file") << true << false << "is not writable";
    }

    void permissionsLeaveTheOldFile()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no ordinary user for a child to become.");
#else
        QFETCH(bool, directoryWritable);
        QFETCH(bool, fileWritable);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("server.cfg");
        writeBytes(path, kOldContent);
        const QFile::Permissions read = QFile::ReadOwner | QFile::ExeOwner;
        QVERIFY(handOver(path, fileWritable ? read | QFile::WriteOwner : read));
        QVERIFY(handOver(dir.path(), directoryWritable ? read | QFile::WriteOwner : read));

        const ChildResult child = runUnprivileged([&] {
            ConfigScript script;
            const QStringList problems = captioned(createConfig(testSettings(path), script));
            return problems.size() == 1 && problems.first().contains(path) &&
                           problems.first().contains(reason.arg(dir.path()))
                       ? 0
                       : 1;
        });
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(child.exitCode, 0);
        QCOMPARE(readAll(path), kOldContent);
        QCOMPARE(entries(dir.path()), QStringList{"server.cfg"});
#endif
    }

    void killedWriteLeavesTheOldFileAndNoTemporaryFile()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no signal that kills a writer in the middle of its write.");
#else
        QTemporaryDir dir;
        const QString path = dir.filePath("server.cfg");
        writeBytes(path, kOldContent);
        // Past the limit the system kills the writer with SIGXFSZ in the middle of its write.
        const ChildResult child = runInChild([&] {
            const rlimit limit{100, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &limit);
            ConfigScript script;
            createConfig(testSettings(path), script);
            return 0;
        });
        QCOMPARE(child.signal, SIGXFSZ);
        QCOMPARE(readAll(path), kOldContent);
        QCOMPARE(entries(dir.path()), QStringList{"server.cfg"});

        ConfigScript script;
        QCOMPARE(captioned(createConfig(testSettings(path), script)), QStringList());
        QCOMPARE(readAll(path), configFileBytes(script.strCfg()));
        QCOMPARE(entries(dir.path()), QStringList{"server.cfg"});
#endif
    }
};

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_configfile.moc"
