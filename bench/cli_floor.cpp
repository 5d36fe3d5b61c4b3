// The floor of a command-line start: an empty QCoreApplication program that writes one file.
#include <QCoreApplication>
#include <QFile>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QFile file(app.arguments().value(1));
    return file.open(QIODevice::WriteOnly) && file.write("map quorvexmap1\r\n") > 0 ? 0 : 1;
}
