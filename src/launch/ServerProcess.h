#pragma once

class QProcess;

// Sets up how the server's process starts on this system, before it is started detached.
void prepareServerProcess(QProcess& process);
