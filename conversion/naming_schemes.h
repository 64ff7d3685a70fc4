// The eight naming schemes and what each front end calls them: the one table that the naming,
// the window's option buttons and the command line's --naming all read.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tarvelin {

enum class NamingOption {
    OptOriginal,
    OptSD,
    OptFSD,
    OptFSD_YMD,
    OptDFS,
    OptDFS_YMD,
    OptDFS_YMD2,
    OptDFS_MYD,
};

// Where the window puts the scheme's option button: its place in the order the arrow keys move
// through them, and its left, top and width in twips inside the options frame.
struct OptionButtonPlace {
    int order, left, top, width;
};

struct NamingScheme {
    NamingOption option;
    std::string_view name;         // the option button's name: "OptSD"
    std::string_view alias;        // a readable name for the command line: "subject-date"
    std::string_view caption;      // the option button's caption, blanks included
    std::string_view description;  // one line for a help text
    OptionButtonPlace button;
};

// In the order of NamingOption.
inline constexpr std::array<NamingScheme, 8> kNamingSchemes{{
    {NamingOption::OptOriginal, "OptOriginal", "original", "Use original file name",
     "the file's own name: abc.msg -> abc.eml.eml", {0, 0, 120, 3135}},
    {NamingOption::OptSD, "OptSD", "subject-date", "subject + date (DD-MM-YYYY)", "subject + date (DD-MM-YYYY)",
     {1, 0, 480, 3135}},
    {NamingOption::OptFSD, "OptFSD", "from-subject-date", "from + subject + date (DD-MM-YYYY)",
     "from + subject + date (DD-MM-YYYY)", {2, 0, 840, 3735}},
    {NamingOption::OptFSD_YMD, "OptFSD_YMD", "from-subject-ymd", "from + subject + date (YYYY-MM-DD)",
     "from + subject + date (YYYY-MM-DD)", {6, 0, 1200, 3735}},
    {NamingOption::OptDFS, "OptDFS", "date-from-subject", "date (DD-MM-YYYY) + from + subject",
     "date (DD-MM-YYYY) + from + subject", {3, 3840, 120, 3135}},
    {NamingOption::OptDFS_YMD, "OptDFS_YMD", "ymd-subject-from", "date (YYYY-MM-DD) + subject + from ",
     "date (YYYY-MM-DD) + subject + from", {4, 3840, 480, 3135}},
    {NamingOption::OptDFS_YMD2, "OptDFS_YMD2", "ymd-from-subject", "date (YYYY-MM-DD) + from + subject",
     "date (YYYY-MM-DD) + from + subject", {5, 3840, 840, 3375}},
    {NamingOption::OptDFS_MYD, "OptDFS_MYD", "mdy-subject-from", "date (MM-DD-YYYY) + subject + from",
     "date (MM-DD-YYYY) + subject + from", {7, 3840, 1200, 3375}},
}};

// The option must be one of the eight.
const NamingScheme &NamingSchemeOf(NamingOption option);

// "OptSD", ...; empty for a value outside the eight.
std::string_view NamingOptionName(NamingOption option);
// The option whose name or alias this is, in any letter case.
std::optional<NamingOption> NamingOptionFromName(std::string_view name);
// Whether the scheme uses the message's fields (all but OptOriginal).
bool UsesMessageFields(NamingOption option);

}  // namespace tarvelin
