// Starts a server as "Run Config" does, then ends at once, as the tool does when it closes.
#include "launch/ServerLaunch.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const auto launched = launchServer(arguments.value(1), arguments.value(2), 1);
    if (const Problem* problem = std::get_if<Problem>(&launched)) {
        std::fprintf(stderr, "%s\n", qPrintable(captioned(*problem)));
        return 1;
    }
    return 0;
}
