#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

// The signal that asked the run to stop. A signal handler can only reach a static.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void AskToStop(int signal) {
    stopSignal = signal;
    // The run stops after the copy under way; the same signal again ends the program at once.
    std::signal(signal, SIG_DFL);
}

}  // namespace

int main(int argc, char **argv) {
    std::ios::sync_with_stdio(false);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, AskToStop);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tarvelin::RunCli(args, {std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, &stopSignal});
}
