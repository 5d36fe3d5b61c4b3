#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <array>

// The texts of the window's thirteen text boxes, exactly as typed. Nothing is trimmed,
// validated or converted when the record is filled; the values are converted where used.
struct ServerSettings {
    QString serverName;         // Text1, sv_hostname
    QString motd;               // Text2, g_motd
    QString maxClients;         // Text3, sv_maxclients
    QString timeLimit;          // Text4, timelimit
    QString reservedSlots;      // Text5, sv_privateClients
    QString reservedPassword;   // Text6, sv_privatePassword
    QString adminPassword;      // Text7, g_adminPass
    QString rconPassword;       // Text8, rconPassword
    QString connectionPassword; // Text12, Password
    QString region;             // Text9, location
    QString initialMap;         // Text10, map
    QString gameDir;            // Text11
    QString outputPath;         // txtSaveCfg

    bool operator==(const ServerSettings&) const = default;
};

// The line end of every text the tool builds: the script, the region table, the message of
// the day.
inline constexpr QLatin1String kLineEnd{"\r\n"};

// The design texts of the two path boxes; they are hints, never real paths.
inline constexpr QLatin1String kGameDirPlaceholder{"Q3 DIR HERE"};
inline constexpr QLatin1String kOutputPathPlaceholder{"CONFIG OUTPUT (EXAMPLE: C:\\MYCONF.CFG)"};

// Whether a path box holds a path the operator typed: neither empty nor its design text.
inline bool isTypedPath(const QString& text, QLatin1String placeholder)
{
    return !text.isEmpty() && text != placeholder;
}

using SettingsMember = QString ServerSettings::*;

// Each setting in the order of the boxes on the form: how the operator knows its box (the
// caption of the label beside it, or for the two unlabelled path boxes a name for what they
// hold), the server variable that the script sets from it, if any, the box's text when the
// window opens, and the command line's option for it with the name of its value.
struct SettingsField {
    SettingsMember member;
    const char* caption;
    const char* variable;
    QLatin1String designText;
    const char* option;
    const char* valueName;
};

// clang-format off
inline constexpr std::array<SettingsField, 13> kSettingsFields{{
    {&ServerSettings::serverName,         "Server Name",                                 "sv_hostname",        QLatin1String(""),            "server-name",         "NAME"},
    {&ServerSettings::motd,               "Server Description (Message of the Day)",     "g_motd",             QLatin1String(""),            "motd",                "TEXT"},
    {&ServerSettings::maxClients,         "Maximum Clients",                             "sv_maxclients",      QLatin1String("16"),          "max-clients",         "NUMBER"},
    {&ServerSettings::timeLimit,          "Time Limit in minutes",                       "timelimit",          QLatin1String("30"),          "time-limit",          "MINUTES"},
    {&ServerSettings::connectionPassword, "Connection password",                         "Password",           QLatin1String(""),            "connection-password", "PASSWORD"},
    {&ServerSettings::reservedSlots,      "Reserved Client Spaces (only with password)", "sv_privateClients",  QLatin1String("0"),           "reserved-spaces",     "NUMBER"},
    {&ServerSettings::reservedPassword,   "Reserved Client Password",                    "sv_privatePassword", QLatin1String(""),            "reserved-password",   "PASSWORD"},
    {&ServerSettings::adminPassword,      "Administrator Password",                      "g_adminPass",        QLatin1String(""),            "admin-password",      "PASSWORD"},
    {&ServerSettings::rconPassword,       "Remote Console Password",                     "rconPassword",       QLatin1String(""),            "rcon-password",       "PASSWORD"},
    {&ServerSettings::region,             "Server Region/Location",                      "location",           QLatin1String("0"),           "region",              "NUMBER"},
    {&ServerSettings::initialMap,         "Initial Map",                                 nullptr,              QLatin1String("quorvexmap1"), "map",                 "MAP"},
    {&ServerSettings::gameDir,            "Game directory",                              nullptr,              kGameDirPlaceholder,          "game-dir",            "DIR"},
    {&ServerSettings::outputPath,         "Config output path",                          nullptr,              kOutputPathPlaceholder,       "output",              "FILE"},
}};
// clang-format on

// The settings that a script sets: every one but the two paths.
inline constexpr qsizetype kScriptSettings = 11;

const SettingsField& settingsField(SettingsMember member);

QString fieldCaption(SettingsMember member);

// The texts of the boxes when the window opens.
ServerSettings designSettings();

// Whether the settings give any of the four passwords, which only their owner may then read.
bool holdsPasswords(const ServerSettings& settings);

// What to do once a problem is mended, where that is to give a command again; each face
// names its own commands.
enum class Retry { None, Run, CreateAndRun, Replace };

// Something that keeps a command from doing its work: text says what happened or what to
// change, setting is the box it concerns, which each face names its own way, or null, and
// retry the command to give again. log holds what the server printed last, if anything.
// Where the text speaks of another box, related, it stands as {related}, for the face to
// name.
struct Problem {
    Problem(SettingsMember setting, QString text, Retry retry = Retry::None, QString log = {},
            SettingsMember related = nullptr)
        : setting(setting), text(std::move(text)), retry(retry), log(std::move(log)),
          related(related)
    {
    }

    SettingsMember setting;
    QString text;
    Retry retry;
    QString log;
    SettingsMember related;

    bool operator==(const Problem&) const = default;
};
using Problems = QList<Problem>;

// A problem in a face's words: the setting's name first, then the text with the related
// setting's name, the face's words for the retry and the server's last lines.
QString worded(const Problem& problem, QString (*name)(SettingsMember),
               const std::array<QLatin1String, 4>& retryWords);

// A problem as the window words it: the box's caption first, the buttons to click again.
QString captioned(const Problem& problem);
QStringList captioned(const Problems& problems);
