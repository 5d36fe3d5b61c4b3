#pragma once

#include <QString>
#include <span>

// The variables that the dedicated server has before any script sets one: those the engine
// registers as it starts, and those the baseq3 game module registers, or adds flags to, each
// time a map loads. Read off ioquake3's dedicated server with cvarlist, before and after a
// map load.
namespace EngineVariables {

enum Flag {
    // A set command's value waits for the next map load; until then the level keeps the old.
    Latched = 1,
    // Read only or write protected: set commands leave it as it is.
    ReadOnly = 2,
    // Written to the engine's archive, q3config_server.cfg, and read back at the next start.
    Archived = 4,
};

struct Variable {
    const char* name;
    int flags;
    const char* value; // as registered; empty where it depends on the machine or the start
};

std::span<const Variable> engine();
std::span<const Variable> game();

} // namespace EngineVariables
