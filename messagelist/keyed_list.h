// An ordered list of values, each with a unique key number; positions count from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tarvelin {

// Key numbers rise from entry to entry. The folder walker numbers its entries upwards, so a key
// that does not rise is one already present (a second walk over the same lists), and refusing it
// needs no index: a key costs its number.
template <typename T>
class KeyedList {
public:
    // False, and nothing appended, when the number is not above that of the last entry.
    bool Add(T value, std::int64_t keyNumber) {
        if (!keyNumbers_.empty() && keyNumber <= keyNumbers_.back()) return false;
        values_.push_back(std::move(value));
        keyNumbers_.push_back(keyNumber);
        return true;
    }

    std::size_t Count() const { return values_.size(); }
    const T &Item(std::size_t position) const { return values_.at(position - 1); }
    const std::vector<T> &Items() const { return values_; }

private:
    std::vector<T> values_;
    std::vector<std::int64_t> keyNumbers_;
};

}  // namespace tarvelin
