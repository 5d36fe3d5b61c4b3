#include "CommandTable.h"

#include "Commands.h"
#include "config/ServerSettings.h"

#include <array>

namespace {

// The options that are no box of the form, with the names of their values.
struct OwnOption {
    const char* name;
    const char* valueName;           // nullptr for a switch
    const char* shortName = nullptr; // the one letter that also names it, as tail's
};
constexpr std::array<OwnOption, 14> kOwnOptions{{
    {"from", "SCRIPT"},
    {"rotation", "MAP,MAP"},
    {"replace", nullptr},
    {"fresh", nullptr},
    {"wait", nullptr},
    {"restart", "WHEN"},
    {"port", "N"},
    {"print", nullptr},
    {"enable", nullptr},
    {"remove", nullptr},
    {"json", nullptr},
    {"lines", "N", "n"},
    {"follow", nullptr, "f"},
    {"color", "WHEN"},
}};

// The eleven settings that a script holds, as create takes them.
constexpr std::array<OptionUse, 11> settingsOptions()
{
    std::array<OptionUse, 11> options{};
    for (std::size_t i = 0; i < options.size(); ++i)
        options[i] = {kSettingsFields[i].option};
    return options;
}

constexpr auto kSettings = settingsOptions();

constexpr std::array<OptionUse, 14> kCreateOptions = [] {
    std::array<OptionUse, 14> options{};
    options[0] = {"from", "Start from the settings of SCRIPT, read as the game server reads it; "
                          "- reads it from standard input, where no other user sees its "
                          "passwords."};
    for (std::size_t i = 0; i < kSettings.size(); ++i)
        options[i + 1] = kSettings[i];
    options[12] = {"rotation", "The maps that follow the initial map, in turn, apart by commas "
                               "(at most 64); empty for none. Written as the steps d1, d2 and on, "
                               "which vstr runs at the end of each level."};
    options[13] = {"output", "The config file to write; - writes the script to standard "
                             "output."};
    return options;
}();
constexpr std::array<OptionUse, 1> kShowOptions{{
    {"json", "Print one JSON object: the settings by option name, the maps of the rotation, "
             "and the commands that the settings cannot carry."},
}};
constexpr std::array<OptionUse, 3> kMapsOptions{{
    {"game-dir", "The game directory (default: the one the window saved)."},
    {"port", "The maps of the server on this UDP port, which has a home path of its own but on "
             "27960 (default: 27960)."},
    {"json", "Print one JSON object: the maps, each with its name, source and whether clients "
             "can download it, and the files that the server passes over."},
}};
constexpr std::array<OptionUse, 7> kRunOptions{{
    {"game-dir", "The game directory (default: the one the window saved)."},
    {"output", "The config file to install (default: the one the window saved)."},
    {"port", "Start the server on UDP port N, from 1024 to 65535, in place of 27960, which must "
             "be free but for a server of this tool's that --replace stops. A server on any "
             "other port than 27960 keeps its home path apart from the engine's, in ~/.q3a-N "
             "(on Windows, Quake3-N beside Quake3 in the Application Data), so that no two "
             "servers share the engine's archive: it does not see the maps and files put in "
             "~/.q3a, and looks for them in its own home path and in the game directory."},
    {"replace", "Stop the server that this tool started on the game's port first."},
    {"fresh", "Start without the values that earlier servers left in the engine's archive, "
              "q3config_server.cfg: each that the config file does not set is given the "
              "engine's own on the server's command line. The archive stays as it is."},
    {"wait", "Stay in the foreground, as the server's parent, until it ends, for systemd, Docker "
             "and the like: its console lines go to standard output as they come; SIGTERM, "
             "SIGINT or SIGHUP stop it as stop does, and run then exits with 0, as it does when "
             "a stop given elsewhere ends it; a server that ends by itself gives its own exit "
             "status."},
    {"restart", "Start the server again when it ends, as systemd's Restart= does: no (the "
                "default), on-failure (after an end with a status other than 0 or by a signal, "
                "or after 60 seconds in which it answered no status query while its process "
                "ran) or always (after any end). The same installed script starts again on "
                "the same port, its lines after its log's, after 1 second, then 2, 4 and so on "
                "up to 60, back to 1 once a server has been up for 10 minutes; after 5 starts "
                "within 5 minutes the tool starts it no more, and status tells why. Without "
                "--wait, a process of the tool's of its own stays as the server's parent to "
                "restart it; stop ends that first, and run --replace keeps the choice. A "
                "changed config file is never started this way: run --replace starts it."},
}};
#ifdef Q_OS_WIN
constexpr std::array<OptionUse, 6> kServiceOptions{{
    {"game-dir", "The game directory (default: the one the window saved)."},
    {"output", "The config file that the server runs (default: the one the window saved)."},
    {"port", "The server's UDP port, which names the task (default: 27960)."},
    {"print", "Print the task definition rather than write it."},
    {"enable", "Have Task Scheduler create the task now, from an administrator's console."},
    {"remove", "Have Task Scheduler delete the task of the port, and remove its definition, "
               "one that service wrote."},
}};
#else
constexpr std::array<OptionUse, 6> kServiceOptions{{
    {"game-dir", "The game directory (default: the one the window saved)."},
    {"output", "The config file that the server runs (default: the one the window saved)."},
    {"port", "The server's UDP port, which names the unit (default: 27960)."},
    {"print", "Print the unit rather than write it."},
    {"enable", "Have systemd load, enable and start the unit now, where a service manager of "
               "yours answers."},
    {"remove", "Stop, disable and remove the unit of the port, one that service wrote."},
}};
#endif
constexpr OptionUse kOnePort{"port", "Only the server on this UDP port."};
constexpr std::array<OptionUse, 3> kStatusOptions{{
    {"game-dir", "Only the servers of this game directory."},
    kOnePort,
    {"json", "Print a JSON array of the servers."},
}};
constexpr std::array<OptionUse, 2> kStopOptions{{
    {"game-dir", "Only the servers of this game directory."},
    kOnePort,
}};
// The options of the commands that talk to one running server.
constexpr OptionUse kTalkGameDir{"game-dir", "The server of this game directory (default: the "
                                             "only one running)."};
constexpr OptionUse kTalkPort{"port", "The server on this UDP port (default: the only one "
                                      "running)."};
constexpr OptionUse kColour{"color", "Show the game's colour codes as colours: auto (on a "
                                     "terminal, unless NO_COLOR is set), always or never."};
constexpr std::array<OptionUse, 3> kTalkOptions{{kTalkGameDir, kTalkPort, kColour}};
constexpr std::array<OptionUse, 5> kLogOptions{{
    kTalkGameDir,
    kTalkPort,
    {"lines", "The last N lines (default: 10); -n N for short."},
    {"follow", "Go on printing the lines as the server writes them, and the new server's "
               "after a run --replace, until Ctrl+C or the server stops; -f for short."},
    kColour,
}};
constexpr std::array<OptionUse, 4> kPlayersOptions{{
    kTalkGameDir,
    kTalkPort,
    kColour,

    {"json", "Print one JSON object: the map, and each player with slot, name as the game "
             "shows it and without colours, score, ping or state, address and rate."},
}};

const std::array<CommandSpec, 14> kCommands{{
    {"create", "", "Check the settings and write the config file, as Create Config does.",
     "A setting not given keeps its design text, or with --from the script's value. The same "
     "check as the window's runs, and each problem names its option. create writes only a "
     "file named on its command line: --output FILE, or with --from SCRIPT alone SCRIPT "
     "itself. Written back to SCRIPT, or from standard input, the script keeps every command "
     "of SCRIPT that the settings do not carry, byte for byte and where it stood, before or "
     "after the map command; a script that the tool wrote comes back unchanged. A rotation of "
     "SCRIPT in another form than --rotation writes is kept as it stands, and --rotation is "
     "then refused.",
     kCreateOptions,
     "printf 'set rconPassword \"s3cret\"\\n' | quorvex-config-creator create --from - "
     "--server-name \"Grelt's Arena\" --output server.cfg",
     createCommand},
    {"show", "SCRIPT", "Print the settings that opening SCRIPT puts in the form.",
     "SCRIPT - reads it from standard input. One --option=value a line, quoted for the "
     "shell "
     "where needed, so that create takes them back as they stand; the map is the one that "
     "the "
     "server loads first, vstr followed, and --rotation the maps that follow it at the "
     "ends of "
     "levels, as the server plays them. The commands that the settings cannot carry go to "
     "standard error, their passwords masked: the value of every variable whose name holds "
     "pass, also inside a string that vstr runs.",
     kShowOptions, "eval \"set -- $(quorvex-config-creator show server.cfg)\"", showCommand},
    {"maps", "", "List the maps that the server can load from the game tree.",
     "Found as the server finds them: in the arena and baseq3 folders of the engine's home "
     "path and of the game directory, loose or in pk3 files, the first found counting. "
     "Each "
     "map with the pk3 file or the loose file it comes from; clients can download only "
     "maps "
     "in pk3 files. The pk3 files that the server passes over, such as damaged ones, are "
     "named on standard error. Exit status 1 when there is no map or no game tree. run "
     "checks the config file's map and the files it executes against the same tree.",
     kMapsOptions, "quorvex-config-creator maps --game-dir /opt/quake3", mapsCommand},
    {"run", "", "Install the config file and start the dedicated server, as Run Config does.",
     "First the game tree must hold the config file's map and every file it executes, the "
     "arena folder must take a file, and the state folder the server's record, else "
     "nothing "
     "is stopped or started. The config file is installed in the game directory's arena "
     "folder under a script number that no other server of the tool's holds, the server "
     "started there, and run waits up to 10 seconds for it to answer as its script sets "
     "it. "
     "A start that does not is stopped with all that it started; one that does keeps "
     "running "
     "after the command ends, and run names the config file it installed. While a server "
     "that this tool started holds the game's port, run refuses, or with --replace stops "
     "it "
     "first and says which; when the new start then fails, the stopped server is started "
     "again from its own script, and run exits with status 1 either way. A stop given "
     "elsewhere while run waits stops the new server, and run exits with status 1. "
     "Interrupted, run stops the server it started, or after a replace's stop starts "
     "nothing, and exits with status 130, or 128 and the number of the signal that ended "
     "it, "
     "such as 143 for SIGTERM or 129 for SIGHUP; interrupted while a replace's new server "
     "has yet to answer, it first brings back the server it stopped, and a second "
     "interrupt "
     "ends it at once. The server command line's +set dedicated 2 makes the server "
     "announce "
     "itself to the public master servers; to keep it off their list, put set sv_master1 "
     "\"\" "
     "and set sv_master2 \"\" in the config file before its map line. The engine runs its "
     "archive, q3config_server.cfg in its home path's arena folder, before the config "
     "file, "
     "and writes into it every variable set with seta; run names the values that the "
     "server "
     "will hold from it where they differ from the engine's own and the config file does "
     "not "
     "set them, and an archive that holds a password is made readable by its owner alone. "
     "The scripts and logs "
     "of the last ten ended servers of a game directory stay in its arena folder; run "
     "removes older ones that it installed. run never changes the saved paths.",
     kRunOptions, "quorvex-config-creator run --game-dir /opt/quake3 --output server.cfg",
     runCommand},
#ifdef Q_OS_WIN
    {"service", "", "Have Task Scheduler start the server at every start-up of Windows.",
     "Writes a Task Scheduler definition, quorvex-PORT.xml in the tool's folder in your "
     "local Application Data, whose action starts the console companion "
     "quorvex-config-creator.com with run --wait --restart=on-failure, the game directory "
     "and the config file by their absolute paths, and the port; the tool itself then "
     "starts the server again when it fails. The task runs as you, whether you are logged "
     "on or not, with no password kept. First the same checks as run's must pass, so "
     "that no definition is written that would fail at every start-up. A definition of "
     "that name that holds other text, such as one edited since, is left as it is. "
     "service then gives the schtasks /Create /F line that creates the task, from an "
     "administrator's console, as a task at start-up needs; with --enable it runs it. "
     "status, stop, rcon and log work on the server as on any other.",
     kServiceOptions, "quorvex-config-creator service --port 27961", serviceCommand},
#else
    {"service", "", "Have systemd start the server at boot, and again when it fails.",
     "Writes a systemd user unit, quorvex-PORT.service in ~/.config/systemd/user, whose "
     "ExecStart runs this program's run --wait with the game directory and the config file "
     "by "
     "their absolute paths and the port, as systemd reads a command line; "
     "Restart=on-failure, "
     "RestartSec=5 and a start limit of 5 starts in 5 minutes, after which systemd leaves "
     "it "
     "stopped. The server's console lines go to the journal. First the same checks as "
     "run's "
     "must pass, so that no unit is written that would fail at every boot. A unit of that "
     "name "
     "that holds other text, such as one edited since, is left as it is. service then says "
     "how to start it, with systemctl --user, and loginctl enable-linger where your "
     "services "
     "would otherwise wait for your login; with --enable it has systemd do so. status, "
     "stop, "
     "rcon and log work on the server as on any other, and systemd starts a server that "
     "stop "
     "ended only at the next boot or systemctl --user start.",
     kServiceOptions, "quorvex-config-creator service --port 27961 --enable", serviceCommand},
#endif
    {"status", "", "Show the servers that this tool started and that still run.",
     "For each: its game directory, process, port, start, script, log and config file, "
     "whether that file has changed since the start, so that the server no longer runs "
     "what "
     "it says, and what the server answers: name, map, players and each player's name, "
     "score "
     "and ping. All are asked at once. Exit status 0 when every one runs and answers, 1 "
     "when "
     "one does not answer or one ended by itself since last asked, which status then says "
     "once with the last lines of its log, 3 when none runs.",
     kStatusOptions, "quorvex-config-creator status --json", statusCommand},
    {"stop", "", "Stop the servers that this tool started and that still run.",
     "Each is stopped with all that its start started, such as the engine that a start "
     "script runs: through the engine's own quit, forced after 5 seconds, and stop waits "
     "until none of it runs and its port is free, else names what still runs or holds the "
     "port. Exit status 0 when none is left running.",
     kStopOptions, "quorvex-config-creator stop --game-dir /opt/quake3", stopCommand},
    {"rcon", "COMMAND...", "Run a console command on a running server and print its reply.",
     "The words of COMMAND are one line of the server's console; a word with spaces is "
     "quoted "
     "for it. A server that this version started on Linux takes the command on its "
     "standard "
     "input, a FIFO in the tool's state folder that only its owner may write: no password "
     "is needed and nothing goes over the network. The reply is what the server's log gets "
     "up to an echo written right after the command, given up after 2 seconds; such a "
     "command is at most 221 bytes, with no semicolon or /* outside quotes. Otherwise the "
     "command goes over UDP through the engine's remote console, with the remote console "
     "password that the server's installed script sets, read from that copy, which only "
     "its owner can read: no password is ever on a command line. The reply ends at an echo "
     "sent right after the command, or after 0.3 seconds of silence. A command is sent "
     "once: where nothing comes in a second, only the echo is asked again, to tell a lost "
     "answer from a server that answers nothing. Before it is sent, a map "
     "command (map, devmap, spmap, spdevmap) whose map the game tree lacks is refused with "
     "the nearest names; quit and killserver are refused, since stop ends a server and "
     "keeps "
     "the records true; and so are changes of rconpassword, vstr, game_restart and "
     "cvar_restart, whose effects the tool cannot check, and wait, which holds up the "
     "server's command buffer. Exit "
     "status 0 when the server answered, 1 when it did not or the command was refused, 3 "
     "when no server runs. Give -- before a command whose words start with -.",
     kTalkOptions, "quorvex-config-creator rcon --game-dir /opt/quake3 status", rconCommand},
    {"players", "", "List the players on a running server, with their slots.",
     "From the server's console command status, sent as rcon sends it: the map, then each "
     "client's "
     "slot, name without colours, score, ping (CON while it "
     "connects, ZMB while it leaves), address and rate. kick takes the slot or the name.",
     kPlayersOptions, "quorvex-config-creator players --json", playersCommand},
    {"say", "TEXT...", "Say something to the players of a running server.",
     "The words go to every player as a message from the server, sent as rcon sends them.",
     kTalkOptions, "quorvex-config-creator say Map change in five minutes", sayCommand},
    {"kick", "PLAYER", "Kick a player from a running server.",
     "PLAYER is a slot number, or a name compared without colour codes and in any case, as "
     "players lists them. A name that fits more than one player is refused, with their "
     "slots. The player is kicked by slot (clientkick), so that the one meant goes.",
     kTalkOptions, "quorvex-config-creator kick 3", kickCommand},
    {"log", "", "Print the end of a running server's console log, as tail does.",
     "The log is the server's console, conf<N>.log in the arena folder beside its "
     "installed "
     "script, whose number changes at every start; log finds the one of the running "
     "server. "
     "Colour codes are left out. With --follow, a replace of the server carries on with "
     "the "
     "new server's log, and the command ends with status 0 once no server of the game "
     "directory has run for 15 seconds, the longest a replace takes. Windows "
     "servers keep a console window of their own and write no log.",
     kLogOptions, "quorvex-config-creator log -n 50 -f", logCommand},
    {"console", "", "The live console of a running server: its log, and commands to run.",
     "The server's log goes by as log --follow shows it, and each line read is run as rcon "
     "runs it, with the same checks, its reply printed, or, where it comes through the "
     "log, "
     "shown there. At a terminal it prompts with ] and "
     "reads until Ctrl+D or Ctrl+C; otherwise it reads standard input to its end, one "
     "command "
     "a line, so that a script can pipe commands in.",
     kTalkOptions, "printf 'status\\nsay Back in five\\n' | quorvex-config-creator console",
     consoleCommand},
    {"help",
     "[COMMAND]",
     "Show the help of a command, or this help.",
     "",
     {},
     "quorvex-config-creator help create",
     helpCommand},
}};

} // namespace

