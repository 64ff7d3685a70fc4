// Owns a Windows handle: closes it once, moves, and holds nothing when empty. Kept free of
// windows.h, whose macros (CopyFile, CreateDirectory, ...) would rename the core's own functions.
#pragma once

#include <utility>

namespace tarvelin {

void CloseFileHandle(void *handle) noexcept;  // CloseHandle
void CloseFindHandle(void *handle) noexcept;  // FindClose

template <void (*Close)(void *) noexcept>
class BasicUniqueHandle {
public:
    BasicUniqueHandle() noexcept = default;
    explicit BasicUniqueHandle(void *handle) noexcept : handle_(Usable(handle) ? handle : nullptr) {}
    BasicUniqueHandle(BasicUniqueHandle &&other) noexcept : handle_(other.release()) {}
    BasicUniqueHandle &operator=(BasicUniqueHandle &&other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    BasicUniqueHandle(const BasicUniqueHandle &) = delete;
    BasicUniqueHandle &operator=(const BasicUniqueHandle &) = delete;
    ~BasicUniqueHandle() { reset(); }

    void *get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != nullptr; }
    void *release() noexcept { return std::exchange(handle_, nullptr); }
    void reset(void *handle = nullptr) noexcept {
        if (handle_ != nullptr) Close(handle_);
        handle_ = Usable(handle) ? handle : nullptr;
    }

private:
    // INVALID_HANDLE_VALUE is -1; some calls give it, others give null.
    static bool Usable(void *handle) noexcept {
        return handle != nullptr && handle != reinterpret_cast<void *>(static_cast<long long>(-1));
    }

    void *handle_ = nullptr;
};

using UniqueHandle = BasicUniqueHandle<CloseFileHandle>;
using UniqueFindHandle = BasicUniqueHandle<CloseFindHandle>;

}  // namespace tarvelin
