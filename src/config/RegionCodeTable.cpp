#include "RegionCodeTable.h"

namespace RegionCodeTable {
namespace {

QString render(const QString& heading, const QString& entryPrefix)
{
    QString text = heading + QStringLiteral("\r\n\r\n");
    for (const Entry& entry : kEntries) {
        if (entry.number != kEntries.front().number)
            text += QStringLiteral("\r\n");
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
