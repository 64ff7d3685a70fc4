#include "messagelist/message_list.h"

namespace tarvelin {

void MessageList::AddFileToList(std::string_view path) { entries_.push_back(path); }

void MessageList::ResetFileList() { entries_.clear(); }

std::string_view MessageList::RowText(std::size_t row) const {
    if (row >= entries_.size()) return {};
    return entries_[row];
}

std::string MessageList::CountText() const { return std::to_string(entries_.size()) + " files"; }

}  // namespace tarvelin
