#include "WindowModule.h"
#include "ui/WindowFace.h"

#include <windows.h>

// Windows looks for the module in the program's own folder first.
int showWindow(int argc, char* argv[])
{
    HMODULE module = LoadLibraryW(L"" QUORVEX_WINDOW_MODULE ".dll");
    const auto run = module ? reinterpret_cast<decltype(&runWindow)>(
                                  reinterpret_cast<void*>(GetProcAddress(module, "runWindow")))
                            : nullptr;
    if (!run) {
        wchar_t message[200];
        wsprintfW(message,
                  L"The window's module " QUORVEX_WINDOW_MODULE ".dll cannot be "
                  L"loaded (Windows error %lu). Unpack the whole zip again.",
                  GetLastError());
        MessageBoxW(nullptr, message, L"Quorvex Server Config Creator", MB_ICONERROR | MB_OK);
        return 1;
    }
    return run(argc, argv);
}
