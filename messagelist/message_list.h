// The ordered list of message paths the next run converts.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvelin {

class MessageList {
public:
    // Appends the path exactly as given: no trimming, no normalisation, duplicates kept.
    void AddFileToList(std::string_view path);
    // Empties the list.
    void ResetFileList();

    std::size_t EntryCount() const { return entries_.size(); }
    bool IsEmpty() const { return entries_.empty(); }

    // The list as the run and the grid read it: the empty list is one row holding "".
    std::size_t RowCount() const { return entries_.empty() ? 1 : entries_.size(); }
    std::string_view RowText(std::size_t row) const;

    // "0 files", "1 files", "12 files".
    std::string CountText() const;

private:
    // Paths live in large shared blocks so that an entry costs its bytes plus one small index
    // record, not a heap allocation of its own.
    struct Entry {
        const char *data;
        std::size_t size;
    };
    char *Allocate(std::size_t size);

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t blockUsed_ = 0;
    std::size_t blockSize_ = 0;
    std::vector<Entry> entries_;
};

}  // namespace tarvelin
