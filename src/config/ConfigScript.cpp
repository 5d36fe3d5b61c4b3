#include "ConfigScript.h"

#include "RegionCodeTable.h"

#include <cmath>
#include <limits>

namespace {

const QString kBannerRule = QStringLiteral("// =====================================");

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Numeric boxes left empty are written as 0; anything else is written as typed.
QString valueOr0(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("0") : text;
}

} // namespace

std::optional<qint16> toInteger16(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    // The default floating-point rounding mode takes halves to the even neighbour.
    const double rounded = std::nearbyint(value);
    if (rounded < std::numeric_limits<qint16>::min() ||
        rounded > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<qint16>(rounded);
}

void ConfigScript::AddCfgLine(const QString& text, qint16 addLineEnd)
{
    m_strCfg += text;
    if (addLineEnd == True)
        m_strCfg += kLineEnd;
}

void ConfigScript::addPasswordSetting(const QString& comment, const QString& variable,
                                      const QString& password)
{
    AddCfgLine(comment);
    if (!password.isEmpty())
        AddCfgLine(QStringLiteral("set ") + variable + QLatin1Char(' ') + quoted(password));
    else
        AddCfgLine(QStringLiteral("//set ") + variable + QStringLiteral(" \"\""));
    m_strCfg += kLineEnd;
}

QString rotationStep(int step, const QString& map, int steps)
{
    return QStringLiteral("set d%1 \"map %2; set nextmap vstr d%3\"")
        .arg(step)
        .arg(map)
        .arg(step == steps ? 1 : step + 1);
}

void ConfigScript::build(const ServerSettings& settings, const QStringList& rotation)
{
    m_strCfg.clear();
    AddCfgLine(kBannerRule);
    AddCfgLine(QStringLiteral("//   CREATED BY GRELT'S CONFIG CREATOR   "));
    AddCfgLine(kBannerRule);
    m_strCfg += kLineEnd;
    m_strCfg += kLineEnd;

    AddCfgLine(QStringLiteral("// Sets your server name"));
    AddCfgLine(QStringLiteral("set sv_hostname ") + quoted(settings.serverName));
    m_strCfg += kLineEnd;

    AddCfgLine(QStringLiteral("// Sets your message of the day"));
    AddCfgLine(QStringLiteral("set g_motd ") + quoted(settings.motd));
    m_strCfg += kLineEnd;

    AddCfgLine(QStringLiteral("// Sets the maximum amount of clients on your server"));
    AddCfgLine(QStringLiteral("set sv_maxclients ") + valueOr0(settings.maxClients));
    m_strCfg += kLineEnd;

    AddCfgLine(QStringLiteral("// Sets the time limit of a map so that another map can start.  "
                              "Quorvex does not support a frag limit."));
    AddCfgLine(QStringLiteral("set timelimit ") + valueOr0(settings.timeLimit));
    m_strCfg += kLineEnd;

    AddCfgLine(QStringLiteral("// Sets the amount of reserved client spaces"));
    AddCfgLine(QStringLiteral("set sv_privateClients ") + valueOr0(settings.reservedSlots));
    m_strCfg += kLineEnd;

    addPasswordSetting(QStringLiteral("// Sets the reserved client password"),
                       QStringLiteral("sv_privatePassword"), settings.reservedPassword);
    addPasswordSetting(QStringLiteral("// Sets the administrator password"),
                       QStringLiteral("g_adminPass"), settings.adminPassword);
    addPasswordSetting(QStringLiteral("// Sets the remote console password"),
                       QStringLiteral("rconPassword"), settings.rconPassword);
    addPasswordSetting(QStringLiteral("// Sets the password users have to specify when they "
                                      "connect or they will get an \"Invalid Password.\" message"),
                       QStringLiteral("Password"), settings.connectionPassword);

    AddCfgLine(QStringLiteral("// Sets your server region code"));
    m_strCfg += kLineEnd;
    AddCfgLine(RegionCodeTable::scriptText());
    // A region that is not a 16-bit number leaves the whole location line out.
    if (const std::optional<qint16> region = toInteger16(settings.region))
        AddCfgLine(QStringLiteral("set location ") + QString::number(*region));
    m_strCfg += kLineEnd;

    if (!rotation.isEmpty()) {
        AddCfgLine(QStringLiteral("// Sets the maps that follow the initial map, in turn"));
        const QStringList maps = QStringList{settings.initialMap} + rotation;
        for (qsizetype i = 0; i < maps.size(); ++i)
            AddCfgLine(rotationStep(int(i + 1), maps[i], int(maps.size())));
        m_strCfg += kLineEnd;
    }

    AddCfgLine(QStringLiteral("// Sets your initial map"));
    AddCfgLine(QStringLiteral("map ") + settings.initialMap, False);
    if (!rotation.isEmpty()) {
        m_strCfg += kLineEnd;
        AddCfgLine(QStringLiteral("set nextmap \"vstr d2\""), False);
    }
}
