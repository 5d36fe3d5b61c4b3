#include "gametree/GameTree.h"
#include "support/Files.h"
#include "support/GameEngine.h"
#include "support/ZipWriter.h"

#include <QDir>
#include <QProcess>
#include <QSet>
#include <QTest>

// The maps that the tool finds in a game tree, against the maps that the real server loads.
class TestGameTree : public QObject {
    Q_OBJECT

    EngineTree m_tree;
    QTemporaryDir m_home;

    QString arena(const QString& file = {}) const { return m_tree.arena() + u'/' + file; }

    // Whether the engine, on the tree and the home path, loads the map name.
    bool engineLoads(const QString& name)
    {
        QStringList options = m_tree.engineOptions();
        options[options.indexOf(QStringLiteral("fs_homepath")) + 1] = m_home.path();
        QProcess engine;
        engine.setProcessChannelMode(QProcess::MergedChannels);
        engine.start(kEngineProgram,
                     options + QStringLiteral("+set fs_game arena +set dedicated 1 +set "
                                              "net_enabled 0 +map %1 +quit")
                                   .arg(name)
                                   .split(u' '));
        if (!engine.waitForFinished(30000)) {
            engine.kill();
            engine.waitForFinished();
            qFatal("the engine did not quit");
        }
        return engine.readAll().contains("InitGame: ");
    }

private slots:
    void initTestCase()
    {
        const QByteArray map = smallMap();
        const auto pk3 = [&](const QString& file, const QByteArray& entry, const QByteArray& data) {
            writeZip(arena(file), {{entry, data}});
        };
        pk3("mixed.pk3", "Maps/MixedCase.BSP", map);
        pk3("slashed.pk3", "maps\\slashed.bsp", map);
        pk3("colon.pk3", "maps/sub/colon.bsp", map);
        pk3("colon2.pk3", "maps/dir/colon.bsp", map);
        pk3("dotted.pk3", "./maps/dotted.bsp", map);
        pk3("rooted.pk3", "/maps/rooted.bsp", map);
        pk3("tiny.pk3", "maps/tiny.bsp", QByteArray(100, 'x'));
        pk3("zipped.zip", "maps/zipped.bsp", map);
        writeZip(arena("front.pk3"), {{"maps/front.bsp", map}}, QByteArray(5000, 'x'));
        writeZip(arena("truncated.pk3"), {{"maps/kept.bsp", map}, {"maps/lost.bsp", map}}, {}, 1);
        writeBytes(arena("garbage.pk3"), QByteArray(300, 'z'));
        writeZip(arena("twice.pk3"),
                 {{"maps/twice.bsp", QByteArray(100, 'x')}, {"maps/twice.bsp", map}});
        // The first disk of two: the engine takes no such archive.
        writeZip(arena("damaged.pk3"), {{"maps/damaged.bsp", map}});
        QByteArray damaged = readAll(arena("damaged.pk3"));
        damaged[damaged.size() - 18] = 1;
        writeBytes(arena("damaged.pk3"), damaged);
        // pak2 sorts after pak10, and the one sorting last is searched first.
        pk3("pak2.pk3", "maps/order.bsp", map);
        pk3("pak10.pk3", "maps/order.bsp", QByteArray(100, 'x'));
        // Loose files come before the folder's pk3 files.
        QDir().mkpath(arena("maps"));
        writeBytes(arena("maps/shadow.bsp"), {});
        pk3("shadow.pk3", "maps/shadow.bsp", map);
        writeBytes(arena("maps/WrongCase.bsp"), map);
        writeBytes(arena("maps/empty.bsp"), {});
        writeZip(m_tree.root() + "/baseq3/extra.pk3", {{"maps/basemap.bsp", map}});
        QDir().mkpath(m_home.filePath("arena/maps"));
        writeBytes(m_home.filePath("arena/maps/homemap.bsp"), map);
    }

