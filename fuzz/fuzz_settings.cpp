// Feeds arbitrary form contents through the settings check and the script builder.
//
// The input is read as UTF-8 and split at U+001F into the thirteen texts of the form, in
// the order of the boxes on the form. Whatever the check accepts must leave the game server,
// as the reader of scripts that the test suite checks against the real engine reads it, holding
// exactly the typed values; whatever it refuses, it must say which box to change.
#include "config/ConfigFile.h"
#include "config/ConfigScript.h"
#include "config/SettingsCheck.h"
#include "support/ServerState.h"

#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

ServerSettings settingsFrom(const uint8_t* data, size_t size)
{
    const QStringList texts =
        QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)).split(u'\x1f');
    ServerSettings settings;
    for (qsizetype i = 0; i < qsizetype(kSettingsFields.size()); ++i)
        settings.*kSettingsFields[size_t(i)].member = texts.value(i);
    return settings;
}

bool namesABox(const Problem& problem)
{
    return problem.setting != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const ServerSettings settings = settingsFrom(data, size);
    const Problems problems = checkSettings(settings);
    ConfigScript script;
    script.build(settings);

    if (!problems.isEmpty()) {
        require(std::all_of(problems.begin(), problems.end(), namesABox),
                "every problem names a box");
        return 0;
    }
    require(toInteger16(settings.region).has_value(), "an accepted region converts");
    const QByteArray bytes = configFileBytes(script.strCfg());
    require(readState(bytes) == expectedState(settings),
            "the server holds exactly the typed values");
    require(bytes.size() == script.strCfg().size() + 2, "one byte per character");
    require(QString::fromLatin1(bytes) == script.strCfg() + QStringLiteral("\r\n"),
            "the file holds the script unchanged");
    return 0;
}
