// A file the program writes for its own record (the run's index): created only where nothing is,
// and written without a buffer of ours, so that what was written can be read at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace tarvelin {

class NewFile {
public:
    NewFile() = default;
    NewFile(const NewFile &) = delete;
    NewFile &operator=(const NewFile &) = delete;
    ~NewFile();

    // AlreadyExists when anything is at the path, which is then left as it is.
    [[nodiscard]] Status Create(const std::string &path);
    // All of the bytes, or the reason they were not written.
    [[nodiscard]] Status Write(std::string_view bytes);

private:
    // The descriptor (POSIX) or handle (Windows); -1 when none is open.
    std::intptr_t file_ = -1;
};

}  // namespace tarvelin
