// A file opened for reading by whoever only needs its first bytes and its date (the header
// reader, the dry run): the system's own calls, the wide ones on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/status.h"

namespace tarvelin {

class InputFile {
public:
    enum class Kind { Regular, Folder, Other };

    // Opens read-only; a FIFO or a device does not block the open.
    explicit InputFile(const std::string &path);
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;
    ~InputFile();

    // How the open went ("cannot open the message: ...").
    const Status &status() const { return status_; }
    // Something is at the path, even when it would not open; modified() is then its date.
    bool exists() const { return exists_; }
    std::time_t modified() const { return modified_; }
    // The size when it was opened (0 when it did not open).
    std::uint64_t size() const { return size_; }
    Kind kind() const { return kind_; }

    // Up to count bytes; 0 at the end, -1 on a read error.
    [[nodiscard]] std::ptrdiff_t Read(char *buffer, std::size_t count);

private:
    Status status_;
    bool exists_ = false;
    std::time_t modified_ = 0;
    std::uint64_t size_ = 0;
    Kind kind_ = Kind::Other;
    // The descriptor (POSIX) or handle (Windows); -1 when none is open.
    std::intptr_t file_ = -1;
};

}  // namespace tarvelin
