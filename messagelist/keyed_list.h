// An ordered list of values with unique text keys; positions count from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvelin {

// Built to hold hundreds of thousands of entries cheaply: the keys share one text buffer, and the
// index is an open-addressing table of positions, with no heap node per entry.
template <typename T>
class KeyedList {
public:
    // False, and nothing appended, when the key is already present.
    bool Add(T value, std::string_view key) {
        if ((values_.size() + 1) * 2 > slots_.size()) Grow();
        const std::size_t slot = FindSlot(key);
        if (slots_[slot] != 0) return false;
        slots_[slot] = static_cast<Position>(values_.size() + 1);
        MakeRoom(values_);
        MakeRoom(keyEnds_);
        values_.push_back(std::move(value));
        keyText_.append(key);
        keyEnds_.push_back(static_cast<Offset>(keyText_.size()));
        return true;
    }

    std::size_t Count() const { return values_.size(); }
    const T &Item(std::size_t position) const { return values_.at(position - 1); }
    std::string_view Key(std::size_t position) const {
        const std::size_t end = keyEnds_.at(position - 1);
        const std::size_t begin = position == 1 ? 0 : keyEnds_[position - 2];
        return std::string_view(keyText_).substr(begin, end - begin);
    }
    // 0 when absent.
    std::size_t PositionOf(std::string_view key) const {
        if (slots_.empty()) return 0;
        return slots_[FindSlot(key)];
    }
    const std::vector<T> &Items() const { return values_; }

private:
    // Four billion entries, or bytes of keys, are more than memory holds.
    using Position = std::uint32_t;
    using Offset = std::uint32_t;

    // Keys made of a text and a running number, as the folder walker writes them ("K1", "K2", ...),
    // get neighbouring slots: the text is hashed and the number added, so appending in order walks
    // the table front to back instead of touching a far cache line per key. Keys without a number
    // hash like any text.
    static std::size_t Hash(std::string_view key) {
        std::size_t digitsFrom = key.size();
        while (digitsFrom > 0 && key[digitsFrom - 1] >= '0' && key[digitsFrom - 1] <= '9') --digitsFrom;
        std::size_t hash = 14695981039346656037ull;  // FNV-1a
        for (std::size_t i = 0; i < digitsFrom; ++i) {
            hash ^= static_cast<unsigned char>(key[i]);
            hash *= 1099511628211ull;
        }
        std::size_t number = 0;
        for (std::size_t i = digitsFrom; i < key.size(); ++i) number = number * 10 + (key[i] - '0');
        return hash + number;
    }

    // The slot holding the key, or the empty slot where it belongs.
    std::size_t FindSlot(std::string_view key) const {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = Hash(key) & mask;; slot = (slot + 1) & mask) {
            const Position position = slots_[slot];
            if (position == 0 || Key(position) == key) return slot;
        }
    }

    // Grows fourfold rather than twofold: every growth moves the whole list into new memory, while
    // room reserved but not yet filled is mostly address space, not pages.
    template <typename V>
    static void MakeRoom(std::vector<V> &items) {
        if (items.size() == items.capacity()) items.reserve(items.empty() ? 16 : items.size() * 4);
    }

    // Keeps the table at most half full, so a probe soon meets an empty slot.
    void Grow() {
        std::vector<Position> slots(slots_.empty() ? 16 : slots_.size() * 2, 0);
        const std::size_t mask = slots.size() - 1;
        for (std::size_t position = 1; position <= values_.size(); ++position) {
            std::size_t slot = Hash(Key(position)) & mask;
            while (slots[slot] != 0) slot = (slot + 1) & mask;
            slots[slot] = static_cast<Position>(position);
        }
        slots_ = std::move(slots);
    }

    std::vector<T> values_;
    std::string keyText_;               // every key, back to back
    std::vector<Offset> keyEnds_;       // where each key ends in keyText_
    std::vector<Position> slots_;       // 0: empty; else a position
};

}  // namespace tarvelin
