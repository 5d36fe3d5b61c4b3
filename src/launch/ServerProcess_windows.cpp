#include "LaunchPlan.h"
#include "ServerProcess.h"

#include <QProcess>
#include <windows.h>

PathStyle nativePathStyle()
{
    return PathStyle::Windows;
}

// The dedicated server opens its own console window, shown normally without taking the
// focus from the tool.
void prepareServerProcess(QProcess& process)
{
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* arguments) {
        arguments->flags |= CREATE_NEW_CONSOLE;
        arguments->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        arguments->startupInfo->wShowWindow = SW_SHOWNOACTIVATE;
    });
}
