// The Windows side of platform/: wide and long paths, names Windows would otherwise change,
// exclusive creates, and faults of the wide calls through the seam.
#include <windows.h>
#undef Yield

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/directory_lister.h"
#include "platform/file_ops.h"
#include "platform/input_file.h"
#include "platform/windows/syscalls.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"
#include "tests/support/copy_as.h"
#include "tests/support/stop_after_yields.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::CopyAs;
using testing::TempDir;

constexpr std::size_t kMiB = std::size_t{1} << 20;


// Through the wide calls on \\?\ paths, as the core does: std::filesystem would drop a name's
// trailing dots and spaces.
void Write(const std::string &utf8Path, const std::string &bytes) {
    const UniqueFileHandle file(::CreateFileW(Win32Path(utf8Path).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(file.valid() && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                            &written, nullptr) && written == bytes.size());
}

std::string Read(const std::string &utf8Path) {
    const UniqueFileHandle file(::CreateFileW(Win32Path(utf8Path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes(16 * kMiB, '\0');
    DWORD got = 0;
    if (!file.valid() || !::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr))
        return "(unreadable)";
    bytes.resize(got);
    return bytes;
}

std::uint64_t LastWrite(const std::string &utf8Path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Win32Path(utf8Path).c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// Every entry left in the folder, names in UTF-8.
std::vector<std::string> Names(const std::string &folder) {
    std::vector<std::string> names;
    for (const DirectoryEntry &entry : NativeDirectoryLister().List(folder).entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WindowsPaths, Win32PathTakesNamesLiterally) {
    const struct {
        std::string in;
        std::wstring out;
    } cases[] = {
        {"C:/Mail/./in/../out", LR"(\\?\C:\Mail\out)"},
        {R"(C:\Mail\a.\b )", LR"(\\?\C:\Mail\a.\b )"},  // kept: Windows would drop them
        {R"(\\srv\share\..\x\)", LR"(\\?\UNC\srv\share\x\)"},
        {R"(\\?\D:\as\is)", LR"(\\?\D:\as\is)"},
        {"C:\\Пошта\\邮件.msg", L"\\\\?\\C:\\Пошта\\邮件.msg"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(Win32Path(c.in), c.out);
    }
    EXPECT_EQ(Utf8FromWide(WideFromUtf8("Grüße 邮件 😀")), "Grüße 邮件 😀");
}

// Deep, non-ASCII, past 260 characters: made, copied, listed and read back as UTF-8.
TEST(WindowsPaths, LongNonAsciiPathsWork) {
    TempDir dir;
    std::string folder = dir / "Пошта";
    while (folder.size() < 400) folder += "\\папка-" + std::to_string(folder.size());
    ASSERT_TRUE(EnsureFolder(folder));
    const std::string source = folder + "\\邮件.msg";
    Write(source, "Subject: x\r\n\r\nbody");
    ASSERT_TRUE(CopyAs(source, folder + "\\邮件.eml"));
    EXPECT_EQ(Read(folder + "\\邮件.eml"), "Subject: x\r\n\r\nbody");
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"邮件.eml", "邮件.msg"}));
    EXPECT_TRUE(FileExist(source));
    EXPECT_EQ(InputFile(source).kind(), InputFile::Kind::Regular);
}

// "a." and "a" are two folders; the one a path names is the one read and written.
TEST(WindowsPaths, TrailingDotsAndSpacesNameTheirOwnFiles) {
    TempDir dir;
    const std::string names[] = {"a", "a.", "a "};
    for (const std::string &name : names) {
        ASSERT_TRUE(EnsureFolder(dir / name));
        Write(dir / (name + "\\m.msg"), "from " + name);
    }
    for (const std::string &name : names) {
        SCOPED_TRACE("[" + name + "]");
        EXPECT_TRUE(CopyAs(dir / (name + "\\m.msg"), dir / (name + "\\m.eml")));
        EXPECT_EQ(Read(dir / (name + "\\m.eml")), "from " + name);
        EXPECT_EQ(Names(dir / name), (std::vector<std::string>{"m.eml", "m.msg"}));
    }
    EXPECT_EQ(Names(dir / ""), (std::vector<std::string>{"a", "a ", "a."}));
}

TEST(WindowsFileOps, ExclusiveCopyKeepsBytesAndTimesOfAReadOnlyMessage) {
    TempDir dir;
    const std::string source = dir / "in.msg";
    std::string bytes(3 * kMiB + 7, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
    Write(source, bytes);
    const HANDLE file = ::CreateFileW(Win32Path(source).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const FILETIME written{0x12345600, 0x01CD5900};  // July 2012
    ASSERT_TRUE(::SetFileTime(file, nullptr, nullptr, &written));
    ::CloseHandle(file);
    ASSERT_TRUE(::SetFileAttributesW(Win32Path(source).c_str(), FILE_ATTRIBUTE_READONLY));

    ASSERT_TRUE(CopyAs(source, dir / "out.eml"));
    EXPECT_EQ(Read(dir / "out.eml"), bytes);
    EXPECT_EQ(LastWrite(dir / "out.eml"), LastWrite(source));
    EXPECT_EQ(LastWrite(source) >> 32, written.dwHighDateTime);
    const DWORD attributes = ::GetFileAttributesW(Win32Path(dir / "out.eml").c_str());
    EXPECT_FALSE(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));

    // Taken: refused as such, the file there untouched.
    Write(dir / "taken.eml", "older");
    const Status refused = CopyAs(source, dir / "taken.eml");
    EXPECT_EQ(refused.kind(), ErrorKind::AlreadyExists);
    EXPECT_EQ(Read(dir / "taken.eml"), "older");
    ::SetFileAttributesW(Win32Path(source).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(WindowsFileOps, RefusalsReadLikeThePosixOnes) {
    TempDir dir;
    ASSERT_TRUE(EnsureFolder(dir / "folder.msg"));
    Write(dir / "file", "x");
    const struct {
        std::string label;
        Status status;
        std::string reason;
    } cases[] = {
        {"missing source", CopyAs(dir / "none.msg", dir / "x.eml"),
         "cannot open the message: No such file or directory"},
        {"folder source", CopyAs(dir / "folder.msg", dir / "y.eml"),
         "cannot copy the message: it is a folder"},
        {"file in the way", EnsureFolder(dir / "file\\sub"),
         "cannot create the folder " + dir / "file" + ": a file of that name is in the way"},
        {"folder not there", NativeDirectoryLister().List(dir / "none").status,
         "cannot open the folder: No such file or directory"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.status.reason(), c.reason);
    }
    EXPECT_EQ(Names(dir / ""), (std::vector<std::string>{"file", "folder.msg"}));
}

// The real calls, with a write that fails after so many bytes or a refused move.
class FaultySysCalls : public SysCalls {
public:
    std::size_t writeLimit = SIZE_MAX;
    DWORD writeError = ERROR_DISK_FULL;
    bool moveFails = false;

    bool Write(void *handle, const void *buffer, unsigned long count, unsigned long *written) const override {
        if (written_ >= writeLimit) {
            ::SetLastError(writeError);
            return false;
        }
        count = static_cast<unsigned long>(std::min<std::size_t>(count, writeLimit - written_));
        const bool ok = SysCalls::Write(handle, buffer, count, written);
        if (ok) written_ += *written;
        return ok;
    }
    bool Move(const wchar_t *from, const wchar_t *to, unsigned long flags) const override {
        if (!moveFails) return SysCalls::Move(from, to, flags);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }

private:
    mutable std::size_t written_ = 0;
};

// Whatever goes wrong, no partial file is left and no file there is changed.
TEST(WindowsFileOps, FailedOrStoppedCopiesLeaveNothing) {
    TempDir dir;
    const std::string source = dir / "in.msg";
    Write(source, std::string(9 * kMiB, 'm'));
    Write(dir / "old.eml", "older");
    const struct {
        std::string label;
        std::size_t writeLimit;
        bool moveFails;
        bool stop;
        std::string reason;
    } cases[] = {
        {"disk full", 5 * kMiB, false, false, "cannot write the copy: No space left on device"},
        {"move refused", SIZE_MAX, true, false, "cannot put the copy in place: Permission denied"},
        {"stopped", SIZE_MAX, false, true, "the copy was stopped"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        FaultySysCalls sys;
        sys.writeLimit = c.writeLimit;
        sys.moveFails = c.moveFails;
        testing::StopAfterYields stopping(1);
        const Status status = CopyAs(source, dir / "new.eml", sys, c.stop ? &stopping : nullptr);
        EXPECT_EQ(status.reason(), c.reason);
        EXPECT_EQ(Names(dir / ""), (std::vector<std::string>{"in.msg", "old.eml"}));
        EXPECT_EQ(Read(dir / "old.eml"), "older");
    }
}

}  // namespace
}  // namespace tarvelin
