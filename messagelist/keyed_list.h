// An ordered list of values with unique text keys; positions count from 1.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarvelin {

template <typename T>
class KeyedList {
public:
    // False, and nothing appended, when the key is already present.
    bool Add(T value, std::string key) {
        auto [it, inserted] = positions_.try_emplace(key, values_.size() + 1);
        if (!inserted) return false;
        values_.push_back(std::move(value));
        keys_.push_back(std::move(key));
        return true;
    }

    std::size_t Count() const { return values_.size(); }
    const T &Item(std::size_t position) const { return values_.at(position - 1); }
    const std::string &Key(std::size_t position) const { return keys_.at(position - 1); }
    // 0 when absent.
    std::size_t PositionOf(const std::string &key) const {
        auto it = positions_.find(key);
        return it == positions_.end() ? 0 : it->second;
    }
    const std::vector<T> &Items() const { return values_; }

private:
    std::vector<T> values_;
    std::vector<std::string> keys_;
    std::unordered_map<std::string, std::size_t> positions_;
};

}  // namespace tarvelin
