#pragma once

#include "config/ServerSettings.h"

#include <QColor>
#include <QLatin1String>
#include <QRect>
#include <array>
#include <optional>
#include <string_view>

// The design of the main window: every control with its name, kind, place and text. Places
// are in twips, 15 to the pixel at 96 dots per inch, from the top-left corner of the
// window's client area.
namespace WindowDesign {

inline constexpr int kTwipsPerPixel = 15;

struct Twips {
    int left, top, width, height;
};

constexpr QRect toPixels(Twips t)
{
    return {t.left / kTwipsPerPixel, t.top / kTwipsPerPixel, t.width / kTwipsPerPixel,
            t.height / kTwipsPerPixel};
}

inline constexpr QLatin1String kCaption{"Quorvex Server Config Creator"};
inline constexpr int kClientWidth = 6735;
inline constexpr int kClientHeight = 7590;

enum class Kind { TextBox, MultiLineTextBox, Button };

// Text boxes and buttons, in keyboard focus order. Text boxes name the setting they hold.
// A fill or text colour left out keeps the theme's own; on a fill of the design's, the
// theme's text colour gives way to black or white only where it would be unreadable.
struct FocusStop {
    const char* name;
    Kind kind;
    QLatin1String text;
    Twips place;
    SettingsMember setting;
    std::optional<QRgb> background = {};
    std::optional<QRgb> foreground = {};
};

// clang-format off
inline constexpr std::array<FocusStop, 16> kFocusStops{{
    {"Text1",      Kind::TextBox,          QLatin1String(""),            {1560,  120, 5055,  285}, &ServerSettings::serverName},
    {"Text2",      Kind::MultiLineTextBox, QLatin1String(""),            {1560,  480, 5055, 1095}, &ServerSettings::motd},
    {"Text3",      Kind::TextBox,          QLatin1String("16"),          {1560, 1680, 5055,  285}, &ServerSettings::maxClients},
    {"Text4",      Kind::TextBox,          QLatin1String("30"),          {1560, 2040, 5055,  285}, &ServerSettings::timeLimit},
    {"Text12",     Kind::TextBox,          QLatin1String(""),            {1800, 2640, 4815,  285}, &ServerSettings::connectionPassword},
    {"Text5",      Kind::TextBox,          QLatin1String("0"),           {1560, 3120, 5055,  285}, &ServerSettings::reservedSlots},
    {"Text6",      Kind::TextBox,          QLatin1String(""),            {1560, 3720, 5055,  285}, &ServerSettings::reservedPassword},
    {"Text7",      Kind::TextBox,          QLatin1String(""),            {1560, 4320, 5055,  285}, &ServerSettings::adminPassword},
    {"Text8",      Kind::TextBox,          QLatin1String(""),            {1560, 4920, 5055,  285}, &ServerSettings::rconPassword},
    {"Text9",      Kind::TextBox,          QLatin1String("0"),           {1560, 5520, 5055,  285}, &ServerSettings::region},
    {"Text10",     Kind::TextBox,          QLatin1String("quorvexmap1"), {2520, 5880, 4095,  285}, &ServerSettings::initialMap},
    {"Command1",   Kind::Button,           QLatin1String("Click here for Region Numbers"), {120, 6120, 1455, 615}, nullptr, qRgb(255, 128, 128)},
    {"Command2",   Kind::Button,           QLatin1String("Create Config"), {1680, 6240, 1455, 495}, nullptr, qRgb(192, 192, 0)},
    {"Command3",   Kind::Button,           QLatin1String("Run Config"),  {3240, 6240, 1215,  495}, nullptr, qRgb(192, 0, 192)},
    {"Text11",     Kind::TextBox,          kGameDirPlaceholder,          { 120, 6840, 6495,  285}, &ServerSettings::gameDir, qRgb(192, 0, 192), qRgb(0, 0, 0)},
    {"txtSaveCfg", Kind::TextBox,          kOutputPathPlaceholder,       { 120, 7200, 6495,  285}, &ServerSettings::outputPath, qRgb(255, 0, 0)},
}};
// clang-format on

// The place in the focus order of the control with this name. Used as a constant, a name
// that the design lacks does not compile.
consteval std::size_t stopNamed(std::string_view name)
{
    for (std::size_t stop = 0; stop < kFocusStops.size(); ++stop) {
        if (kFocusStops[stop].name == name)
            return stop;
    }
    throw "the design has no control of this name";
}

// Every setting has exactly one text box, which opens with the setting's design text;
// buttons hold none and have a fill of their own.
consteval bool focusStopsAreSound()
{
    const auto view = [](QLatin1String text) { return std::string_view(text.data(), text.size()); };
    for (const SettingsField& field : kSettingsFields) {
        int boxes = 0;
        for (const FocusStop& stop : kFocusStops) {
            if (stop.setting != field.member)
                continue;
            ++boxes;
            if (view(stop.text) != view(field.designText))
                return false;
        }
        if (boxes != 1)
            return false;
    }
    for (const FocusStop& stop : kFocusStops) {
        if ((stop.kind == Kind::Button) != (stop.setting == nullptr))
            return false;
        if (stop.kind == Kind::Button && !stop.background)
            return false;
    }
    return true;
}
static_assert(focusStopsAreSound());

// A label that fits its caption takes the caption's size on one line; one that wraps keeps
// its box and breaks the caption at spaces.
enum class Sizing { FitsCaption, Wraps };

struct Label {
    const char* name;
    QLatin1String caption;
    Twips place;
    Sizing sizing;
    std::size_t describes; // the place of its box in the focus order
};

// clang-format off
inline constexpr std::array<Label, 12> kLabels{{
    {"Label1",  QLatin1String("Server Name:"),                                 {120,  120,  975, 195}, Sizing::FitsCaption, stopNamed("Text1")},
    {"Label2",  QLatin1String("Server Description:"),                          {120,  480, 1350, 195}, Sizing::FitsCaption, stopNamed("Text2")},
    {"Label4",  QLatin1String("(Message of the Day)"),                         {120,  720, 1335, 495}, Sizing::Wraps,       stopNamed("Text2")},
    {"Label3",  QLatin1String("Maximum Clients:"),                             {120, 1680, 1215, 195}, Sizing::FitsCaption, stopNamed("Text3")},
    {"Label5",  QLatin1String("Time Limit in minutes:"),                       {120, 2040, 1335, 435}, Sizing::Wraps,       stopNamed("Text4")},
    {"Label12", QLatin1String("Connection password:"),                         {120, 2640, 1575, 195}, Sizing::FitsCaption, stopNamed("Text12")},
    {"Label6",  QLatin1String("Reserved Client Spaces (only with password):"), {120, 3000, 1335, 615}, Sizing::Wraps,       stopNamed("Text5")},
    {"Label7",  QLatin1String("Reserved Client Password:"),                    {120, 3720, 1215, 375}, Sizing::Wraps,       stopNamed("Text6")},
    {"Label8",  QLatin1String("Administrator Password:"),                      {120, 4320, 1095, 375}, Sizing::Wraps,       stopNamed("Text7")},
    {"Label9",  QLatin1String("Remote Console Password:"),                     {120, 4920, 1335, 375}, Sizing::Wraps,       stopNamed("Text8")},
    {"Label10", QLatin1String("Server Region/Location:"),                      {120, 5520, 1335, 495}, Sizing::Wraps,       stopNamed("Text9")},
    {"Label11", QLatin1String("Initial Map:"),                                 {1680, 5880, 765, 195}, Sizing::FitsCaption, stopNamed("Text10")},
}};
// clang-format on

// Straight lines, one pixel wide, from (x1, y1) to (x2, y2).
struct Line {
    const char* name;
    int x1, y1, x2, y2;
};

inline constexpr std::array<Line, 2> kLines{{
    {"Line4", 4680, 6480, 6240, 6480},
    {"Line1", 6240, 6480, 6240, 6240},
}};

} // namespace WindowDesign
