// The text of a From field that holds one plain mailbox, written without GMime's address parser:
// parsing it into objects and writing it back (with an IDN look-up of its domain) costs more than
// the rest of a small header's read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvelin {

// What GMime 3.2 gives for `raw` (a From field's raw value) through internet_address_list_parse
// in loose mode and internet_address_list_to_string unencoded, for the values whose result can
// be told without it: `addr`, `words <addr>` or `"quoted" <addr>`, all ASCII, no '=', no comment,
// no fold, a domain of letters, digits and hyphens with no "xn--" label. Nothing for any other
// value, which then goes to GMime.
std::optional<std::string> PlainSenderText(std::string_view raw);

// Whether GMime writes the addr-spec `address` as it stands: its domain, after the last '@', is
// ASCII letters, digits and hyphens with no "xn--" label, which its IDN look-up leaves alone.
bool DomainWrittenAsIs(std::string_view address);

}  // namespace tarvelin
