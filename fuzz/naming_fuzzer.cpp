// libFuzzer target: arbitrary field values through composing, cleaning, cutting and numbering.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string error =
        tarvelin::fuzz::CheckNamingInput(std::string_view(reinterpret_cast<const char *>(data), size));
    if (!error.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", error.c_str());
        std::abort();
    }
    return 0;
}
