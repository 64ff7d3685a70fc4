// The command-line companion: builds a list from folders and files, runs the same conversion as
// the window and reports on stdout/stderr. A library so that tests run it in-process.
#pragma once

#include <csignal>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace tarvelin {

struct CliStreams {
    std::ostream &out;
    std::ostream &err;
    bool errIsTerminal = false;  // the progress bar is drawn only on a terminal
    // Set by a signal handler to the signal that asks the run to stop (0: none).
    const volatile std::sig_atomic_t *stopSignal = nullptr;
    // The terminal's width for the progress bar; empty: asked of the terminal on stderr.
    std::function<int()> columns = nullptr;
};

// args excludes the program name. Returns the exit status: 0 every listed message converted,
// 1 any failed (or a folder could not be read), 2 bad usage, 128 + the signal when one stopped it.
int RunCli(const std::vector<std::string> &args, CliStreams streams);

}  // namespace tarvelin
