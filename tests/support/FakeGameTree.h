#pragma once

#include "support/Files.h"
#include "support/GameEngine.h"
#include "support/Processes.h"
#include "support/Wine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// A temporary game directory with an arena folder, the tests' small map in baseq3, and a
// quake3.exe that stands in for the
// dedicated server: each start writes a record file holding the working directory and
// then one argument a line. It is a shell script, or on Windows the fake_server program.
// Its paths are written with the system's own separators, as an operator types them.
// With the real engine, quake3.exe is a shell script that runs Debian's dedicated server
// in its place, on the tests' small map: on Linux, and under Wine, which runs such a script
// as a Unix program when a Windows program starts it. The tree stops every server it
// started, and waits until each has ended, when it goes.
class FakeGameTree {
public:
    // A recorder that ends at once, one that then runs without ever answering, or the engine.
    enum Server { Recorder, Silent, RealEngine };

    // Why the tool cannot start the real engine here, or nothing when it can.
    static const char* withoutRealEngine()
    {
#ifdef Q_OS_WIN
        if (!underWine())
            return "Debian's dedicated server runs only on Linux, and from a Windows program "
                   "only under Wine.";
#endif
        return nullptr;
    }

    explicit FakeGameTree(Server server = Recorder,
                          const QString& name = QStringLiteral("Quake III Arena"))
        : gameDir(QDir::toNativeSeparators(m_root.filePath(name))),
          outputPath(QDir::toNativeSeparators(m_root.filePath(QStringLiteral("my.cfg")))),
          m_records(m_root.filePath(QStringLiteral("records")))
    {
        QDir().mkpath(gameDir + QStringLiteral("/arena"));
        QDir().mkpath(gameDir + QStringLiteral("/baseq3/maps"));
        writeBytes(gameDir + QStringLiteral("/baseq3/maps/") + EngineTree::kMap +
                       QStringLiteral(".bsp"),
                   smallMap());
        QDir().mkpath(m_records);
        if (server == RealEngine) {
            if (const char* why = withoutRealEngine())
                qFatal("%s", why);
            m_engine.emplace(gameDir);
            useEngineHome(FreshHome);
            return;
        }
#ifdef Q_OS_WIN
        QFile::copy(QStringLiteral(FAKE_SERVER), gameDir + QStringLiteral("/quake3.exe"));
        QFile::setPermissions(gameDir + QStringLiteral("/quake3.exe"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        writeBytes(gameDir + QStringLiteral("/records.path"), m_records.toUtf8());
#else
        writeServer(recorder() +
                    (server == Silent ? QStringLiteral("exec sleep 600\n") : QString()));
#endif
    }

    ~FakeGameTree()
    {
#ifdef Q_OS_WIN
        // Wine gives a Windows program no handle on a Unix process, so each server's script
        // stops it when the stop file appears, and says when it has ended.
        writeBytes(m_records + QStringLiteral("/stop"), {});
        for (const QString& name : QDir(m_records).entryList({QStringLiteral("pid.*")})) {
            const QString stopped = m_records + QStringLiteral("/stopped.") + name.mid(4);
            if (!QTest::qWaitFor([&] { return QFile::exists(stopped); }, 10000))
                qWarning("a game server of the test did not stop");
        }
#else
        for (const QString& name : QDir(m_records).entryList({QStringLiteral("pid.*")})) {
            if (!stopProcess(name.mid(4).toInt()))
                qWarning("a game server of the test did not stop");
        }
#endif
    }

    // Where the real engine keeps its home path: a fresh folder at each start, the
    // engine's own default ($HOME/.q3a on Linux), or the given folder.
    static inline const QString FreshHome = QStringLiteral("(fresh)");
    static inline const QString DefaultHome = QString();

    void useEngineHome(const QString& home)
    {
        QStringList options = m_engine->engineOptions();
        const qsizetype at = options.indexOf(QStringLiteral("fs_homepath"));
        const qsizetype base = options.indexOf(QStringLiteral("fs_basepath"));
        options[base + 1] = scriptPath(options[base + 1]);
        for (QString& option : options)
            option = u'\'' + option + u'\'';
        if (home == FreshHome)
            options[at + 1] =
                QStringLiteral("\"$(mktemp -d \"%1/home.XXXXXX\")\"").arg(scriptPath(m_records));
        else if (home.isEmpty())
            options.remove(at - 1, 3);
        else
            options[at + 1] = u'\'' + scriptPath(home) + u'\'';
        const QString engine = kEngineProgram + u' ' + options.join(u' ') +
                               QStringLiteral(" +set net_ip 127.0.0.1 \"$@\"");
#ifdef Q_OS_WIN
        writeServer(recorder() +
                    QStringLiteral("%2 >\"%1/engine.$$.log\" 2>&1 &\n"
                                   "engine=$!\n"
                                   "while [ ! -e \"%1/stop\" ] && kill -0 $engine 2>/dev/null; "
                                   "do sleep 0.1; done\n"
                                   "kill $engine 2>/dev/null\n"
                                   "wait $engine\n"
                                   "touch \"%1/stopped.$$\"\n")
                        .arg(scriptPath(m_records), engine));
#else
        writeServer(recorder() + QStringLiteral("exec ") + engine + u'\n');
#endif
    }

    void writeServer(const QString& script,
                     const QString& name = QStringLiteral("quake3.exe")) const
    {
        writeBytes(gameDir + u'/' + name, script.toUtf8());
        QFile::setPermissions(gameDir + u'/' + name,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Each start of the server as its working directory followed by its arguments.
    QList<QStringList> launches() const
    {
        QList<QStringList> result;
        for (const QString& name : QDir(m_records).entryList({QStringLiteral("launch.*")})) {
            if (!name.endsWith(QStringLiteral(".tmp")))
                result << QString::fromUtf8(readAll(m_records + u'/' + name))
                              .split(u'\n', Qt::SkipEmptyParts);
        }
        return result;
    }

    QString root() const
    {
        return m_root.path();
    }

    // The arena folder's scripts and logs.
    QStringList arena() const
    {
        return entries(gameDir + QStringLiteral("/arena"));
    }

private:
    // A path as the shell scripts see it.
    static QString scriptPath(const QString& path)
    {
#ifdef Q_OS_WIN
        return unixPath(path).value_or(path);
#else
        return path;
#endif
    }

    // The shell script's part that records a start, and the process for the tree to stop.
    QString recorder() const
    {
        return QStringLiteral("#!/bin/sh\n"
                              "echo $$ > \"%1/pid.$$\"\n"
                              "record=\"%1/launch.$$\"\n"
                              "{ pwd -P; for a in \"$@\"; do printf '%s\\n' \"$a\"; "
                              "done; } > \"$record.tmp\"\n"
                              "mv \"$record.tmp\" \"$record\"\n")
            .arg(scriptPath(m_records));
    }

    QTemporaryDir m_root;

public:
    const QString gameDir;
    const QString outputPath;

private:
    const QString m_records;
    std::optional<EngineTree> m_engine;
};
