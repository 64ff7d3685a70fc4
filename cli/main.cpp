#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

#ifdef _WIN32
#include <windows.h>

#include "cli/windows_console.h"
#else
#include <unistd.h>
#endif

namespace {

// The signal that asked the run to stop. A signal handler can only reach a static.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void AskToStop(int signal) {
    stopSignal = signal;
    // The run stops after the copy under way; the same signal again ends the program at once.
    std::signal(signal, SIG_DFL);
}

}  // namespace

#ifdef _WIN32
int main() {
    // Ctrl-C and Ctrl-Break arrive as these two.
    for (const int signal : {SIGINT, SIGBREAK}) std::signal(signal, AskToStop);
    tarvelin::ConsoleBuffer outBuffer(STD_OUTPUT_HANDLE);
    tarvelin::ConsoleBuffer errBuffer(STD_ERROR_HANDLE);
    std::ostream out(&outBuffer);
    std::ostream err(&errBuffer);
    const int status =
        tarvelin::RunCli(tarvelin::WideCommandLineArguments(), {out, err, errBuffer.IsConsole(), &stopSignal});
    out.flush();
    err.flush();
    return status;
}
#else
int main(int argc, char **argv) {
    std::ios::sync_with_stdio(false);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, AskToStop);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tarvelin::RunCli(args, {std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1, &stopSignal});
}
#endif