    void mapsAsTheServerLoadsThem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("loads");
#ifdef Q_OS_WIN
        const bool looseInAnyCase = true;
#else
        const bool looseInAnyCase = false;
#endif
        const QList<std::pair<const char*, bool>> rows{{"quorvexmap1", true},
                                                       {"mixedcase", true},
                                                       {"MIXEDCASE", true},
                                                       {"slashed", true},
                                                       // The server's hash reads no colon as
                                                       // a slash, but one of its two chains
                                                       // may hold the name all the same.
                                                       {"sub:colon", true},
                                                       {"dir:colon", false},
                                                       {"sub\\colon", true},
                                                       {"dotted", false},
                                                       {"rooted", false},
                                                       {"tiny", false},
                                                       {"zipped", false},
                                                       {"front", true},
                                                       {"kept", true},
                                                       {"lost", false},
                                                       {"damaged", false},
                                                       {"order", true},
                                                       {"shadow", false},
                                                       {"wrongcase", looseInAnyCase},
                                                       {"WrongCase", true},
                                                       {"empty", false},
                                                       {"basemap", true},
                                                       {"homemap", true},
                                                       {"nosuchmap", false},
                                                       {"twice", true},
                                                       {"../arena/maps/WrongCase", false}};
        for (const auto& [name, loads] : rows)
            QTest::newRow(name) << QString::fromLatin1(name) << loads;
    }

    // The tool's answer, and on Linux the engine's, for map NAME.
    void mapsAsTheServerLoadsThem()
    {
        QFETCH(QString, name);
        QFETCH(bool, loads);
        const GameTree tree(m_tree.root(), m_home.path());
        const std::optional<GameTree::Found> found = tree.findMap(name);
        QCOMPARE(found && found->loadable, loads);
#ifndef Q_OS_WIN
        QCOMPARE(engineLoads(name), loads);
#endif
    }

    // The list holds each map that loads, and names the files that the server passes over.
    void listsWhatLoads()
    {
        const GameTree tree(m_tree.root(), m_home.path());
        QSet<QString> names;
        for (const GameTree::Map& map : tree.maps()) {
            names.insert(map.name.toLower());
            QCOMPARE(map.found.inPack, map.found.source.endsWith(".pk3"));
        }
        QCOMPARE(names, (QSet<QString>{"quorvexmap1", "mixedcase", "slashed", "front", "kept",
                                       "order", "wrongcase", "basemap", "homemap", "twice",
                                       "sub/colon", "dir/colon"}));
        QStringList passedOver;
        for (const GameTree::PassedOver& file : tree.passedOver())
            passedOver << QFileInfo(file.file).fileName() + u' ' + file.reason;
        passedOver.sort();
        QCOMPARE(passedOver,
                 (QStringList{"damaged.pk3 it spans several disks",
                              "empty.bsp it is no map of the server's version: a map starts "
                              "with IBSP and version 46",
                              "garbage.pk3 it is no zip file: it has no end of central directory",
                              "shadow.bsp it is no map of the server's version: a map starts "
                              "with IBSP and version 46",
                              "truncated.pk3 it is damaged: of its 2 entries, only the first 1 "
                              "can be read"}));
    }

    // The scripts that exec finds in pk3 files, stored or deflated, read as the server runs
    // them; an entry that the tool cannot read as the server does is named, never guessed.
    void readsScriptsInPk3FilesAsTheServerRunsThem()
    {
        const QByteArray comment = "// " + QByteArray("a long comment, ").repeated(200) + "\n";
        const auto script = [&](const char* name) {
            return comment + "set sv_hostname \"" + name + "\"\n";
        };
        writeZip(arena("s1.pk3"), {{"scripts/stored.cfg", script("Stored")}});
        writeZip(arena("s2.pk3"), {{"Scripts/Deflated.CFG", script("Deflated"), 0, true}});
        writeZip(arena("s3.pk3"), {{"scripts/fronted.cfg", script("Fronted"), 0, true}},
                 QByteArray(5000, 'x'));
        const auto patched = [&](const QString& file, const QByteArray& entry, bool deflated,
                                 const std::function<void(QByteArray&)>& patch) {
            writeZip(arena(file), {{entry, script("Patched"), 0, deflated}});
            QByteArray bytes = readAll(arena(file));
            patch(bytes);
            writeBytes(arena(file), bytes);
        };
        patched("s4.pk3", "scripts/bzipped.cfg", true, [](QByteArray& bytes) {
            bytes[8] = 12;
            bytes[bytes.indexOf("PK\x01\x02") + 10] = 12;
        });
        patched("s5.pk3", "scripts/disagrees.cfg", false, [](QByteArray& bytes) { bytes[22] = 1; });
        patched("s6.pk3", "scripts/damaged.cfg", true,
                [](QByteArray& bytes) { bytes[30 + int(strlen("scripts/damaged.cfg"))] = '\xff'; });
        patched("s7.pk3", "scripts/renamed.cfg", false, [](QByteArray& bytes) { ++bytes[26]; });
        // The sizes of both headers, 22 bytes into the local one and 24 into the central one.
        const auto sized = [](qsizetype size, int offset) {
            return [=](QByteArray& bytes) {
                for (const qsizetype at :
                     {qsizetype(offset), bytes.indexOf("PK\x01\x02") + offset + 2})
                    for (int i = 0; i < 4; ++i)
                        bytes[at + i] = char(size >> (8 * i));
            };
        };
        patched("s8.pk3", "scripts/short.cfg", false, sized(0, 18));
        writeZip(arena("s9.pk3"),
                 {{"scripts/cut.cfg", "set sv_hostname Cut\n" + comment, 0, true}});
        QByteArray cut = readAll(arena("s9.pk3"));
        sized(20, 22)(cut);
        writeBytes(arena("s9.pk3"), cut);

        const GameTree tree(m_tree.root(), m_home.path());
        const auto read = [&](const QString& name, qint64 maxSize = 1 << 20) {
            const std::optional<GameTree::Found> found = tree.findScript(name);
            if (!found || !found->inPack)
                return QStringLiteral("not found in a pk3 file");
            const std::variant<QByteArray, QString> bytes = GameTree::read(*found, maxSize);
            return std::holds_alternative<QString>(bytes)
                       ? std::get<QString>(bytes)
                       : QString::fromLatin1(std::get<QByteArray>(bytes));
        };
        QCOMPARE(read("scripts/stored"), script("Stored"));
        QCOMPARE(read("scripts/deflated"), script("Deflated"));
        QCOMPARE(read("scripts/fronted"), script("Fronted"));
        QCOMPARE(read("scripts/deflated", 100), "its entry is larger than 100 bytes");
        QCOMPARE(read("scripts/bzipped"),
                 "its entry is packed by a method other than store or deflate");
        QCOMPARE(read("scripts/disagrees"),
                 "its entry's local header disagrees with its central directory");
        QCOMPARE(read("scripts/damaged"), "its entry's packed data is damaged");
        QCOMPARE(read("scripts/renamed"),
                 "its entry's local header disagrees with its central directory");
        QCOMPARE(read("scripts/short"), "its entry's data ends before its size");
        // The server reads an entry's size, and no further in its data.
        QCOMPARE(read("scripts/cut"), "set sv_hostname Cut\n");
#ifndef Q_OS_WIN
        // The server runs what the tool reads, and nothing of what it does not.
        const QStringList names{"Stored", "Deflated", "Fronted", "Cut", "", ""};
        const QList<ServerState> states = m_tree.runScripts(
            {"exec scripts/stored", "exec scripts/deflated", "exec scripts/fronted",
             "exec scripts/cut", "exec scripts/renamed", "exec scripts/short"});
        for (qsizetype i = 0; i < names.size(); ++i)
            QCOMPARE(states[i].cvars.value("sv_hostname"), names[i]);
#endif
    }
};

QTEST_GUILESS_MAIN(TestGameTree)
#include "tst_gametree.moc"
