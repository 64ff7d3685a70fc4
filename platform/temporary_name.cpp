#include "platform/temporary_name.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <random>

#include "platform/path_split.h"

namespace tarvelin {
namespace {

std::uint64_t ProcessId() {
#ifdef _WIN32
    return ::GetCurrentProcessId();
#else
    return static_cast<std::uint64_t>(::getpid());
#endif
}

}  // namespace

std::string TemporaryNameIn(const std::string &folder) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 engine(
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^ (ProcessId() << 32));
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kLetters) - 2);
    std::string name = (folder.empty() ? std::string() : AddSeparator(folder)) + ".tarvelin-";
    for (int i = 0; i < 12; ++i) name += kLetters[pick(engine)];
    return name + ".part";
}

}  // namespace tarvelin
