// Stands in for the dedicated server on Windows, where a test cannot run a shell script
// as quake3.exe. Each start writes a record file, launch.<pid>, into the folder named in
// records.path beside the program: the working directory, then one argument a line; and
// process.<pid>: whether it has a console of its own, and how many handles it started with.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <windows.h>

int main(int argc, char* argv[])
{
    DWORD handles = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles);
    DWORD mode = 0;
    const bool console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    QCoreApplication app(argc, argv);
    QFile where(QCoreApplication::applicationDirPath() + QStringLiteral("/records.path"));
    if (!where.open(QIODevice::ReadOnly))
        return 2;
    const QString records = QString::fromUtf8(where.readAll());
    const QString pid = QString::number(QCoreApplication::applicationPid());
    QFile process(records + QStringLiteral("/process.") + pid);
    if (!process.open(QIODevice::WriteOnly) ||
        process.write(QStringLiteral("console=%1 handles=%2").arg(console).arg(handles).toUtf8()) <
            0)
        return 2;
    process.close();
    const QString record = records + QStringLiteral("/launch.") + pid;
    QFile file(record + QStringLiteral(".tmp"));
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    const QStringList lines = QStringList{QDir::current().canonicalPath()} + app.arguments().mid(1);
    file.write((lines.join(u'\n') + u'\n').toUtf8());
    file.close();
    return file.rename(record) ? 0 : 2;
}
