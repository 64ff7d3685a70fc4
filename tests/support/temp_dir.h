// Test helpers: a temporary folder removed at the end of the test, and small file helpers.
// Paths given as text are UTF-8 with the platform's separator, as the core takes them.
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
    // The folder's path followed by the separator and the relative name ("/" in it made the
    // platform's separator).
    std::string operator/(const std::string &relative) const;

private:
    std::filesystem::path path_;
};

// The path with every "/" made the platform's separator.
std::string Native(std::string path);
// The path the system is given for a path of the core: on Windows the \\?\ form, which takes
// names literally (trailing dots and blanks, device names, more than 260 characters).
std::filesystem::path SystemPath(const std::string &path);
// A path as the core writes it: UTF-8, on Windows without the \\?\ prefix.
std::string Utf8(const std::filesystem::path &path);

// Whether the test runs under Wine, whose files live on the host's file system.
bool UnderWine();

// Writes the bytes, creating missing parent folders.
void WriteFile(const std::string &path, const std::string &bytes);
void WriteFile(const std::filesystem::path &path, const std::string &bytes);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string &path);
std::string ReadFile(const std::filesystem::path &path);
// Every regular file below root (full path, as Utf8 gives it) with its bytes; empty when root is missing.
std::map<std::string, std::string> Snapshot(const std::filesystem::path &root);

}  // namespace tarvelin::testing
