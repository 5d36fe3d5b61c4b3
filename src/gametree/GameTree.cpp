#include "GameTree.h"

#include "ZipDirectory.h"
#include "config/ConfigFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

namespace {

// The server's longest game path, its NUL included: longer ones are cut.
constexpr qsizetype kMaxGamePath = 64;
// A map smaller than the header of a version 46 map cannot load.
constexpr quint32 kMapHeaderSize = 144;

constexpr Qt::CaseSensitivity kLooseCase =
#ifdef Q_OS_WIN
    Qt::CaseInsensitive;
#else
    Qt::CaseSensitive;
#endif

// A name as the server compares names in a pk3: in lower case, with \ and : read as /.
QByteArray normalised(QByteArray name)
{
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        else if (c == '\\' || c == ':')
            c = '/';
    }
    return name;
}

// The server's hash of a game path, in a pk3 of hashSize chains: of its characters up to the
// first dot, in which only a backslash counts as a slash.
long fileHash(const QByteArray& name, int hashSize)
{
    long hash = 0;
    for (qsizetype i = 0; i < name.size() && name[i] != '.'; ++i) {
        char letter = name[i] >= 'A' && name[i] <= 'Z' ? char(name[i] - 'A' + 'a') : name[i];
        if (letter == '\\')
            letter = '/';
        hash += long(letter) * long(i + 119);
    }
    hash = hash ^ (hash >> 10) ^ (hash >> 20);
    return hash & (hashSize - 1);
}

// The order of the server's pk3 names: ignoring case, its characters signed.
bool sortsBefore(const QString& a, const QString& b)
{
    const QByteArray x = normalised(QFile::encodeName(a));
    const QByteArray y = normalised(QFile::encodeName(b));
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(),
                                        [](char c, char d) { return qint8(c) < qint8(d); });
}

// Whether a loose file is a map of the version the server loads.
bool isLoadableMap(const QString& path)
{
    QFile file;
    if (openRegularFile(file, path) || file.size() < kMapHeaderSize)
        return false;
    return file.read(8) == QByteArray("IBSP\x2e\0\0\0", 8);
}

// The folder's subfolder name, in the case the system matches names in.
QString subfolder(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    for (const QString& each : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (each.compare(name, kLooseCase) == 0)
            return dir.filePath(each);
    }
    return {};
}

// Why the server would hang on a file of that kind, which it opens and waits on.
QString hangs(const QString& kind)
{
    return QStringLiteral("it is %1, not a regular file, and the server would wait on it "
                          "forever; remove it or put a regular file in its place")
        .arg(kind);
}

QString cleaned(const QString& path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

} // namespace

GameTree::GameTree(const QString& gameDir, const QString& homePath)
{
    QStringList roots;
    if (!homePath.isEmpty() && cleaned(homePath).compare(cleaned(gameDir), Qt::CaseInsensitive))
        roots << homePath;
    roots << gameDir;
    for (const QString& game : {QStringLiteral("arena"), QStringLiteral("baseq3")}) {
        for (const QString& root : roots) {
            const QString folder = subfolder(root, game);
            if (folder.isEmpty())
                continue;
            m_isGameTree = m_isGameTree || root == gameDir;
            m_places.append({QDir::toNativeSeparators(folder), std::nullopt});
            // pk3 files and .pk3dir folders, the one sorting last searched first.
            QDir dir(folder);
            QStringList names;
            for (const QFileInfo& each : dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::System |
                                                           QDir::NoDotAndDotDot | QDir::Hidden)) {
                const QString name = each.fileName();
                if (each.isDir() ? name.endsWith(QStringLiteral(".pk3dir"), Qt::CaseInsensitive)
                                 : name.endsWith(QStringLiteral(".pk3"), Qt::CaseInsensitive))
                    names << name;
            }
            std::sort(names.begin(), names.end(), sortsBefore);
            std::reverse(names.begin(), names.end());
            for (const QString& name : names) {
                const QString path = QDir::toNativeSeparators(dir.filePath(name));
                if (QFileInfo(path).isDir()) {
                    m_places.append({path, std::nullopt});
                    continue;
                }
                QFile file;
                if (const std::optional<QString> kind = specialFileKind(path)) {
                    m_passedOver.append({path, hangs(*kind), true});
                    continue;
                }
                if (const std::optional<QString> problem = openRegularFile(file, path)) {
                    m_passedOver.append({path, *problem});
                    continue;
                }
                const std::variant<ZipDirectory, QString> read = readZipDirectory(file);
                if (const QString* reason = std::get_if<QString>(&read)) {
                    m_passedOver.append({path, *reason});
                    continue;
                }
                const ZipDirectory& zip = std::get<ZipDirectory>(read);
                if (zip.entries.size() < zip.announced)
                    m_passedOver.append(
                        {path, QStringLiteral("it is damaged: of its %1 entries, only the first "
                                              "%2 can be read")
                                   .arg(zip.announced)
                                   .arg(zip.entries.size())});
                QHash<QByteArray, ZipDirectory::Entry> entries;
                entries.reserve(zip.entries.size());
                // Of two entries of one name, the server finds the later.
                for (const ZipDirectory::Entry& entry : zip.entries)
                    entries.insert(normalised(entry.name), entry);
                // As many hash chains as the smallest power of two above the entries announced.
                int hashSize = 1;
                while (hashSize <= zip.announced && hashSize <= 1024)
                    hashSize <<= 1;
                m_places.append({path, std::move(entries), hashSize});
            }
        }
    }
}

