#include "messagelist/text_blocks.h"

#include <algorithm>
#include <cstring>

namespace tarvelin {

namespace {
constexpr std::size_t kBlockBytes = 256 * 1024;
}

char *TextBlocks::Allocate(std::size_t size) {
    if (blocks_.empty() || blockSize_ - blockUsed_ < size) {
        // A text longer than a block gets a block of its own size; the rest of the old block is
        // left unused, which costs at most one text per block.
        blockSize_ = std::max(kBlockBytes, size);
        blocks_.push_back(std::make_unique<char[]>(blockSize_));
        blockFirst_.push_back(entries_.size());
        blockUsed_ = 0;
    }
    char *place = blocks_.back().get() + blockUsed_;
    blockUsed_ += size;
    return place;
}

void TextBlocks::push_back(std::string_view text) {
    char *place = Allocate(text.size());
    if (!text.empty()) std::memcpy(place, text.data(), text.size());
    entries_.push_back(Entry{place, text.size()});
}

void TextBlocks::ReleaseUpTo(std::size_t count) {
    // The last block is still being filled.
    while (released_ + 1 < blocks_.size() && blockFirst_[released_ + 1] <= count) blocks_[released_++].reset();
}

void TextBlocks::clear() {
    entries_.clear();
    entries_.shrink_to_fit();
    blocks_.clear();
    blockFirst_.clear();
    released_ = 0;
    blockUsed_ = 0;
    blockSize_ = 0;
}

}  // namespace tarvelin
