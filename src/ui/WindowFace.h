#pragma once

#include <QtGlobal>

// Shows the window, or with one argument the window opening that script, until it closes;
// returns the exit status.
extern "C" Q_DECL_EXPORT int runWindow(int argc, char* argv[]);

// The module's file name, which the program loads to show the window.
#define QUORVEX_WINDOW_MODULE "quorvex-config-creator-window"
