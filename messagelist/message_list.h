// The ordered list of message paths the next run converts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "messagelist/text_blocks.h"

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

    // Room for this many entries in all.
    void Reserve(std::size_t count) { entries_.reserve(count); }

private:
    TextBlocks entries_;
};

}  // namespace tarvelin
