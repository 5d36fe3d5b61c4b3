#pragma once

#include "gametree/ZipDirectory.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>
#include <variant>

// The files the game server can load from a game tree, found as ioquake3 finds them: it
// searches the engine's home path before the game directory, the mod's arena folder before
// the base game's baseq3, and in each folder its loose files before its pk3 files, the
// pk3 whose name sorts last first. Names in pk3 files match in any case; loose files match
// in any case on Windows and exactly elsewhere.
class GameTree {
public:
    // Where the server finds a file, and whether it can load it as what it was asked for.
    struct Found {
        QString source; // the pk3 file, or the loose file
        bool inPack;    // only files in pk3 files can clients download
        bool loadable;
        // Why the server would hang on it, where it is no regular file, such as a named pipe.
        std::optional<QString> hangs = std::nullopt;
        std::optional<ZipDirectory::Entry> entry = std::nullopt; // its entry in the pk3 file
    };

    struct Map {
        QString name; // as the server's map command takes it
        Found found;
    };

    // A file of the tree that the server passes over, and why.
    struct PassedOver {
        QString file;
        QString reason;
        // The server, opening it, would wait on it forever, as on a named pipe.
        bool hangs = false;
    };

    // The tree of gameDir, with the engine's home path homePath; an empty home path, or one
    // that is the game directory itself, adds nothing.
    GameTree(const QString& gameDir, const QString& homePath);

    // Whether gameDir holds a baseq3 or an arena folder at all.
    bool isGameTree() const { return m_isGameTree; }

    // Where the map command finds the map name, if anywhere: loadable when it is a map of
    // the server's version.
    std::optional<Found> findMap(const QString& name) const;

    // The game path that the exec command reads for name: .cfg added when it has no
    // extension, cut to the server's length.
    static QString scriptPath(const QString& name);

    // Where the exec command finds the file name.
    std::optional<Found> findScript(const QString& name) const;

    // The bytes of a file found, loose or in a pk3 file, or why the tool cannot read them as
    // the server does, which includes more than maxSize bytes.
    static std::variant<QByteArray, QString> read(const Found& found, qint64 maxSize);

    // The game paths of the scripts in the tree's folders and pk3 files.
    QStringList scriptPaths() const;

    // Every map that the server can load, each once, by name in any case.
    QList<Map> maps() const;

    // The pk3 files that the server passes over whole or in part, and the loose maps it
    // cannot load; those that are no regular files, such as named pipes, hang it.
    QList<PassedOver> passedOver() const;

private:
    struct Place {
        QString path; // a folder of loose files, or a pk3 file
        std::optional<QHash<QByteArray, ZipDirectory::Entry>> entries; // a pk3's, by name
        int hashSize = 1; // the server's hash chains for a pk3
    };

    std::optional<Found> find(const QByteArray& qpath, bool isMap) const;

    QList<Place> m_places; // in the order the server searches them
    QList<PassedOver> m_passedOver;
    bool m_isGameTree = false;
};
