// Reads one message's header COUNT times and prints the seconds it took, so that a message with a
// large body can be timed against one with the same header and a small body.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "conversion/header/mail_message.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MESSAGE COUNT\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const long count = std::strtol(argv[2], nullptr, 10);
    // The first load pays for the library's set-up, which is not what is compared.
    tarvelin::MailMessage warm;
    if (!warm.LoadFromFile(path)) {
        std::fprintf(stderr, "%s: no header read\n", path.c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    std::size_t fieldBytes = 0;
    for (long i = 0; i < count; ++i) {
        tarvelin::MailMessage message;
        (void)message.LoadFromFile(path);  // the fields are read either way
        fieldBytes += message.Subject().size() + message.From().size();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%.6f s for %ld loads (%zu field bytes)\n", elapsed.count(), count, fieldBytes);
    return 0;
}
