// The few ways in which the systems differ for the layers above: conventions and small calls that
// have no better home. Each half of the platform layer gives its own answers.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace tarvelin {

// The system's line break inside a text shown to the user.
extern const char *const kLineBreak;

// Where the program's installed data lies, from its own folder: "" (beside it) or "/../share/...".
extern const char *const kProgramDataFolder;

// Whether paths are held as UTF-8 (converted at the system calls) rather than in the file system's
// own bytes.
bool PathsAreUtf8();

// Whether a file name's length is limited in bytes (POSIX NAME_MAX) rather than, far above any
// name made here, in UTF-16 units.
bool FileNameLimitInBytes();

// Whether every folder refuses the device names (CON, NUL, COM1, ...) as file names.
bool ReservesDeviceNames();

// The local calendar time of a moment; false when the system cannot tell it.
bool LocalCalendarTime(std::time_t time, std::tm &parts);

// Keeps the charset converters of the common charsets loaded for the life of the process, where
// the C library would unload and reload them around each use. Cheap to call again.
void KeepCharsetConvertersLoaded();

// The path made absolute, with no "." or ".." parts, in the form the file utilities take.
std::string AbsolutePath(const std::string &path);

// The width of the terminal that standard error shows, or 0 when it is none or does not say.
int ErrorTerminalColumns();

// The processor time the calling thread has used, in nanoseconds (on Windows counted in the
// scheduler's ticks), for telling work that waits from work that computes.
std::int64_t ThreadCpuNanoseconds();
// The same for the whole process, all its threads together.
std::int64_t ProcessCpuNanoseconds();

// The number the system knows this process by.
std::uint64_t CurrentProcessId();

// How many more bytes of address space the process may take, or nothing when it is not limited
// (POSIX RLIMIT_AS unset) or the system does not say.
std::optional<std::uint64_t> AddressSpaceLeft();

}  // namespace tarvelin
