#include "conversion/naming_schemes.h"

#include "platform/ascii_case.h"

namespace tarvelin {

static_assert([] {
    for (std::size_t i = 0; i < kNamingSchemes.size(); ++i)
        if (static_cast<std::size_t>(kNamingSchemes[i].option) != i) return false;
    return true;
}(), "kNamingSchemes is indexed by NamingOption");

static_assert([] {
    unsigned seen = 0;
    for (const NamingScheme &scheme : kNamingSchemes) seen |= 1u << scheme.button.order;
    return seen == (1u << kNamingSchemes.size()) - 1;
}(), "every option button has its own place in the order");

const NamingScheme &NamingSchemeOf(NamingOption option) { return kNamingSchemes[static_cast<std::size_t>(option)]; }

std::string_view NamingOptionName(NamingOption option) {
    const auto index = static_cast<std::size_t>(option);
    return index < kNamingSchemes.size() ? kNamingSchemes[index].name : std::string_view();
}

std::optional<NamingOption> NamingOptionFromName(std::string_view name) {
    for (const NamingScheme &scheme : kNamingSchemes) {
        if (EqualsIgnoringAsciiCase(name, scheme.name) || EqualsIgnoringAsciiCase(name, scheme.alias))
            return scheme.option;
    }
    return std::nullopt;
}

bool UsesMessageFields(NamingOption option) { return option != NamingOption::OptOriginal; }

}  // namespace tarvelin
