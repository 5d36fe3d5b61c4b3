#include "LaunchPlan.h"
#include "ServerProcess.h"

#include <QProcess>

PathStyle nativePathStyle()
{
    return PathStyle::Posix;
}

// The server inherits the terminal, if any; there is no window to show.
void prepareServerProcess(QProcess&) {}
