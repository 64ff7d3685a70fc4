// Many short texts (paths) in large shared blocks: each costs its bytes and one small record
// instead of a heap allocation of its own, so a list of a million paths stays small.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvelin {

// Named as the standard containers name their members, so that KeyedList holds either alike.
class TextBlocks {
public:
    void push_back(std::string_view text);
    std::string_view operator[](std::size_t index) const { return {entries_[index].data, entries_[index].size}; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    // Room for this many texts in all, so that a list grown to a known length is not grown twice.
    void reserve(std::size_t count) { entries_.reserve(count); }
    void clear();
    // The first `count` texts will not be read again: the blocks that hold nothing else are freed,
    // so that a list copied into another in order never exists twice over.
    void ReleaseUpTo(std::size_t count);

private:
    struct Entry {
        const char *data;
        std::size_t size;
    };
    char *Allocate(std::size_t size);

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::vector<std::size_t> blockFirst_;  // the index of each block's first text
    std::size_t released_ = 0;             // blocks freed, from the first
    std::size_t blockUsed_ = 0;
    std::size_t blockSize_ = 0;
    std::vector<Entry> entries_;
};

}  // namespace tarvelin
