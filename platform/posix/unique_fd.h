// File descriptors in the one owner: -1 when it owns nothing.
#pragma once

#include <unistd.h>

#include "platform/unique_handle.h"

namespace tarvelin {

struct FdTraits {
    using Value = int;
    static constexpr int Empty() noexcept { return -1; }
    static constexpr bool Usable(int fd) noexcept { return fd >= 0; }
    static void Close(int fd) noexcept { ::close(fd); }
};

using UniqueFd = UniqueHandle<FdTraits>;

}  // namespace tarvelin
