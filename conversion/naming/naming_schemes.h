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

struct NamingScheme {
    NamingOption option;
    std::string_view name;         // the option button's name: "OptSD"
    std::string_view alias;        // a readable name for the command line: "subject-date"
    std::string_view caption;      // the option button's caption, blanks included
    std::string_view description;  // one line for a help text
};

// In the order of NamingOption.
inline constexpr std::array<NamingScheme, 8> kNamingSchemes{{
    {NamingOption::OptOriginal, "OptOriginal", "original", "Use original file name",
     "the file's own name: abc.msg -> abc.eml.eml"},
    {NamingOption::OptSD, "OptSD", "subject-date", "subject + date (DD-MM-YYYY)", "subject + date (DD-MM-YYYY)"},
    {NamingOption::OptFSD, "OptFSD", "from-subject-date", "from + subject + date (DD-MM-YYYY)",
     "from + subject + date (DD-MM-YYYY)"},
    {NamingOption::OptFSD_YMD, "OptFSD_YMD", "from-subject-ymd", "from + subject + date (YYYY-MM-DD)",
     "from + subject + date (YYYY-MM-DD)"},
    {NamingOption::OptDFS, "OptDFS", "date-from-subject", "date (DD-MM-YYYY) + from + subject",
     "date (DD-MM-YYYY) + from + subject"},
    {NamingOption::OptDFS_YMD, "OptDFS_YMD", "ymd-subject-from", "date (YYYY-MM-DD) + subject + from ",
     "date (YYYY-MM-DD) + subject + from"},
    {NamingOption::OptDFS_YMD2, "OptDFS_YMD2", "ymd-from-subject", "date (YYYY-MM-DD) + from + subject",
     "date (YYYY-MM-DD) + from + subject"},
    {NamingOption::OptDFS_MYD, "OptDFS_MYD", "mdy-subject-from", "date (MM-DD-YYYY) + subject + from",
     "date (MM-DD-YYYY) + subject + from"},
}};

// The option whose name or alias this is, in any letter case.
std::optional<NamingOption> NamingOptionFromName(std::string_view name);
// Whether the scheme uses the message's fields (all but OptOriginal).
bool UsesMessageFields(NamingOption option);

}  // namespace tarvelin
