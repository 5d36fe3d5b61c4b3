#include "Console.h"
#include "supervision/DetachedRun.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <io.h>
#include <windows.h>

namespace Console {

// The windowed program gets the console of quorvex-config-creator.com, which started it
// with that console's handles; joining it keeps those handles, redirected or not. A run
// started detached joins none, so that the console's end is not its own.
int attach()
{
    if (startedDetached())
        return 0;
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE handles[3];
    for (int i = 0; i < 3; ++i)
        handles[i] = GetStdHandle(kinds[i]);
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        for (int i = 0; i < 3; ++i)
            SetStdHandle(kinds[i], handles[i]);
    }
    return 0;
}

bool write(FILE* stream, const QString& text)
{
    const HANDLE handle = HANDLE(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return std::fputs(text.toLocal8Bit().constData(), stream) >= 0;
    std::fflush(stream);
    const std::wstring wide = text.toStdWString();
    DWORD written = 0;
    return WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr) &&
           written == DWORD(wide.size());
}

namespace {

QPointer<QObject> g_context;
std::function<void(int)> g_action;

BOOL WINAPI interrupted(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (g_context)
        QMetaObject::invokeMethod(
            g_context, [] { g_action(130); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

void onInterrupt(QObject* context, std::function<void(int status)> action)
{
    g_context = context;
    g_action = std::move(action);
    SetConsoleCtrlHandler(interrupted, TRUE);
}

} // namespace Console
