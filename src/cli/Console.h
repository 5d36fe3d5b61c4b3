#pragma once

#include <QString>
#include <cstdio>
#include <functional>

class QObject;

// The terminal or console that the command line writes to and is interrupted from.
namespace Console {

// Joins the console of the program that started this one, where the system keeps consoles
// apart from windowed programs, so that its text and its Ctrl+C reach this one. Where the
// program was started with standard output closed, returns the error number that writing
// to it gives, after putting the null device in its place so that no file the program
// opens later takes its number; otherwise 0.
int attach();

// Writes text to stream: to a console in the console's own characters, elsewhere in the
// system's 8-bit encoding. False when the text could not be written.
bool write(FILE* stream, const QString& text);

// Calls action in context's thread when the user interrupts the program: Ctrl+C, or on
// POSIX systems SIGINT, SIGTERM or SIGHUP, or on Windows the console's Ctrl+Break. It gets
// the exit status that the interruption calls for: 128 and the signal's number, 130 for
// Ctrl+C, each time it comes. Interrupting then no longer ends the program by itself.
void onInterrupt(QObject* context, std::function<void(int status)> action);

} // namespace Console
