#pragma once

#include "support/GameEngine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#ifndef Q_OS_WIN
#include <csignal>
#endif

// A temporary game directory with an arena folder and a quake3.exe that stands in for the
// dedicated server: each start writes a record file holding the working directory and
// then one argument a line. It is a shell script, or on Windows the fake_server program.
// Its paths are written with the system's own separators, as an operator types them.
// With the real engine, on Linux, quake3.exe then runs Debian's dedicated server in its
// place, on the tests' small map, and the tree stops it when it goes.
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
        QFile where(gameDir + QStringLiteral("/records.path"));
        where.open(QIODevice::WriteOnly);
        where.write(m_records.toUtf8());
#else
        QString script = QStringLiteral("#!/bin/sh\n"
                                        "record=\"%1/launch.$$\"\n"
                                        "{ pwd -P; for a in \"$@\"; do printf '%s\\n' \"$a\"; "
                                        "done; } > \"$record.tmp\"\n"
                                        "mv \"$record.tmp\" \"$record\"\n")
                             .arg(m_records);
        if (server == RealEngine) {
            m_engine.emplace(gameDir);
            // Every start gets a home path of its own.
            QStringList options = m_engine->engineOptions();
            const qsizetype home = options.indexOf(QStringLiteral("fs_homepath")) + 1;
            for (QString& option : options)
                option = u'\'' + option + u'\'';
            options[home] = QStringLiteral("\"$home\"");
            script += QStringLiteral("echo $$ > \"%1/pid.$$\"\n"
                                     "home=$(mktemp -d \"%1/home.XXXXXX\")\n"
                                     "exec %2 %3 +set net_ip 127.0.0.1 \"$@\"\n")
                          .arg(m_records, kEngineProgram, options.join(u' '));
        }
        writeServer(script);
#endif
    }

#ifndef Q_OS_WIN
    ~FakeGameTree()
    {
        for (const QString& name : QDir(m_records).entryList({QStringLiteral("pid.*")}))
            ::kill(name.mid(4).toInt(), SIGKILL);
    }
#endif

    void writeServer(const QString& script,
                     const QString& name = QStringLiteral("quake3.exe")) const
    {
        QFile file(gameDir + u'/' + name);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(script.toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Each start of the server as its working directory followed by its arguments.
    QList<QStringList> launches() const
    {
        QList<QStringList> result;
        for (const QString& name : QDir(m_records).entryList({QStringLiteral("launch.*")})) {
            if (name.endsWith(QStringLiteral(".tmp")))
                continue;
            QFile file(m_records + u'/' + name);
            file.open(QIODevice::ReadOnly);
            result << QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
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
        return QDir(gameDir + QStringLiteral("/arena"))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private:
    QTemporaryDir m_root;

public:
    const QString gameDir;
    const QString outputPath;

private:
    const QString m_records;
    std::optional<EngineTree> m_engine;
};
