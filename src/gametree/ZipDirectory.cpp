#include "ZipDirectory.h"

#include <QtEndian>
#include <algorithm>
#include <optional>
#include <zlib.h>

namespace {

constexpr qint64 kEndRecordSize = 22;
constexpr qint64 kEntryHeaderSize = 46;
// How far from the file's end the server looks for the end record: a comment's largest size.
constexpr qint64 kSearchBack = 0xffff;
// The server reads an entry's name into a buffer of this size.
constexpr qint64 kNameBuffer = 256;

// Reads the device in large pieces, as the central directory is read from front to back.
class Reader {
public:
    explicit Reader(QIODevice& device) : m_device(device) {}

    std::optional<QByteArrayView> at(qint64 position, qint64 size)
    {
        if (position < m_start || position + size > m_start + m_bytes.size()) {
            if (!m_device.seek(position))
                return std::nullopt;
            m_bytes = m_device.read(std::max<qint64>(size, 64 * 1024));
            m_start = position;
        }
        if (position + size > m_start + m_bytes.size())
            return std::nullopt;
        return QByteArrayView(m_bytes).sliced(position - m_start, size);
    }

private:
    QIODevice& m_device;
    qint64 m_start = 0;
    QByteArray m_bytes;
};

quint32 le16(QByteArrayView bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.data() + at);
}

quint32 le32(QByteArrayView bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.data() + at);
}

} // namespace

std::variant<ZipDirectory, QString> readZipDirectory(QIODevice& device)
{
    const qint64 size = device.size();
    const qint64 lowest = std::max<qint64>(0, size - kSearchBack);
    Reader reader(device);
    const std::optional<QByteArrayView> tail = reader.at(lowest, size - lowest);
    if (!tail)
        return QStringLiteral("it cannot be read");
    // The last end record's signature wins; one at the file's very start counts as none.
    qint64 end = 0;
    for (qint64 at = tail->size() - 4; at >= 0 && end == 0; --at) {
        if (tail->sliced(at, 4) == QByteArrayView("PK\x05\x06", 4))
            end = lowest + at;
    }
    if (end == 0)
        return QStringLiteral("it is no zip file: it has no end of central directory");
    const std::optional<QByteArrayView> record = reader.at(end, kEndRecordSize);
    if (!record)
        return QStringLiteral("its end of central directory is cut short");
    const quint32 count = le16(*record, 10);
    const qint64 directorySize = le32(*record, 12);
    const qint64 directoryOffset = le32(*record, 16);
    if (le16(*record, 4) != 0 || le16(*record, 6) != 0 || le16(*record, 8) != count)
        return QStringLiteral("it spans several disks");
    if (end < directoryOffset + directorySize)
        return QStringLiteral("its central directory lies beyond its end record");

    ZipDirectory directory;
    directory.announced = int(count);
    // Offsets count from the archive's start, after any data in front of it.
    qint64 position = directoryOffset + (end - (directoryOffset + directorySize));
    for (quint32 i = 0; i < count; ++i) {
        const std::optional<QByteArrayView> header = reader.at(position, kEntryHeaderSize);
        if (!header || le32(*header, 0) != 0x02014b50)
            break;
        const qint64 nameSize = le16(*header, 28);
        const std::optional<QByteArrayView> name =
            reader.at(position + kEntryHeaderSize, std::min(nameSize, kNameBuffer));
        if (!name)
            break;
        QByteArray text = name->first(std::min(name->size(), kNameBuffer - 1)).toByteArray();
        if (const qsizetype nul = text.indexOf('\0'); nul >= 0)
            text.truncate(nul);
        directory.entries.append({text, le32(*header, 24), le32(*header, 20), le32(*header, 16),
                                  quint16(le16(*header, 10)), quint16(nameSize),
                                  le32(*header, 42) + (end - (directoryOffset + directorySize))});
        position += kEntryHeaderSize + nameSize + le16(*header, 30) + le16(*header, 32);
    }
    return directory;
}

std::variant<QByteArray, QString> readZipEntry(QIODevice& device, const ZipDirectory::Entry& entry,
                                               qint64 maxSize)
{
    constexpr qint64 kLocalHeaderSize = 30;
    constexpr quint16 kStored = 0;
    // The server reads packed data in pieces of this size, and gives up on a piece cut short.
    constexpr qint64 kPiece = 16384;
    if (entry.size > maxSize)
        return QStringLiteral("its entry is larger than %1 bytes").arg(maxSize);
    if (entry.method != kStored && entry.method != Z_DEFLATED)
        return QStringLiteral("its entry is packed by a method other than store or deflate");
    if (!device.seek(entry.localHeader))
        return QStringLiteral("its entry lies beyond the file's end");
    const QByteArray header = device.read(kLocalHeaderSize);
    if (header.size() < kLocalHeaderSize || le32(header, 0) != 0x04034b50)
        return QStringLiteral("its entry has no local header");
    // Without a data descriptor (flag 8), the local header repeats the sizes and the CRC.
    const bool described = le16(header, 6) & 8;
    if (le16(header, 8) != entry.method || le16(header, 26) != entry.nameSize ||
        (!described && (le32(header, 14) != entry.crc || le32(header, 18) != entry.packedSize ||
                        le32(header, 22) != entry.size)))
        return QStringLiteral("its entry's local header disagrees with its central directory");
    if (!device.seek(entry.localHeader + kLocalHeaderSize + le16(header, 26) + le16(header, 28)))
        return QStringLiteral("its entry's data lies beyond the file's end");

    // As the server reads it: until the entry's size is out, whatever follows in its data.
    QByteArray bytes(entry.size, Qt::Uninitialized);
    z_stream stream{};
    // Deflated data in a zip file is raw: no zlib header, as negative window bits say.
    if (entry.method == Z_DEFLATED && inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return QStringLiteral("its entry could not be unpacked");
    stream.next_out = reinterpret_cast<Bytef*>(bytes.data());
    stream.avail_out = uInt(bytes.size());
    qint64 left = entry.packedSize;
    QByteArray piece;
    std::optional<QString> problem;
    while (stream.avail_out > 0 && !problem) {
        if (stream.avail_in == 0 && left > 0) {
            piece = device.read(std::min(left, kPiece));
            if (piece.size() < std::min(left, kPiece)) {
                problem = QStringLiteral("its entry's data is cut short by the file's end");
                break;
            }
            left -= piece.size();
            stream.next_in = reinterpret_cast<Bytef*>(piece.data());
            stream.avail_in = uInt(piece.size());
        }
        if (entry.method == kStored) {
            if (stream.avail_in == 0)
                break;
            const uInt copied = std::min(stream.avail_in, stream.avail_out);
            std::copy_n(stream.next_in, copied, stream.next_out);
            stream.next_in += copied;
            stream.avail_in -= copied;
            stream.next_out += copied;
            stream.avail_out -= copied;
        } else if (const int result = inflate(&stream, Z_SYNC_FLUSH); result != Z_OK) {
            if (result != Z_STREAM_END)
                problem = QStringLiteral("its entry's packed data is damaged");
            break;
        }
    }
    if (entry.method == Z_DEFLATED)
        inflateEnd(&stream);
    if (problem)
        return *problem;
    // The server would run whatever its buffer held after a short entry.
    if (stream.avail_out > 0)
        return QStringLiteral("its entry's data ends before its size");
    return bytes;
}
