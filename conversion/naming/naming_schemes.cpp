#include "conversion/naming/naming_schemes.h"

#include "platform/ascii_case.h"

namespace tarvelin {

static_assert([] {
    for (std::size_t i = 0; i < kNamingSchemes.size(); ++i)
        if (static_cast<std::size_t>(kNamingSchemes[i].option) != i) return false;
    return true;
}(), "kNamingSchemes is indexed by NamingOption");

std::optional<NamingOption> NamingOptionFromName(std::string_view name) {
    for (const NamingScheme &scheme : kNamingSchemes) {
        if (EqualsIgnoringAsciiCase(name, scheme.name) || EqualsIgnoringAsciiCase(name, scheme.alias))
            return scheme.option;
    }
    return std::nullopt;
}

bool UsesMessageFields(NamingOption option) { return option != NamingOption::OptOriginal; }

}  // namespace tarvelin
