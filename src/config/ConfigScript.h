#pragma once

#include "ServerSettings.h"

#include <QString>
#include <QStringList>
#include <optional>

// Converts text to a 16-bit signed integer the way the region box is read: surrounding
// white space is allowed and a fraction goes to the nearest integer, halves to the even
// neighbour. Empty text, text that is not a number and numbers outside -32768..32767 give
// no value.
std::optional<qint16> toInteger16(const QString& text);

// The rotation's steps are d1 for the initial map and d2 on, so that the game's fall back to
// vstr d1, after anything resets nextmap, starts the rotation over.
inline constexpr qsizetype kMostRotationMaps = 64;

// The step of a rotation of steps maps that loads map and names the next step.
QString rotationStep(int step, const QString& map, int steps);

// Builds the commented server configuration script from the settings, with rotation, the
// maps that follow the initial map in turn. The script text, strCfg, lives as long as this
// object and is replaced by every build.
class ConfigScript {
public:
    void build(const ServerSettings& settings, const QStringList& rotation = {});
    const QString& strCfg() const { return m_strCfg; }

private:
    // Booleans between the builder's steps are 16-bit, True being -1.
    static constexpr qint16 True = -1;
    static constexpr qint16 False = 0;

    void AddCfgLine(const QString& text, qint16 addLineEnd = True);
    void addPasswordSetting(const QString& comment, const QString& variable,
                            const QString& password);

    QString m_strCfg;
};
