#include "ConfigFile.h"

#include "ServerSettings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Why the file at path could not be written, named in the operator's terms where the
// system's own reason would mislead: the save needs a new file beside the target.
QString writeFailure(const QString& path, const QString& systemReason)
{
    const QFileInfo target(path);
    if (const std::optional<QString> kind = specialFileKind(path))
        return QStringLiteral("it is %1, not a regular file, and is left as it is; give the "
                              "path of a regular file")
            .arg(*kind);
    if (target.isDir())
        return QStringLiteral("it is a folder, not a file; give the path of a file, such as "
                              "\"%1\"")
            .arg(QDir(path).filePath(QStringLiteral("server.cfg")));
    const QFileInfo folder(target.absolutePath());
    if (!folder.exists())
        return QStringLiteral("the folder \"%1\" does not exist; create it first or choose "
                              "another one")
            .arg(folder.filePath());
    if (!folder.isDir())
        return QStringLiteral("\"%1\" is a file, not a folder").arg(folder.filePath());
    if (!folder.isWritable())
        return QStringLiteral("the folder \"%1\" cannot be written, and the file is saved "
                              "as a new file beside the old one that then takes its place; "
                              "choose a folder you may write to")
            .arg(folder.filePath());
    // A clause like the others, though Windows ends its reasons with a full stop.
    return systemReason.endsWith(u'.') ? systemReason.chopped(1) : systemReason;
}

} // namespace

std::optional<QString> specialFileKind(const QString& path)
{
    namespace fs = std::filesystem;
#ifdef Q_OS_WIN
    const fs::path native(path.toStdWString());
#else
    const fs::path native(QFile::encodeName(path).toStdString());
#endif
    std::error_code error;
    switch (fs::status(native, error).type()) {
    case fs::file_type::block:
        return QStringLiteral("a block device");
    case fs::file_type::character:
        return QStringLiteral("a character device");
    case fs::file_type::fifo:
        return QStringLiteral("a named pipe (FIFO)");
    case fs::file_type::socket:
        return QStringLiteral("a socket");
    case fs::file_type::unknown:
        return QStringLiteral("a special file");
    default:
        return std::nullopt;
    }
}

QString fileKey(const QString& path)
{
    const QFileInfo file(path);
    if (const QString canonical = file.canonicalFilePath(); !canonical.isEmpty())
        return canonical;
    // A file yet to be made, in a folder that is.
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(file.absoluteFilePath())
                            : folder + u'/' + file.fileName();
}

std::optional<QByteArray> fileIdentity(const QString& path)
{
#ifdef Q_OS_WIN
    // Asking for no access opens even a file that another program holds.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    if (!known)
        return std::nullopt;
    return QByteArray::number(quint64(information.dwVolumeSerialNumber)) + ':' +
           QByteArray::number((quint64(information.nFileIndexHigh) << 32) |
                              information.nFileIndexLow);
#else
    struct stat entry {};
    if (stat(QFile::encodeName(path).constData(), &entry) != 0)
        return std::nullopt;
    return QByteArray::number(quint64(entry.st_dev)) + ':' +
           QByteArray::number(quint64(entry.st_ino));
#endif
}

std::optional<QString> openRegularFile(QFile& file, const QString& path)
{
#ifdef Q_OS_WIN
    if (const std::optional<QString> kind = specialFileKind(path))
        return *kind;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
#else
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat entry {};
    if (fstat(fd, &entry) != 0 || !S_ISREG(entry.st_mode)) {
        close(fd);
        return specialFileKind(path).value_or(QStringLiteral("no regular file"));
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        return file.errorString();
    }
#endif
    return std::nullopt;
}

namespace {

// One attempt of writeFileAtomically; committed tells whether a failure came at the rename.
std::optional<QString> saveOnce(const QString& path, const QByteArray& bytes, Readers readers,
                                bool& committed)
{
    committed = false;
    QSaveFile file(path);
    // Unbuffered, so that a short write (a full disk) shows here instead of being lost in
    // the buffer's flush at commit, which would then rename a truncated file into place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return writeFailure(path, file.errorString());
    // The new file starts with the old one's permissions, or the system's defaults.
    constexpr QFileDevice::Permissions kOwners = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                                 QFileDevice::WriteUser | QFileDevice::ExeUser;
    if (readers == Readers::OwnerOnly && !file.setPermissions(file.permissions() & kOwners)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return QStringLiteral("it holds passwords, and could not be kept from other users: %1")
            .arg(reason);
    }
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            const QString reason = writeFailure(path, file.errorString());
            file.cancelWriting();
            return reason;
        }
        written += count;
    }
    committed = true;
    if (!file.commit())
        return writeFailure(path, file.errorString());
    return std::nullopt;
}

} // namespace

std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes,
                                           Readers readers)
{
    // Saving would replace a device or a pipe with a regular file.
    if (specialFileKind(path))
        return writeFailure(path, {});
    bool committed = false;
    std::optional<QString> failure = saveOnce(path, bytes, readers, committed);
#ifdef Q_OS_WIN
    // Windows refuses to replace a file that another program has open, be it only for the
    // moment of a read: another run of the tool reading a record, or a virus scanner. Such a
    // hold ends soon, so the save is tried again for a while before it counts as failed.
    const QDeadlineTimer patience(2000);
    while (failure && committed && !patience.hasExpired()) {
        QThread::msleep(20);
        failure = saveOnce(path, bytes, readers, committed);
    }
#endif
    return failure;
}

namespace {

// How many names the file at path has; 1 where that is unknown.
quint64 linkCount(const QString& path)
{
#ifdef Q_OS_WIN
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return 1;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(handle, &information);
    CloseHandle(handle);
    return known ? information.nNumberOfLinks : 1;
#else
    struct stat entry {};
    return stat(QFile::encodeName(path).constData(), &entry) == 0 && S_ISREG(entry.st_mode)
               ? quint64(entry.st_nlink)
               : 1;
#endif
}

} // namespace

std::optional<QString> writeFileKeepingLinks(const QString& path, const QByteArray& bytes,
                                             Readers readers)
{
    if (linkCount(path) <= 1)
        return writeFileAtomically(path, bytes, readers);
    QFile file;
    if (const std::optional<QString> problem = openRegularFile(file, path))
        return writeFailure(path, *problem);
    const QByteArray old = file.readAll();
    file.close();
    file.setFileName(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return writeFailure(path, file.errorString());
    constexpr QFileDevice::Permissions kOwners = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                                 QFileDevice::WriteUser | QFileDevice::ExeUser;
    if (readers == Readers::OwnerOnly && !file.setPermissions(file.permissions() & kOwners))
        return QStringLiteral("it holds passwords, and could not be kept from other users: %1")
            .arg(file.errorString());
    if (file.write(bytes) != bytes.size() || !file.resize(bytes.size())) {
        const QString reason = file.errorString();
        file.seek(0);
        if (file.write(old) != old.size() || !file.resize(old.size()))
            return writeFailure(path, reason) +
                   QStringLiteral(", and its old contents could not be written back either");
        return writeFailure(path, reason);
    }
    return std::nullopt;
}

QByteArray configFileBytes(const QString& strCfg)
{
    return (strCfg + kLineEnd).toLatin1();
}

std::optional<QString> writeConfigFile(const QString& path, const QString& strCfg, Readers readers)
{
    if (const std::optional<QString> reason =
            writeFileAtomically(path, configFileBytes(strCfg), readers))
        return QStringLiteral("Could not write the config file \"%1\": %2.").arg(path, *reason);
    return std::nullopt;
}
