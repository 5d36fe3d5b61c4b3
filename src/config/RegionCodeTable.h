#pragma once

#include <QString>
#include <array>

// The server region numbers that the "location" setting expects.
namespace RegionCodeTable {

struct Entry {
    int number;
    const char* name;
};

inline constexpr std::array<Entry, 13> kEntries{{
    {0, "Unspecified Region"},
    {1, "Southeastern U.S."},
    {2, "Western U.S."},
    {3, "Midwestern U.S."},
    {4, "Northwestern U.S., Western Canada"},
    {5, "Northeastern U.S., Eastern Canada"},
    {6, "United Kingdom"},
    {7, "Continental Europe"},
    {8, "Central Asia, Middle East"},
    {9, "Southeastern Asia, Pacific"},
    {10, "Africa"},
    {11, "Australia, New Zealand, or Pacific"},
    {12, "Central, South America"},
}};

// The table as shown in the Region Codes message box. Lines end in CR LF, the last has none.
QString dialogText();

// The table as comment lines of the server script. Lines end in CR LF, the last has none.
QString scriptText();

} // namespace RegionCodeTable
