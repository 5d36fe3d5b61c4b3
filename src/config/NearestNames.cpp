#include "NearestNames.h"

#include <QList>
#include <algorithm>

qsizetype editDistance(const QString& a, const QString& b)
{
    QList<qsizetype> row(b.size() + 1);
    for (qsizetype j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (qsizetype i = 1; i <= a.size(); ++i) {
        qsizetype diagonal = row[0];
        row[0] = i;
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

QStringList nearestNames(const QString& name, const QStringList& known, qsizetype count)
{
    const QString lower = name.toLower();
    const qsizetype most = std::max<qsizetype>(2, lower.size() / 3);
    QList<std::pair<qsizetype, QString>> near;
    for (const QString& each : known) {
        if (const qsizetype d = editDistance(lower, each.toLower()); d <= most)
            near.append({d, each});
    }
    std::sort(near.begin(), near.end());
    QStringList names;
    for (const auto& [distance, each] : near.first(std::min(count, near.size())))
        names << each;
    return names;
}
