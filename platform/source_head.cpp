#include "platform/source_head.h"

#include <algorithm>

namespace tarvelin {

Status ReadHead(SourceHead &head, const ReadSlice &read, const std::function<Status(std::string_view)> &took) {
    // Large enough that a typical header arrives in one read, small enough that the body bytes read
    // past the blank line cost next to nothing.
    constexpr std::size_t kHeadSlice = 16 * 1024;
    // The first slice lands in a buffer the thread keeps, as most heads end in it: a block of
    // 16 KiB taken and given back for every message costs the allocator more than the read.
    // Plain bytes, with nothing to destroy: on MinGW a thread's own object is freed before its
    // destructor runs.
    thread_local char firstSlice[kHeadSlice];
    std::string &bytes = head.bytes;
    bytes.clear();
    while (bytes.size() < head.limit) {
        const std::size_t before = bytes.size();
        const std::size_t wanted = std::min(kHeadSlice, head.limit - before);
        std::size_t got = 0;
        Status status;
        if (before == 0) {
            status = read(firstSlice, wanted, got);
            bytes.assign(firstSlice, got);
        } else {
            bytes.resize(before + wanted);
            status = read(bytes.data() + before, wanted, got);
            bytes.resize(before + got);
        }
        if (!status) return status;
        if (took) {
            if (Status taken = took(std::string_view(bytes).substr(before)); !taken) return taken;
        }
        if (got == 0 || head.complete(bytes, before)) break;
    }
    return Status::Ok();
}

}  // namespace tarvelin