std::optional<GameTree::Found> GameTree::find(const QByteArray& path, bool isMap) const
{
    QByteArray qpath = path.first(std::min(path.size(), kMaxGamePath - 1));
    // Game paths have no leading slash, and never leave the tree.
    if (qpath.startsWith('/') || qpath.startsWith('\\'))
        qpath.remove(0, 1);
    if (qpath.contains("..") || qpath.contains("::"))
        return std::nullopt;
    const QByteArray key = normalised(qpath);
    QByteArray loose = qpath;
    loose.replace('\\', '/');
    for (const Place& place : m_places) {
        if (place.entries) {
            // The server looks a name up by its hash, in which a colon is no slash, and then
            // compares colons as slashes too.
            const auto entry = place.entries->constFind(key);
            if (entry != place.entries->constEnd() &&
                fileHash(entry->name, place.hashSize) == fileHash(qpath, place.hashSize))
                return Found{place.path, true, !isMap || entry->size >= kMapHeaderSize,
                             std::nullopt, *entry};
            continue;
        }
        const QString file = place.path + u'/' + QFile::decodeName(loose);
        if (const std::optional<QString> kind = specialFileKind(file))
            return Found{QDir::toNativeSeparators(file), false, false, hangs(*kind)};
        if (QFileInfo(file).isFile())
            return Found{QDir::toNativeSeparators(file), false, !isMap || isLoadableMap(file)};
    }
    return std::nullopt;
}

std::optional<GameTree::Found> GameTree::findMap(const QString& name) const
{
    return find("maps/" + name.toLatin1() + ".bsp", true);
}

QString GameTree::scriptPath(const QString& name)
{
    // The name is cut to the server's length before its extension is added, and again after.
    QString path = name.first(std::min(name.size(), kMaxGamePath - 1));
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < path.lastIndexOf(u'/'))
        path += QStringLiteral(".cfg");
    return path.first(std::min(path.size(), kMaxGamePath - 1));
}

std::optional<GameTree::Found> GameTree::findScript(const QString& name) const
{
    return find(scriptPath(name).toLatin1(), false);
}

std::variant<QByteArray, QString> GameTree::read(const Found& found, qint64 maxSize)
{
    QFile file;
    if (const std::optional<QString> problem = openRegularFile(file, found.source))
        return *problem;
    if (found.entry)
        return readZipEntry(file, *found.entry, maxSize);
    QByteArray bytes = file.read(maxSize + 1);
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    if (bytes.size() > maxSize)
        return QStringLiteral("it is larger than %1 bytes").arg(maxSize);
    return bytes;
}

QStringList GameTree::scriptPaths() const
{
    QStringList paths;
    for (const Place& place : m_places) {
        if (place.entries) {
            for (auto entry = place.entries->cbegin(); entry != place.entries->cend(); ++entry) {
                if (entry.key().endsWith(".cfg"))
                    paths << QString::fromLatin1(entry.key());
            }
            continue;
        }
        for (const QString& file : QDir(place.path).entryList(QDir::Files | QDir::Hidden)) {
            if (file.endsWith(QStringLiteral(".cfg"), Qt::CaseInsensitive))
                paths << file;
        }
    }
    paths.removeDuplicates();
    return paths;
}

QList<GameTree::Map> GameTree::maps() const
{
    // Every name that some place holds as a map, then where the server finds each.
    QStringList names;
    QSet<QString> seen;
    const auto add = [&](const QString& name) {
        if (!name.isEmpty() && !seen.contains(name)) {
            seen.insert(name);
            names << name;
        }
    };
    for (const Place& place : m_places) {
        if (place.entries) {
            for (auto entry = place.entries->cbegin(); entry != place.entries->cend(); ++entry) {
                const QByteArray& key = entry.key();
                if (key.startsWith("maps/") && key.endsWith(".bsp"))
                    add(QString::fromLatin1(key.sliced(5, key.size() - 9)));
            }
            continue;
        }
        const QString maps = subfolder(place.path, QStringLiteral("maps"));
        if (maps.isEmpty())
            continue;
        for (const QString& file : QDir(maps).entryList(QDir::Files | QDir::Hidden)) {
            if (file.endsWith(QStringLiteral(".bsp"), kLooseCase))
                add(QString::fromLatin1(QFile::encodeName(file.chopped(4))));
        }
    }
    QList<Map> result;
    for (const QString& name : names) {
        if (const std::optional<Found> found = findMap(name); found && found->loadable)
            result.append({name, *found});
    }
    // One name for one map: the server finds a pk3's in any case.
    std::sort(result.begin(), result.end(), [](const Map& a, const Map& b) {
        const int order = a.name.compare(b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    result.erase(std::unique(result.begin(), result.end(),
                             [](const Map& a, const Map& b) {
                                 return a.found.source == b.found.source &&
                                        a.name.compare(b.name, Qt::CaseInsensitive) == 0;
                             }),
                 result.end());
    return result;
}

QList<GameTree::PassedOver> GameTree::passedOver() const
{
    QList<PassedOver> result = m_passedOver;
    for (const Place& place : m_places) {
        if (place.entries)
            continue;
        const QString maps = subfolder(place.path, QStringLiteral("maps"));
        if (maps.isEmpty())
            continue;
        for (const QFileInfo& file :
             QDir(maps).entryInfoList(QDir::Files | QDir::System | QDir::Hidden)) {
            if (!file.fileName().endsWith(QStringLiteral(".bsp"), kLooseCase))
                continue;
            if (const std::optional<QString> kind = specialFileKind(file.filePath()))
                result.append({QDir::toNativeSeparators(file.filePath()), hangs(*kind), true});
            else if (!isLoadableMap(file.filePath()))
                result.append({QDir::toNativeSeparators(file.filePath()),
                               QStringLiteral("it is no map of the server's version: a map "
                                              "starts with IBSP and version 46")});
        }
    }
    return result;
}
