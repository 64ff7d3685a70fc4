// An ordered list of values, each with a unique key number; positions count from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "messagelist/text_blocks.h"

namespace tarvelin {

// Key numbers rise from entry to entry. The folder walker numbers its entries upwards, so a key
// that does not rise is one already present (a second walk over the same lists), and refusing it
// needs no index, only the last number. Texts sit in shared blocks, so that a list of a million
// paths costs their bytes and little more.
template <typename T>
class KeyedList {
public:
    // False, and nothing appended, when the number is not above that of the last entry.
    bool Add(T value, std::int64_t keyNumber) {
        if (values_.size() > 0 && keyNumber <= lastKey_) return false;
        values_.push_back(std::move(value));
        lastKey_ = keyNumber;
        return true;
    }

    std::size_t Count() const { return values_.size(); }
    // A std::string_view for a list of texts.
    decltype(auto) Item(std::size_t position) const {
        if (position == 0 || position > values_.size()) throw std::out_of_range("no such position");
        return values_[position - 1];
    }
    // The first `count` values will not be read again (texts only): their memory may go.
    void ReleaseUpTo(std::size_t count)
        requires std::is_same_v<T, std::string>
    {
        values_.ReleaseUpTo(count);
    }

private:
    std::conditional_t<std::is_same_v<T, std::string>, TextBlocks, std::vector<T>> values_;
    std::int64_t lastKey_ = 0;
};

}  // namespace tarvelin
