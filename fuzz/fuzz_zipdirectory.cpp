// Feeds arbitrary bytes as a pk3 file through the reader of zip central directories, and
// then each entry it finds through the reader of entries.
//
// Whatever the bytes, the readers end without reading outside them, and what they take for
// a directory holds no more entries than its end record announces, each name as the game
// server keeps it: at most 255 bytes, without a NUL; an entry read holds the size that the
// directory gives it, up to the most asked for.
#include "gametree/ZipDirectory.h"

#include <QBuffer>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const std::variant<ZipDirectory, QString> read = readZipDirectory(buffer);
    if (const ZipDirectory* directory = std::get_if<ZipDirectory>(&read)) {
        bool sound = directory->entries.size() <= directory->announced;
        constexpr qint64 kMaxSize = 64 * 1024;
        for (const ZipDirectory::Entry& entry : directory->entries) {
            sound = sound && entry.name.size() <= 255 && !entry.name.contains('\0');
            const std::variant<QByteArray, QString> read = readZipEntry(buffer, entry, kMaxSize);
            if (const QByteArray* bytes = std::get_if<QByteArray>(&read))
                sound = sound && entry.size <= kMaxSize && bytes->size() == qsizetype(entry.size);
            else
                sound = sound && !std::get<QString>(read).isEmpty();
        }
        if (!sound) {
            std::fprintf(stderr,
                         "invariant broken: a directory or an entry the server would not read\n");
            std::abort();
        }
    } else if (std::get<QString>(read).isEmpty()) {
        std::fprintf(stderr, "invariant broken: a refusal without its reason\n");
        std::abort();
    }
    return 0;
}
