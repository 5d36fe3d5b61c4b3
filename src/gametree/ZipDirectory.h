#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <variant>

// The central directory of a zip file, read as the game server reads its pk3 files: the
// end record is the last one in the file's final 64 KiB, data in front of the archive is
// allowed, the entry count is the 16-bit one, and entries count up to the first that
// cannot be read. Nothing is decompressed.
struct ZipDirectory {
    struct Entry {
        QByteArray name; // as stored, cut at its first NUL or at 255 bytes
        quint32 size;    // uncompressed
    };
    QList<Entry> entries;
    // How many entries the end record announces; entries holds fewer when one was damaged.
    int announced = 0;
};

// The directory of the zip file in device, or why the server would pass the file over.
std::variant<ZipDirectory, QString> readZipDirectory(QIODevice& device);
