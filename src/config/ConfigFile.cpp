#include "ConfigFile.h"

#include <QSaveFile>

std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    // Unbuffered, so that a short write (a full disk) shows here instead of being lost in
    // the buffer's flush at commit, which would then rename a truncated file into place.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return reason;
        }
        written += count;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

QByteArray configFileBytes(const QString& strCfg)
{
    return (strCfg + QStringLiteral("\r\n")).toLatin1();
}

std::optional<QString> writeConfigFile(const QString& path, const QString& strCfg)
{
    if (const std::optional<QString> reason = writeFileAtomically(path, configFileBytes(strCfg)))
        return QStringLiteral("Could not write the config file \"%1\": %2.").arg(path, *reason);
    return std::nullopt;
}
