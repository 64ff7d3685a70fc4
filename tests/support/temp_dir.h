// Test helpers: a temporary folder removed at the end of the test, and small file helpers.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace tarvelin::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    // The folder's path followed by "/" and the relative name.
    std::string operator/(const std::string &relative) const;

private:
    std::filesystem::path path_;
};

// Writes the bytes, creating missing parent folders.
void WriteFile(const std::filesystem::path &path, const std::string &bytes);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path &path);
// Every regular file below root (full path) with its bytes; empty when root is missing.
std::map<std::string, std::string> Snapshot(const std::filesystem::path &root);

}  // namespace tarvelin::testing
