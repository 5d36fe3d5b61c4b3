#pragma once

#ifdef Q_OS_WIN
#include <QDir>
#include <QString>
#include <optional>
#include <windows.h>

// Under Wine a Windows program starts a Unix one, such as a shell script named quake3.exe,
// as a Unix process: the tests then run Debian's dedicated server from the Windows program.
// Wine's kernel32 tells where a Windows path lies on the Unix side; on Windows itself there
// is no such function, and nothing.
inline std::optional<QString> unixPath(const QString& windowsPath)
{
    using UnixFileName = char* (*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!toUnix)
        return std::nullopt;
    char* path =
        toUnix(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(windowsPath).utf16()));
    if (!path)
        return std::nullopt;
    const QString result = QString::fromUtf8(path);
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

inline bool underWine()
{
    return unixPath(QStringLiteral("C:\\")).has_value();
}
#endif
