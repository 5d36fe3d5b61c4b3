#include "WindowModule.h"
#include "ui/WindowFace.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string_view>

namespace {

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

// Whether there is a display to show the window on: one that X11 or Wayland names, or a
// platform of Qt's own named that needs none, such as offscreen.
bool hasDisplay()
{
    const std::string_view platform =
        isSet("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    const bool needsDisplay =
        platform.empty() || platform.starts_with("xcb") || platform.starts_with("wayland");
    return !needsDisplay || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

} // namespace

// The module is found through the program's own run path, which names its folder.
int showWindow(int argc, char* argv[])
{
    if (!hasDisplay()) {
        std::fputs("quorvex-config-creator: there is no display to show the window on. The "
                   "commands work without one: see 'quorvex-config-creator --help'.\n",
                   stderr);
        return 1;
    }
    void* module = dlopen(QUORVEX_WINDOW_MODULE ".so", RTLD_NOW);
    const auto run =
        module ? reinterpret_cast<decltype(&runWindow)>(dlsym(module, "runWindow")) : nullptr;
    if (!run) {
        std::fprintf(stderr, "quorvex-config-creator: cannot load the window: %s\n", dlerror());
        return 1;
    }
    return run(argc, argv);
}
