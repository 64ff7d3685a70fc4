#include "platform/system.h"

#include <sys/ioctl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <iconv.h>
#endif

#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "platform/path_split.h"

namespace tarvelin {

const char kNativeSeparator = '/';
const char *const kLineBreak = "\n";
const char *const kProgramDataFolder = "/../share/tarvelin";

std::uint64_t CurrentProcessId() { return static_cast<std::uint64_t>(::getpid()); }

std::optional<std::uint64_t> AddressSpaceLeft() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    // The size of the whole mapping, in pages: Linux tells it; elsewhere there is no cheap answer.
    std::uint64_t pages = 0;
    if (!(std::ifstream("/proc/self/statm") >> pages)) return std::nullopt;
    const std::uint64_t used = pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    return used < limit.rlim_cur ? limit.rlim_cur - used : 0;
}

bool PathsAreUtf8() { return false; }

bool FileNameLimitInBytes() { return true; }

bool ReservesDeviceNames() { return false; }

bool LocalCalendarTime(std::time_t time, std::tm &parts) { return ::localtime_r(&time, &parts) != nullptr; }

void KeepCharsetConvertersLoaded() {
#ifdef __linux__
    // glibc unloads a charset's conversion module soon after its last converter is closed, and the
    // decoder opens and closes one per encoded word: messages in alternating charsets would load
    // and unload the same modules again and again, at a cost above that of reading the header. One
    // converter per common charset, opened once and never closed, keeps their modules loaded.
    // Never freed, and held by a static the optimiser must keep, so they are still reachable at
    // exit rather than reported as leaks.
    [[gnu::used]] static const std::vector<iconv_t> *const converters = [] {
        auto *const opened = new std::vector<iconv_t>;
        for (const char *charset :
             {"ISO-8859-1", "ISO-8859-2", "ISO-8859-15", "WINDOWS-1250", "WINDOWS-1251", "WINDOWS-1252", "KOI8-R",
              "ISO-2022-JP", "SHIFT_JIS", "EUC-JP", "GB18030", "BIG5", "EUC-KR"}) {
            const iconv_t converter = iconv_open("UTF-8", charset);
            if (converter != reinterpret_cast<iconv_t>(-1)) opened->push_back(converter);
        }
        return opened;
    }();
#endif
}

std::string AbsolutePath(const std::string &path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return path;
    return absolute.lexically_normal().string();
}

int ErrorTerminalColumns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 0;
}

namespace {

std::int64_t CpuNanoseconds(clockid_t clock) {
    timespec now{};
    if (clock_gettime(clock, &now) != 0) return 0;
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

std::int64_t ThreadCpuNanoseconds() { return CpuNanoseconds(CLOCK_THREAD_CPUTIME_ID); }

std::int64_t ProcessCpuNanoseconds() { return CpuNanoseconds(CLOCK_PROCESS_CPUTIME_ID); }

}  // namespace tarvelin
