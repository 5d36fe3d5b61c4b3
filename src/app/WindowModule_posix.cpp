#include "WindowModule.h"
#include "ui/WindowFace.h"

#include <cstdio>
#include <dlfcn.h>

// The module is found through the program's own run path, which names its folder.
int showWindow(int argc, char* argv[])
{
    void* module = dlopen(QUORVEX_WINDOW_MODULE ".so", RTLD_NOW);
    const auto run =
        module ? reinterpret_cast<decltype(&runWindow)>(dlsym(module, "runWindow")) : nullptr;
    if (!run) {
        std::fprintf(stderr, "quorvex-config-creator: cannot load the window: %s\n", dlerror());
        return 1;
    }
    return run(argc, argv);
}
