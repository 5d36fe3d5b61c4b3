#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <array>

// A zip file of stored entries, as the tests need pk3 files: an entry holds its data, or as
// many zero bytes as zeros says; data in front of the archive and a central directory cut
// short make damaged ones.
struct ZipEntry {
    QByteArray name;
    QByteArray data;
    qint64 zeros = 0;
};

inline QByteArray littleEndian(quint32 value, int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(value >> (8 * i));
    return bytes;
}

// The zip's CRC-32 of data followed by zeros zero bytes.
inline quint32 crc32(const QByteArray& data, qint64 zeros)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xedb88320 ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 crc = 0xffffffff;
    for (const char byte : data)
        crc = table[(crc ^ quint8(byte)) & 0xff] ^ (crc >> 8);
    for (qint64 i = 0; i < zeros; ++i)
        crc = table[crc & 0xff] ^ (crc >> 8);
    return crc ^ 0xffffffff;
}

// Writes the zip to path: front first, then the entries and their central directory, of
// which only the first keptEntries are written when it is not negative, the end record
// still announcing them all.
inline void writeZip(const QString& path, const QList<ZipEntry>& entries,
                     const QByteArray& front = {}, int keptEntries = -1)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(front);
    QByteArray directory;
    const QByteArray zeros(1 << 20, '\0');
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const ZipEntry& entry = entries[i];
        const qint64 size = entry.data.size() + entry.zeros;
        const quint32 offset = quint32(file.pos() - front.size());
        const QByteArray common = littleEndian(10, 2) + littleEndian(0, 2) + littleEndian(0, 2) +
                                  littleEndian(0, 4) +
                                  littleEndian(crc32(entry.data, entry.zeros), 4) +
                                  littleEndian(quint32(size), 4) + littleEndian(quint32(size), 4) +
                                  littleEndian(quint32(entry.name.size()), 2) + littleEndian(0, 2);
        file.write("PK\x03\x04" + common + entry.name + entry.data);
        for (qint64 left = entry.zeros; left > 0; left -= zeros.size())
            file.write(zeros.constData(), std::min<qint64>(left, zeros.size()));
        if (keptEntries < 0 || i < keptEntries)
            directory += "PK\x01\x02" + littleEndian(20, 2) + common + littleEndian(0, 2) +
                         littleEndian(0, 2) + littleEndian(0, 2) + littleEndian(0, 4) +
                         littleEndian(offset, 4) + entry.name;
    }
    const quint32 start = quint32(file.pos() - front.size());
    file.write(directory);
    file.write("PK\x05\x06" + littleEndian(0, 4) + littleEndian(quint32(entries.size()), 2) +
               littleEndian(quint32(entries.size()), 2) +
               littleEndian(quint32(directory.size()), 4) + littleEndian(start, 4) +
               littleEndian(0, 2));
    if (!file.flush())
        qFatal("cannot write %s", qPrintable(path));
}
