// Mailbox names in IMAP's modified UTF-7 (RFC 3501, 5.1.3), the form Maildir servers read from
// the folder names on disk.
#pragma once

#include <string>
#include <string_view>

namespace tarvelin {

// Printable ASCII stays (a "&" becomes "&-"); every other run of characters becomes "&", its
// UTF-16 units in base64 with "," for "/" and no padding, and "-". A byte that is no valid UTF-8
// is taken as the Latin-1 character of its value, so distinct names stay distinct.
std::string ImapUtf7FromUtf8(std::string_view text);

}  // namespace tarvelin
