#include "platform/temporary_name.h"

#include <chrono>
#include <cstdint>
#include <random>

#include "platform/path_split.h"
#include "platform/system.h"

namespace tarvelin {

namespace {

constexpr const char *kTemporaryPrefix = ".tarvelin-";
constexpr const char *kTemporarySuffix = ".part";

}  // namespace

std::string TemporaryNameIn(const std::string &folder) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 engine(
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (CurrentProcessId() << 32));
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kLetters) - 2);
    std::string name = (folder.empty() ? std::string() : AddSeparator(folder)) + kTemporaryPrefix;
    for (int i = 0; i < 12; ++i) name += kLetters[pick(engine)];
    return name + kTemporarySuffix;
}

bool IsTemporaryName(std::string_view name) {
    return name.starts_with(kTemporaryPrefix) && name.ends_with(kTemporarySuffix);
}

}  // namespace tarvelin
