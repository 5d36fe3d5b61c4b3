#pragma once

#include <QByteArray>
#include <QList>

// The console's status as the engine prints it for four clients, in the packets of its remote
// console's reply: colour codes, a name with spaces, a client that connects (in Quake3e's
// word) and one that leaves (in ioquake3's), a name that differs from another only in case,
// and an IPv6 address.
inline QList<QByteArray> standInStatus()
{
    return {"map: q3dm17\ncl score ping name            address                                 "
            "rate \n-- ----- ---- --------------- --------------------------------------- "
            "-----\n  0    12   48 ^1Red^7Fox         ^7127.0.0.1:27961",
            "                         25000\n  1    -3 CNCT A Name with^7 spaces^7[::1]:27962 "
            "90000\n  2     0  ZMB ^^77seven     ^7bot 0\n 11     5    9 redfox  ^7loopback "
            "3000\n\n"};
}
