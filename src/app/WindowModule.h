#pragma once

// Loads the window's module from its place beside the program and shows the window; says
// so and fails when the module cannot be loaded.
int showWindow(int argc, char* argv[]);
