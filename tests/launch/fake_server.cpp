// Stands in for the dedicated server on Windows, where a test cannot run a shell script
// as quake3.exe. Each start writes a record file, launch.<pid>, into the folder named in
// records.path beside the program: the working directory, then one argument a line.
#include <QCoreApplication>
#include <QDir>
#include <QFile>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QFile where(QCoreApplication::applicationDirPath() + QStringLiteral("/records.path"));
    if (!where.open(QIODevice::ReadOnly))
        return 2;
    const QString record = QString::fromUtf8(where.readAll()) + QStringLiteral("/launch.") +
                           QString::number(QCoreApplication::applicationPid());
    QFile file(record + QStringLiteral(".tmp"));
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    const QStringList lines = QStringList{QDir::current().canonicalPath()} + app.arguments().mid(1);
    file.write((lines.join(u'\n') + u'\n').toUtf8());
    file.close();
    return file.rename(record) ? 0 : 2;
}
