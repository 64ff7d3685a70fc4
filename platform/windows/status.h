// Status from the Windows error codes.
#pragma once

#include <string_view>

#include "platform/status.h"

namespace tarvelin {

// Status::FromErrno for GetLastError(): the common errors read as their POSIX twins do.
Status StatusFromWin32(unsigned long err, std::string_view what);

}  // namespace tarvelin
