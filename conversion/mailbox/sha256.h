// SHA-256 (FIPS 180-4), for names that must stay the same for the same input on every run.
#pragma once

#include <string>
#include <string_view>

namespace tarvelin {

// The digest in lower-case hex (64 characters).
std::string Sha256Hex(std::string_view bytes);

}  // namespace tarvelin
