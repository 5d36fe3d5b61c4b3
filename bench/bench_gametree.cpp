// Measures how fast the tool lists a game tree's maps with a warm cache, side by side: one
// pk3 of 3,500 stored entries and 460 MB, and a tree of 200 small pk3 files.
//
//   bench_gametree [runs]
#include "gametree/GameTree.h"
#include "support/GameEngine.h"
#include "support/ZipWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

// The median milliseconds of listing the maps of the tree at gameDir.
double listing(const QString& gameDir, int runs, qsizetype expected)
{
    QList<double> times;
    for (int i = 0; i < runs + 1; ++i) {
        QElapsedTimer timer;
        timer.start();
        const qsizetype maps = GameTree(gameDir, {}).maps().size();
        times << double(timer.nsecsElapsed()) / 1e6;
        if (maps != expected)
            qFatal("listed %lld maps, not %lld", qlonglong(maps), qlonglong(expected));
    }
    times.removeFirst(); // the cold one
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    QTemporaryDir big;
    QDir().mkpath(big.filePath("baseq3"));
    QList<ZipEntry> entries;
    const QByteArray map = smallMap();
    for (int i = 0; i < 3500; ++i) {
        // A map in every tenth entry, the rest textures of about 131 KB.
        if (i % 10 == 0)
            entries.append({"maps/map" + QByteArray::number(i) + ".bsp", map, 131000});
        else
            entries.append({"textures/quorvex/wall" + QByteArray::number(i) + ".tga", {}, 131500});
    }
    writeZip(big.filePath("baseq3/pak9.pk3"), entries);
    const double size = double(QFileInfo(big.filePath("baseq3/pak9.pk3")).size()) / 1e6;

    QTemporaryDir many;
    QDir().mkpath(many.filePath("arena"));
    for (int pk3 = 0; pk3 < 200; ++pk3) {
        QList<ZipEntry> small{{"maps/quorvex" + QByteArray::number(pk3) + ".bsp", map}};
        for (int i = 0; i < 20; ++i)
            small.append(
                {"textures/q" + QByteArray::number(pk3) + "/t" + QByteArray::number(i) + ".tga",
                 QByteArray(64, 't')});
        writeZip(many.filePath("arena/quorvex" + QString::number(pk3) + ".pk3"), small);
    }

    std::printf("median of %d warm runs\n", runs);
    std::printf("one pk3 of 3,500 entries, %.0f MB    %7.2f ms\n", size,
                listing(big.path(), runs, 350));
    std::printf("200 pk3 files of 21 entries each   %7.2f ms\n", listing(many.path(), runs, 200));
}
