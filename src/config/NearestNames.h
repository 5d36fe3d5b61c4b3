#pragma once

#include <QString>
#include <QStringList>

// The number of single-character insertions, deletions and substitutions that make a b.
qsizetype editDistance(const QString& a, const QString& b);

// Up to count of the known names nearest to a mistyped one, ignoring case, nearest first:
// those within a third of its length in edits, at least two.
QStringList nearestNames(const QString& name, const QStringList& known, qsizetype count = 3);
