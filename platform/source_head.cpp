#include "platform/source_head.h"

#include <algorithm>

namespace tarvelin {

Status ReadHead(SourceHead &head, const ReadSlice &read, const std::function<Status(std::string_view)> &took) {
    // Large enough that a typical header arrives in one read, small enough that the body bytes read
    // past the blank line cost next to nothing.
    constexpr std::size_t kHeadSlice = 16 * 1024;
    std::string &bytes = head.bytes;
    bytes.clear();
    while (bytes.size() < head.limit) {
        const std::size_t before = bytes.size();
        bytes.resize(before + std::min(kHeadSlice, head.limit - before));
        std::size_t got = 0;
        const Status status = read(bytes.data() + before, bytes.size() - before, got);
        bytes.resize(before + got);
        if (!status) return status;
        if (took) {
            if (Status taken = took(std::string_view(bytes).substr(before)); !taken) return taken;
        }
        if (got == 0 || head.complete(bytes, before)) break;
    }
    return Status::Ok();
}

}  // namespace tarvelin
