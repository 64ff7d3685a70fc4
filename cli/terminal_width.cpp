#include "cli/terminal_width.h"

#include <cstdlib>

#include "platform/system.h"

namespace tarvelin {

int TerminalColumns() {
    if (const int columns = ErrorTerminalColumns(); columns > 0) return columns;
    if (const char *text = std::getenv("COLUMNS")) {
        char *end = nullptr;
        const long columns = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && columns > 0 && columns < 10000) return static_cast<int>(columns);
    }
    return 80;
}

}  // namespace tarvelin
