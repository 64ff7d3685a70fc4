#include "tests/support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
// The header defines macros named like our CopyFile and WorkHooks::Yield.
#undef CopyFile
#undef Yield

#include "platform/directory_lister.h"
#include "platform/file_ops.h"
#include "platform/path_split.h"
#include "platform/windows/wide_text.h"
#endif

namespace tarvelin::testing {

namespace fs = std::filesystem;

namespace {

// Wine sets TMP and TEMP from its registry, so tests on another volume (an NTFS image) are
// pointed there by a variable of their own.
std::filesystem::path TemporaryRoot() {
#ifdef _WIN32
    if (const wchar_t *root = ::_wgetenv(L"TARVELIN_TEST_TMPDIR"); root != nullptr && *root != 0) return root;
#else
    if (const char *root = std::getenv("TARVELIN_TEST_TMPDIR"); root != nullptr && *root != 0) return root;
#endif
    return std::filesystem::temp_directory_path();
}

}  // namespace

TempDir::TempDir() {
#ifdef _WIN32
    // No mkdtemp there; an exclusive create_directory on a random name does its job.
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const auto candidate = TemporaryRoot() /
                               ("tarvelin-test-" + std::to_string(seed() % 1000000000u));
        if (std::filesystem::create_directory(candidate)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("no temporary folder");
#else
    std::string pattern = (TemporaryRoot() / "tarvelin-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
}

#ifdef _WIN32
namespace {

// Visits every entry below the folder, a folder's entries before the folder itself, with its
// attributes. Through the core's lister and the wide calls: std::filesystem on MinGW misses names
// with trailing dots or blanks and paths past 260 characters. Links are not followed.
template <typename Visit>
void WalkTree(const std::string &folder, Visit &&visit) {
    for (const DirectoryEntry &entry : NativeDirectoryLister().List(folder).entries) {
        const std::string path = AddSeparator(folder) + entry.name;
        const DWORD attributes = ::GetFileAttributesW(Win32Path(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            WalkTree(path, visit);
        visit(path, attributes);
    }
}

}  // namespace
#endif

TempDir::~TempDir() {
#ifdef _WIN32
    // Read-only entries are made writable first: Windows refuses to remove them.
    const std::string root = Utf8(path_);
    WalkTree(root, [](const std::string &path, DWORD attributes) {
        const std::wstring wide = Win32Path(path);
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
            ::SetFileAttributesW(wide.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ::RemoveDirectoryW(wide.c_str());
        } else {
            ::DeleteFileW(wide.c_str());
        }
    });
    ::RemoveDirectoryW(Win32Path(root).c_str());
#else
    std::error_code ignored;
    fs::remove_all(path_, ignored);
#endif
}

std::string TempDir::operator/(const std::string &relative) const {
    return Native(Utf8(path_) + "/" + relative);
}

#ifdef _WIN32

bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

fs::path SystemPath(const std::string &path) { return fs::path(Win32Path(path)); }

std::string Utf8(const fs::path &path) {
    const std::u8string text = path.u8string();
    std::string utf8(text.begin(), text.end());
    if (utf8.starts_with(R"(\\?\UNC\)")) return "\\" + utf8.substr(7);
    if (utf8.starts_with(R"(\\?\)")) return utf8.substr(4);
    return utf8;
}

void WriteFile(const std::string &path, const std::string &bytes) {
    // The core's own folder creation: std::filesystem would drop trailing dots and blanks.
    if (const std::string folder = FolderFromPath(Native(path)); !folder.empty() && !EnsureFolder(folder))
        throw std::runtime_error("cannot create the folder of " + path);
    std::ofstream out(SystemPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const fs::path &path, const std::string &bytes) { WriteFile(Utf8(path), bytes); }

std::string ReadFile(const std::string &path) {
    std::ifstream in(SystemPath(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFile(const fs::path &path) { return ReadFile(Utf8(path)); }

std::map<std::string, std::string> Snapshot(const fs::path &root) {
    std::map<std::string, std::string> files;
    WalkTree(Utf8(root), [&files](const std::string &path, DWORD attributes) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) files[path] = ReadFile(path);
    });
    return files;
}

#else

bool UnderWine() { return false; }

std::string Native(std::string path) { return path; }

fs::path SystemPath(const std::string &path) { return fs::path(path); }

std::string Utf8(const fs::path &path) { return path.string(); }

void WriteFile(const fs::path &path, const std::string &bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteFile(const std::string &path, const std::string &bytes) { WriteFile(fs::path(path), bytes); }

std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFile(const std::string &path) { return ReadFile(fs::path(path)); }

std::map<std::string, std::string> Snapshot(const fs::path &root) {
    std::map<std::string, std::string> files;
    if (!fs::exists(root)) return files;
    for (const auto &entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files[entry.path().string()] = ReadFile(entry.path());
    return files;
}

#endif

}  // namespace tarvelin::testing
