#pragma once

#include <QDir>
#include <QFile>

// The bytes of a file, or nothing when it cannot be read.
inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes a file that a test needs; a test cannot go on without it.
inline void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        qFatal("cannot write %s: %s", qPrintable(path), qPrintable(file.errorString()));
}

// Everything in a directory, hidden entries included.
inline QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

#ifndef Q_OS_WIN
#include <sys/stat.h>

// A file's permission bits, or -1 when it is missing.
inline int fileMode(const QString& path)
{
    struct stat status {};
    return stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777)
                                                                   : -1;
}

// The permission bits of a new file under this process's umask.
inline int newFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~int(mask);
}
#endif
