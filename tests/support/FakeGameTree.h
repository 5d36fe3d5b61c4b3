#pragma once

#include "support/Files.h"
#include "support/GameEngine.h"
#include "support/Processes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A temporary game directory with an arena folder and a quake3.exe that stands in for the
// dedicated server: each start writes a record file holding the working directory and
// then one argument a line. It is a shell script, or on Windows the fake_server program.
// Its paths are written with the system's own separators, as an operator types them.
// With the real engine, on Linux, quake3.exe then runs Debian's dedicated server in its
// place, on the tests' small map. The tree stops every server it started, and waits until
// each has ended, when it goes.
class FakeGameTree {
public:
    enum Server { Recorder, RealEngine };

    explicit FakeGameTree(Server server = Recorder,
                          const QString& name = QStringLiteral("Quake III Arena"))
        : gameDir(QDir::toNativeSeparators(m_root.filePath(name))),
          outputPath(QDir::toNativeSeparators(m_root.filePath(QStringLiteral("my.cfg")))),
          m_records(m_root.filePath(QStringLiteral("records")))
    {
        QDir().mkpath(gameDir + QStringLiteral("/arena"));
        QDir().mkpath(m_records);
#ifdef Q_OS_WIN
        if (server == RealEngine)
            qFatal("the real engine runs only on Linux");
        QFile::copy(QStringLiteral(FAKE_SERVER), gameDir + QStringLiteral("/quake3.exe"));
        QFile::setPermissions(gameDir + QStringLiteral("/quake3.exe"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        writeBytes(gameDir + QStringLiteral("/records.path"), m_records.toUtf8());
#else
        if (server == RealEngine) {
            m_engine.emplace(gameDir);
            useEngineHome(FreshHome);
        } else {
            writeServer(recorder());
        }
#endif
    }

#ifndef Q_OS_WIN
    ~FakeGameTree()
    {
        for (const QString& name : QDir(m_records).entryList({QStringLiteral("pid.*")})) {
            if (!stopProcess(name.mid(4).toInt()))
                qWarning("a game server of the test did not stop");
        }
    }

    // Where the real engine keeps its home path: a fresh folder at each start, the
    // engine's own default ($HOME/.q3a), or the given folder.
    static inline const QString FreshHome = QStringLiteral("(fresh)");
    static inline const QString DefaultHome = QString();

    void useEngineHome(const QString& home)
    {
        QStringList options = m_engine->engineOptions();
        const qsizetype at = options.indexOf(QStringLiteral("fs_homepath"));
        for (QString& option : options)
            option = u'\'' + option + u'\'';
        if (home == FreshHome)
            options[at + 1] = QStringLiteral("\"$(mktemp -d \"%1/home.XXXXXX\")\"").arg(m_records);
        else if (home.isEmpty())
            options.remove(at - 1, 3);
        else
            options[at + 1] = u'\'' + home + u'\'';
        writeServer(recorder() + QStringLiteral("exec %1 %2 +set net_ip 127.0.0.1 \"$@\"\n")
                                     .arg(kEngineProgram, options.join(u' ')));
    }
#endif

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
    // The shell script's part that records a start, and the process for the tree to stop.
    QString recorder() const
    {
        return QStringLiteral("#!/bin/sh\n"
                              "echo $$ > \"%1/pid.$$\"\n"
                              "record=\"%1/launch.$$\"\n"
                              "{ pwd -P; for a in \"$@\"; do printf '%s\\n' \"$a\"; "
                              "done; } > \"$record.tmp\"\n"
                              "mv \"$record.tmp\" \"$record\"\n")
            .arg(m_records);
    }

    QTemporaryDir m_root;

public:
    const QString gameDir;
    const QString outputPath;

private:
    const QString m_records;
    std::optional<EngineTree> m_engine;
};
