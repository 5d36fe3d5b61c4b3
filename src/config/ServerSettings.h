#pragma once

#include <QString>
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

// How the operator knows each box: the caption of the label beside it, or for the two
// unlabelled path boxes a name for what they hold.
struct SettingsField {
    SettingsMember member;
    const char* caption;
};

inline constexpr std::array<SettingsField, 13> kSettingsFields{{
    {&ServerSettings::serverName, "Server Name"},
    {&ServerSettings::motd, "Server Description (Message of the Day)"},
    {&ServerSettings::maxClients, "Maximum Clients"},
    {&ServerSettings::timeLimit, "Time Limit in minutes"},
    {&ServerSettings::connectionPassword, "Connection password"},
    {&ServerSettings::reservedSlots, "Reserved Client Spaces (only with password)"},
    {&ServerSettings::reservedPassword, "Reserved Client Password"},
    {&ServerSettings::adminPassword, "Administrator Password"},
    {&ServerSettings::rconPassword, "Remote Console Password"},
    {&ServerSettings::region, "Server Region/Location"},
    {&ServerSettings::initialMap, "Initial Map"},
    {&ServerSettings::gameDir, "Game directory"},
    {&ServerSettings::outputPath, "Config output path"},
}};

QString fieldCaption(SettingsMember member);
