// Windows handles in the one owner. Kept free of windows.h, whose macros (CreateDirectory,
// Yield, ...) would rename the core's own functions.
#pragma once

#include "platform/unique_handle.h"

namespace tarvelin {

void CloseFileHandle(void *handle) noexcept;  // CloseHandle
void CloseFindHandle(void *handle) noexcept;  // FindClose

template <void (*CloseCall)(void *) noexcept>
struct Win32HandleTraits {
    using Value = void *;
    static constexpr Value Empty() noexcept { return nullptr; }
    // INVALID_HANDLE_VALUE is -1; some calls give it, others give null.
    static bool Usable(Value handle) noexcept {
        return handle != nullptr && handle != reinterpret_cast<void *>(static_cast<long long>(-1));
    }
    static void Close(Value handle) noexcept { CloseCall(handle); }
};

using UniqueFileHandle = UniqueHandle<Win32HandleTraits<CloseFileHandle>>;
using UniqueFindHandle = UniqueHandle<Win32HandleTraits<CloseFindHandle>>;

}  // namespace tarvelin
