#include "WindowModule.h"
#include "ui/WindowFace.h"

#include <windows.h>

// The module is loaded from the program's own folder only: a DLL of its name in the current
// folder or on the search path is never loaded.
int showWindow(int argc, char* argv[])
{
    HMODULE module =
        LoadLibraryExW(L"" QUORVEX_WINDOW_MODULE ".dll", nullptr,
                       LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
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
