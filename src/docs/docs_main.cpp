// quorvex-command-docs: writes what the build makes from the table of commands, the bash
// completion (completion) or the manual page's section of commands (manual), to a file.
#include "CommandDocs.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3 || (arguments[1] != u"completion" && arguments[1] != u"manual")) {
        std::fputs("usage: quorvex-command-docs completion|manual FILE\n", stderr);
        return 2;
    }
    QFile file(arguments[2]);
    const QString text = arguments[1] == u"completion" ? bashCompletion() : manualCommands();
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.flush()) {
        std::fprintf(stderr, "quorvex-command-docs: %s\n", qPrintable(file.errorString()));
        return 1;
    }
    return 0;
}
