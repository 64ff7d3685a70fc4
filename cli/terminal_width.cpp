#include "cli/terminal_width.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tarvelin {

int TerminalColumns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) != 0) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) return columns;
    }
#else
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    if (const char *text = std::getenv("COLUMNS")) {
        char *end = nullptr;
        const long columns = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && columns > 0 && columns < 10000) return static_cast<int>(columns);
    }
    return 80;
}

}  // namespace tarvelin
