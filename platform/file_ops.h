// File utilities of the conversion: folder creation, the existence test and the copy.
// Paths are UTF-8 byte strings, passed to the system unchanged.
#pragma once

#include <string>

#include "platform/status.h"
#include "platform/syscalls.h"
#include "platform/work_hooks.h"

namespace tarvelin {

// Creates every missing folder along the path (a separator is added when missing, so the path
// always names a folder). Ok when the folder exists afterwards, also when it existed before.
Status EnsureFolder(const std::string &path, const SysCalls &sys = RealSysCalls());
bool EnsureFolderExists(const std::string &path);

// True for any existing entry at the path: a file, a folder, a link (even a broken one).
bool FileExist(const std::string &path, const SysCalls &sys = RealSysCalls());

// Copies the source byte for byte and gives the copy the source's modification time. With
// failIfExists the destination is created exclusively (an existing entry gives AlreadyExists and
// is left untouched); without it an existing file is replaced only once the new copy is complete.
// A copy that fails midway leaves no destination file behind. The source is opened read-only.
// With hooks, a large file is copied in slices with a yield after each, so a window stays
// responsive on a slow disk; a stop request then ends the copy with ErrorKind::Stopped and no
// destination file.
Status CopyFile(const std::string &source, const std::string &destination, bool failIfExists,
                const SysCalls &sys = RealSysCalls(), WorkHooks *hooks = nullptr);
bool CopyFileTo(const std::string &source, const std::string &destination, bool failIfExists);

}  // namespace tarvelin
