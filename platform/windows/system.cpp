#include "platform/system.h"

#include <windows.h>

#include "platform/path_split.h"
#include "platform/windows/wide_text.h"

namespace tarvelin {

const char kNativeSeparator = '\\';
const char *const kLineBreak = "\r\n";
const char *const kProgramDataFolder = "";

std::uint64_t CurrentProcessId() { return ::GetCurrentProcessId(); }

std::optional<std::uint64_t> AddressSpaceLeft() {
    // A 32-bit process's 2 or 4 GB; a 64-bit one's terabytes.
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status)) return std::nullopt;
    return status.ullAvailVirtual;
}

bool PathsAreUtf8() { return true; }

bool FileNameLimitInBytes() { return false; }

bool ReservesDeviceNames() { return true; }

bool LocalCalendarTime(std::time_t time, std::tm &parts) { return ::localtime_s(&parts, &time) == 0; }

// The Windows iconv keeps no modules to unload.
void KeepCharsetConvertersLoaded() {}

// The core's own form: std::filesystem there mangles a \\?\ path and drops trailing dots and
// blanks, where the core takes each name as written.
std::string AbsolutePath(const std::string &path) { return Utf8FromWin32Path(Win32Path(path)); }

int ErrorTerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) != 0) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) return columns;
    }
    return 0;
}

namespace {

std::int64_t Nanoseconds(const FILETIME &kernel, const FILETIME &user) {
    const auto units = [](const FILETIME &time) {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    };
    return (units(kernel) + units(user)) * 100;
}

}  // namespace

std::int64_t ThreadCpuNanoseconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    return Nanoseconds(kernel, user);
}

std::int64_t ProcessCpuNanoseconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return Nanoseconds(kernel, user);
}

}  // namespace tarvelin
