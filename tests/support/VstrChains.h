#pragma once

#include <QByteArray>

// A rotation of 1,024 steps, d1 to d1024, each loading its map and running a chain of
// vstrs c1 to c<links>: the costliest shape of script that the reading's budget bounds.
inline QByteArray vstrChainRotation(int links)
{
    QByteArray script;
    for (int i = 1; i < links; ++i)
        script +=
            "set c" + QByteArray::number(i) + " \"vstr c" + QByteArray::number(i + 1) + "\"\n";
    for (int i = 1; i <= 1024; ++i)
        script += "set d" + QByteArray::number(i) + " \"map q" + QByteArray::number(i) +
                  "; vstr c1; set nextmap vstr d" + QByteArray::number(i + 1) + "\"\n";
    return script + "vstr d1\n";
}
