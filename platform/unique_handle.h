// Owns one system resource (a descriptor, a handle): closes it once, moves, and holds the traits'
// empty value when it owns nothing. Each half of the platform layer gives the traits of its kinds.
#pragma once

#include <utility>

namespace tarvelin {

// Traits: `Value`, `Empty()` (what an owner holds when it owns nothing), `Usable(value)`, and a
// noexcept `Close(value)`.
template <typename Traits>
class UniqueHandle {
public:
    using Value = typename Traits::Value;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Value value) noexcept : value_(Adopt(value)) {}
    UniqueHandle(UniqueHandle &&other) noexcept : value_(other.release()) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    ~UniqueHandle() { reset(); }

    Value get() const noexcept { return value_; }
    bool valid() const noexcept { return Traits::Usable(value_); }
    // Hands the resource over (to fdopendir, say); this owns nothing afterwards.
    Value release() noexcept { return std::exchange(value_, Traits::Empty()); }
    void reset(Value value = Traits::Empty()) noexcept {
        if (Traits::Usable(value_)) Traits::Close(value_);
        value_ = Adopt(value);
    }

private:
    static Value Adopt(Value value) noexcept { return Traits::Usable(value) ? value : Traits::Empty(); }

    Value value_ = Traits::Empty();
};

}  // namespace tarvelin
