// Where the window puts the naming schemes' option buttons, in twips inside the options frame.
#pragma once

#include <array>

#include "conversion/naming/naming_schemes.h"

namespace tarvelin {

struct OptionButtonPlace {
    NamingOption option;
    int left, top, width;
};

// In the order the arrow keys move through them, which is also the order of tabbing.
inline constexpr std::array<OptionButtonPlace, kNamingSchemes.size()> kOptionButtons{{
    {NamingOption::OptOriginal, 0, 120, 3135},
    {NamingOption::OptSD, 0, 480, 3135},
    {NamingOption::OptFSD, 0, 840, 3735},
    {NamingOption::OptDFS, 3840, 120, 3135},
    {NamingOption::OptDFS_YMD, 3840, 480, 3135},
    {NamingOption::OptDFS_YMD2, 3840, 840, 3375},
    {NamingOption::OptFSD_YMD, 0, 1200, 3735},
    {NamingOption::OptDFS_MYD, 3840, 1200, 3375},
}};

static_assert([] {
    unsigned seen = 0;
    for (const OptionButtonPlace &place : kOptionButtons) seen |= 1u << static_cast<unsigned>(place.option);
    return seen == (1u << kNamingSchemes.size()) - 1;
}(), "every scheme has one option button");

}  // namespace tarvelin
