// Stands in for the dedicated server on Windows, where a test cannot run a shell script
// as quake3.exe. Each start writes a record file, launch.<pid>, into the folder named in
// records.path beside the program: the working directory, then one argument a line; and
// process.<pid>: whether its output goes to a console, and how many handles it started with;
// and commandline.<pid>: its command line exactly as Windows passed it. With a file named
// silent in the records folder, it then runs on for a minute without answering, as a server
// that never comes up.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <windows.h>

int main(int argc, char* argv[])
{
    // Counted by trying every handle value, as Wine does not count them for a process.
    int handles = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        handles += GetHandleInformation(HANDLE(value), &flags) ? 1 : 0;
    }
    const bool console = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
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
    QFile line(records + QStringLiteral("/commandline.") + pid);
    if (!line.open(QIODevice::WriteOnly) ||
        line.write(QString::fromWCharArray(GetCommandLineW()).toUtf8()) < 0)
        return 2;
    line.close();
    const QString record = records + QStringLiteral("/launch.") + pid;
    QFile file(record + QStringLiteral(".tmp"));
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    const QStringList lines = QStringList{QDir::current().canonicalPath()} + app.arguments().mid(1);
    file.write((lines.join(u'\n') + u'\n').toUtf8());
    file.close();
    if (!file.rename(record))
        return 2;
    if (QFile::exists(records + QStringLiteral("/silent")))
        Sleep(60000);
    return 0;
}
