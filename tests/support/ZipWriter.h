#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <zlib.h>

// A zip file, as the tests need pk3 files: an entry holds its data, then as many zero bytes
// as zeros says, stored or deflated. Its checksums are 0, which the server never checks.
struct ZipEntry {
    QByteArray name;
    QByteArray data;
    qint64 zeros = 0;
    bool deflated = false;
};

// data deflated as a zip file holds it, with no zlib header.
inline QByteArray rawDeflate(const QByteArray& data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        qFatal("cannot deflate");
    QByteArray packed(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = uInt(packed.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END)
        qFatal("cannot deflate");
    packed.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return packed;
}

inline QByteArray littleEndian(quint32 value, int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(value >> (8 * i));
    return bytes;
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
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const ZipEntry& entry = entries[i];
        const quint32 size = quint32(entry.data.size() + entry.zeros);
        const QByteArray packed =
            entry.deflated ? rawDeflate(entry.data + QByteArray(entry.zeros, '\0')) : entry.data;
        const quint32 packedSize = entry.deflated ? quint32(packed.size()) : size;
        const quint32 offset = quint32(file.pos() - front.size());
        // From the version needed to the extra field's length, in both headers.
        const QByteArray common = littleEndian(10, 2) + littleEndian(0, 2) +
                                  littleEndian(entry.deflated ? Z_DEFLATED : 0, 2) +
                                  QByteArray(8, '\0') + littleEndian(packedSize, 4) +
                                  littleEndian(size, 4) +
                                  littleEndian(quint32(entry.name.size()), 2) + littleEndian(0, 2);
        file.write("PK\x03\x04" + common + entry.name + packed);
        if (!entry.deflated)
            file.seek(file.pos() + entry.zeros);
        if (keptEntries < 0 || i < keptEntries)
            directory += "PK\x01\x02" + littleEndian(20, 2) + common + QByteArray(10, '\0') +
                         littleEndian(offset, 4) + entry.name;
    }
    const quint32 start = quint32(file.pos() - front.size());
    file.write(directory + "PK\x05\x06" + littleEndian(0, 4) +
               littleEndian(quint32(entries.size()), 2) + littleEndian(quint32(entries.size()), 2) +
               littleEndian(quint32(directory.size()), 4) + littleEndian(start, 4) +
               littleEndian(0, 2));
    if (!file.flush())
        qFatal("cannot write %s", qPrintable(path));
}
