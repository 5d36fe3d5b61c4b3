#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <variant>

// The central directory of a zip file, read as the game server reads its pk3 files: the
// end record is the last one in the file's final 64 KiB, data in front of the archive is
// allowed, the entry count is the 16-bit one, and entries count up to the first that
// cannot be read.
struct ZipDirectory {
    struct Entry {
        QByteArray name; // as stored, cut at its first NUL or at 255 bytes
        quint32 size;    // uncompressed
        quint32 packedSize = 0;
        quint32 crc = 0;
        quint16 method = 0;
        quint16 nameSize = 0;   // the name's length as stored, whole
        qint64 localHeader = 0; // in the file, after any data in front of the archive
    };
    QList<Entry> entries;
    // How many entries the end record announces; entries holds fewer when one was damaged.
    int announced = 0;
};

// The directory of the zip file in device, or why the server would pass the file over.
std::variant<ZipDirectory, QString> readZipDirectory(QIODevice& device);

// The bytes of entry, read from device as the server reads a file of its pk3, or why the
// tool cannot read them as the server would: a method other than stored or deflated, a
// local header that disagrees with the central directory, data that is damaged or ends
// before the entry's size, or more than maxSize bytes. Like the server, it reads no further
// than the entry's size and ignores the CRC.
std::variant<QByteArray, QString> readZipEntry(QIODevice& device, const ZipDirectory::Entry& entry,
                                               qint64 maxSize);
