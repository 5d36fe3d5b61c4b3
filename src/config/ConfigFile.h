#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

// Who may read a file the tool writes: whoever the system's defaults let, as for a file
// replaced whoever could before; or, for a file that holds passwords, its owner alone. A
// file's permissions are narrowed to its owner's, never widened.
enum class Readers { Usual, OwnerOnly };

// What the file at path is when it exists but is neither a regular file nor a folder, such
// as "a named pipe (FIFO)": the tool reads and writes only regular files, as opening such a
// file could wait forever or replacing it could break the system. A link counts as the file
// it leads to.
std::optional<QString> specialFileKind(const QString& path);

// The path of the file at path however it is written: where its links lead, without "." and
// "..", so that two paths of one file compare equal; for a file that does not exist, its name
// in its folder's such path, or where that folder is missing too, the cleaned absolute path.
QString fileKey(const QString& path);

// Which file the path leads to, links followed: its device and inode, or on Windows its
// volume and file ID, so that a symbolic link, a hard link and any spelling of the path give
// the same; nothing where no file is there.
std::optional<QByteArray> fileIdentity(const QString& path);

// Opens the file at path for reading, only if it is a regular file, a link's target
// included: the file is opened without waiting, as a named pipe would make an open wait
// for a writer forever, and only then checked. Nothing when file is open; otherwise what
// the file is, such as "a named pipe (FIFO)", or the system's reason.
std::optional<QString> openRegularFile(QFile& file, const QString& path);

// Replaces the file at path with bytes, all or nothing: the bytes go to a temporary file
// beside it that is renamed over the target only once complete. On failure the target is
// left as it was and the reason is returned: a folder or a special file in the way, a missing or
// unwritable folder, or else the system's own.
[[nodiscard]] std::optional<QString>
writeFileAtomically(const QString& path, const QByteArray& bytes, Readers readers = Readers::Usual);

// Replaces the contents of the file at path with bytes, as writeFileAtomically does, but for
// a file with more than one name (hard links) in place, so that every name keeps leading to
// the one file; should that write fail, the old contents are written back.
[[nodiscard]] std::optional<QString>
writeFileKeepingLinks(const QString& path, const QByteArray& bytes, Readers readers);

// The bytes of the config file: the script followed by one line end, a byte per
// character in ISO-8859-1.
QByteArray configFileBytes(const QString& strCfg);

// Writes the script to the config file at path, used exactly as typed. On failure the
// returned message names the file and the reason, and an existing file is left unchanged.
[[nodiscard]] std::optional<QString> writeConfigFile(const QString& path, const QString& strCfg,
                                                     Readers readers);
