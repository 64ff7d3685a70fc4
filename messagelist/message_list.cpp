#include "messagelist/message_list.h"

#include <algorithm>
#include <cstring>

namespace tarvelin {

namespace {
constexpr std::size_t kBlockBytes = 256 * 1024;
}

char *MessageList::Allocate(std::size_t size) {
    if (blocks_.empty() || blockSize_ - blockUsed_ < size) {
        // A path longer than a block gets a block of its own size; the rest of the old block is
        // left unused, which costs at most one path per block.
        blockSize_ = std::max(kBlockBytes, size);
        blocks_.push_back(std::make_unique<char[]>(blockSize_));
        blockUsed_ = 0;
    }
    char *place = blocks_.back().get() + blockUsed_;
    blockUsed_ += size;
    return place;
}

void MessageList::AddFileToList(std::string_view path) {
    char *place = Allocate(path.size());
    if (!path.empty()) std::memcpy(place, path.data(), path.size());
    entries_.push_back(Entry{place, path.size()});
}

void MessageList::ResetFileList() {
    entries_.clear();
    entries_.shrink_to_fit();
    blocks_.clear();
    blockUsed_ = 0;
    blockSize_ = 0;
}

std::string_view MessageList::RowText(std::size_t row) const {
    if (row >= entries_.size()) return {};
    return {entries_[row].data, entries_[row].size};
}

std::string MessageList::CountText() const { return std::to_string(entries_.size()) + " files"; }

}  // namespace tarvelin
