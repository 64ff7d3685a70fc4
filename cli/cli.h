// The command-line companion: builds a list from folders and files, runs the same conversion as
// the window and reports on stdout/stderr. A library so that tests run it in-process.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarvelin {

struct CliStreams {
    std::ostream &out;
    std::ostream &err;
    bool errIsTerminal = false;  // the progress bar is drawn only on a terminal
};

// args excludes the program name. Returns the exit status: 0 every listed message converted,
// 1 any failed (or a folder could not be read), 2 bad usage.
int RunCli(const std::vector<std::string> &args, CliStreams streams);

}  // namespace tarvelin
