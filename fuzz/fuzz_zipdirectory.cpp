// Feeds arbitrary bytes as a pk3 file through the reader of zip central directories.
//
// Whatever the bytes, the reader ends without reading outside them, and what it takes for
// a directory holds no more entries than its end record announces, each name as the game
// server keeps it: at most 255 bytes, without a NUL.
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
        for (const ZipDirectory::Entry& entry : directory->entries)
            sound = sound && entry.name.size() <= 255 && !entry.name.contains('\0');
        if (!sound) {
            std::fprintf(stderr, "invariant broken: a directory the server would not read\n");
            std::abort();
        }
    } else if (std::get<QString>(read).isEmpty()) {
        std::fprintf(stderr, "invariant broken: a refusal without its reason\n");
        std::abort();
    }
    return 0;
}
