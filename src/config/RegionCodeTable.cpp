#include "RegionCodeTable.h"

#include "ServerSettings.h"

namespace RegionCodeTable {
namespace {

QString render(const QString& heading, const QString& entryPrefix)
{
    QString text = heading + kLineEnd + kLineEnd;
    for (const Entry& entry : kEntries) {
        if (entry.number != kEntries.front().number)
            text += kLineEnd;
        text += entryPrefix + QString::number(entry.number) + QStringLiteral(": ") +
                QString::fromLatin1(entry.name);
    }
    return text;
}

} // namespace

QString dialogText()
{
    return render(QStringLiteral("Here are the Region Numbers:"), QString());
}

QString scriptText()
{
    return render(QStringLiteral("// Here are the Region Numbers:"), QStringLiteral("//"));
}

} // namespace RegionCodeTable
