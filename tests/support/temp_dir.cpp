#include "tests/support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace tarvelin::testing {

TempDir::TempDir() {
#ifdef _WIN32
    // No mkdtemp there; an exclusive create_directory on a random name does its job.
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const auto candidate = std::filesystem::temp_directory_path() /
                               ("tarvelin-test-" + std::to_string(seed() % 1000000000u));
        if (std::filesystem::create_directory(candidate)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("no temporary folder");
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvelin-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::operator/(const std::string &relative) const {
#ifdef _WIN32
    // The core takes UTF-8 paths with Windows' separator.
    const std::u8string folder = path_.u8string();
    std::string path = std::string(folder.begin(), folder.end()) + "\\" + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
#else
    return path_.string() + "/" + relative;
#endif
}

void WriteFile(const std::filesystem::path &path, const std::string &bytes) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> Snapshot(const std::filesystem::path &root) {
    std::map<std::string, std::string> files;
    if (!std::filesystem::exists(root)) return files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[entry.path().string()] = ReadFile(entry.path());
    return files;
}

}  // namespace tarvelin::testing
