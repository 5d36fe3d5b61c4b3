#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A temporary game directory with an arena folder and a quake3.exe that stands in for the
// dedicated server: each start writes a record file holding the working directory and
// then one argument a line.
class FakeGameTree {
public:
    explicit FakeGameTree(const QString& name = QStringLiteral("Quake III Arena"))
        : gameDir(m_root.filePath(name)), outputPath(m_root.filePath(QStringLiteral("my.cfg"))),
          m_records(m_root.filePath(QStringLiteral("records")))
    {
        QDir().mkpath(gameDir + QStringLiteral("/arena"));
        QDir().mkpath(m_records);
        writeServer(QStringLiteral("#!/bin/sh\n"
                                   "record=\"%1/launch.$$\"\n"
                                   "{ pwd -P; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } "
                                   "> \"$record.tmp\"\n"
                                   "mv \"$record.tmp\" \"$record\"\n")
                        .arg(m_records));
    }

    void writeServer(const QString& script) const
    {
        QFile file(gameDir + QStringLiteral("/quake3.exe"));
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

    QString root() const { return m_root.path(); }

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
};
