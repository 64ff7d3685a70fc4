// One field's value as GMime's message parser gives it, decoded with the fewest of its calls.
// Private to the header reader: it includes GMime.
#pragma once

#include <gmime/gmime.h>

#include <string>
#include <string_view>

namespace tarvelin {

// The value the parser gives a field: its raw text unfolded, encoded words decoded.
std::string DecodedValue(std::string_view raw, GMimeParserOptions *options);

// The list as internet_address_list_to_string writes it unencoded (display names stay decoded
// UTF-8, nothing is folded), with the mailboxes whose domain needs no IDN look-up written here:
// the look-up costs more than the rest of the header's read.
std::string WrittenAddresses(InternetAddressList *list);

}  // namespace tarvelin
