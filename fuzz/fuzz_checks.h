// The invariants that the fuzz targets check on one input, shared with the regression test that
// replays the seed corpus and every crash found. Each check answers the empty text when every
// invariant holds, else what broke.
#pragma once

#include <string>
#include <string_view>

namespace tarvelin::fuzz {

// Loads the bytes as a message file (twice, to see the same fields both times) and names the
// message by every scheme.
std::string CheckMessageBytes(std::string_view bytes);

// Names one message from fields given as bytes: an option byte, four date bytes, two counter
// bytes, then the subject, the sender, the source path and names already taken in the output
// folder, each ended by a 0xFF byte. Missing fields are empty.
std::string CheckNamingInput(std::string_view bytes);

}  // namespace tarvelin::fuzz