std::span<const CommandSpec> commands()
{
    return kCommands;
}

const CommandSpec* findCommand(const QString& name)
{
    for (const CommandSpec& command : kCommands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

QString longNameOf(const QString& option)
{
    for (const OwnOption& own : kOwnOptions) {
        if (own.shortName && option == QLatin1String(own.shortName))
            return QLatin1String(own.name);
    }
    return option;
}

const char* shortNameOf(const QString& option)
{
    for (const OwnOption& own : kOwnOptions) {
        if (option == QLatin1String(own.name))
            return own.shortName;
    }
    return nullptr;
}

const char* valueNameOf(const QString& typed)
{
    const QString option = longNameOf(typed);
    for (const SettingsField& field : kSettingsFields) {
        if (option == QLatin1String(field.option))
            return field.valueName;
    }
    for (const OwnOption& own : kOwnOptions) {
        if (option == QLatin1String(own.name))
            return own.valueName;
    }
    return nullptr;
}

QStringList optionNames()
{
    QStringList names;
    for (const CommandSpec& command : kCommands) {
        for (const OptionUse& option : command.options) {
            if (!names.contains(QLatin1String(option.name)))
                names << QLatin1String(option.name);
        }
    }
    return names;
}

QString describedOption(const OptionUse& option)
{
    if (*option.description)
        return QLatin1String(option.description);
    const SettingsField* field = nullptr;
    for (const SettingsField& each : kSettingsFields) {
        if (QLatin1String(each.option) == QLatin1String(option.name))
            field = &each;
    }
    const QString text = field->designText;
    return QStringLiteral("%1 (default: %2).")
        .arg(QLatin1String(field->caption),
             text.isEmpty() ? QStringLiteral("empty") : u'"' + text + u'"');
}

QString usageOf(const CommandSpec& command)
{
    QStringList words{QLatin1String(command.name)};
    bool settings = false;
    for (const OptionUse& option : command.options) {
        const char* value = valueNameOf(QLatin1String(option.name));
        if (!*option.description) {
            if (!settings)
                words << QStringLiteral("[SETTINGS]");
            settings = true;
            continue;
        }
        words << (value ? QStringLiteral("[--%1 %2]")
                              .arg(QLatin1String(option.name), QLatin1String(value))
                        : QStringLiteral("[--%1]").arg(QLatin1String(option.name)));
    }
    if (*command.arguments)
        words << QLatin1String(command.arguments);
    return words.join(u' ');
}
