#include "platform/folder_handles.h"

#include <fcntl.h>

#include <algorithm>

#include "platform/posix/open_folder.h"

namespace tarvelin {
namespace {

#ifdef O_PATH
// Enough to name files relative to it; needs no read permission on the folder itself.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

}  // namespace

FolderHandles::FolderHandles(const SysCalls &sys, std::size_t most) : sys_(sys), most_(std::max<std::size_t>(most, 1)) {}

FolderHandles::~FolderHandles() = default;

FileSpot FolderHandles::Locate(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    // A name of its own is needed: "x" and "/x" and "dir/" are left to the whole path.
    if (slash == std::string::npos || slash == 0 || slash + 1 == path.size()) return {};
    const std::string_view folderPath(path.data(), slash);
    const std::uint64_t use = uses_.fetch_add(1, std::memory_order_relaxed) + 1;
    {
        std::shared_lock lock(mutex_);
        if (auto known = kept_.find(folderPath); known != kept_.end()) {
            known->second.lastUsed.store(use, std::memory_order_relaxed);
            return {known->second.folder, slash + 1};
        }
    }
    const std::string folder(folderPath);
    const int fd = sys_.Open(folder.c_str(), kFolderFlags, 0);
    if (fd < 0) return {};
    auto opened = std::make_shared<const OpenFolder>(sys_, fd);
    std::lock_guard lock(mutex_);
    // Another thread may have opened it meanwhile: its handle is kept, this one goes with the call.
    if (auto known = kept_.find(folderPath); known != kept_.end()) return {known->second.folder, slash + 1};
    if (kept_.size() >= most_) {
        const auto oldest = std::min_element(kept_.begin(), kept_.end(), [](const auto &a, const auto &b) {
            return a.second.lastUsed.load(std::memory_order_relaxed) < b.second.lastUsed.load(std::memory_order_relaxed);
        });
        kept_.erase(oldest);
    }
    Kept &kept = kept_[folder];
    kept.folder = opened;
    kept.lastUsed.store(use, std::memory_order_relaxed);
    return {std::move(opened), slash + 1};
}

void FolderHandles::CloseAll() {
    std::lock_guard lock(mutex_);
    kept_.clear();
}

std::size_t FolderHandles::LetGo() {
    std::lock_guard lock(mutex_);
    const std::size_t kept = kept_.size();
    most_ = std::max<std::size_t>(1, std::min(most_, kept) / 2);
    kept_.clear();
    return kept;
}

}  // namespace tarvelin
