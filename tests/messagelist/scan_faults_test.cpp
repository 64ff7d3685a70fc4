// A real tree with a folder that cannot be listed, a link that loops back to the top and a second
// link to one folder, scanned and then converted: the folder that failed is counted, and every
// message of the others is listed once and converted once.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "conversion/conversion_run.h"
#include "messagelist/folder_scan.h"
#include "tests/support/fake_lister.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class Recorder : public RunObserver {
public:
    NamingOption SelectedNamingOption() override { return NamingOption::OptOriginal; }
    void MessageWritten(const std::string &source, const std::string &output, std::size_t, const MessageFacts &) override {
        outputs[source] += output;
    }
    std::map<std::string, std::string> outputs;
};

TEST(ScanFaults, LockedFolderAndLoopingLinksLoseAndRepeatNothingElse) {
    TempDir src, out;
    const std::map<std::string, std::string> messages = {
        {src / "top.msg", "Subject: top\r\n\r\n"},
        {src / "a/1.msg", "Subject: one\r\n\r\n"},
        {src / "a/deep/2.msg", "Subject: two\r\n\r\n"},
        {src / "z/3.msg", "Subject: three\r\n\r\n"},
    };
    for (const auto &[path, bytes] : messages) WriteFile(path, bytes);
    WriteFile(src / "locked/hidden.msg", "Subject: behind the lock\r\n\r\n");
#ifndef _WIN32  // std::filesystem cannot make symbolic links on Windows: the locked folder alone there
    fs::create_directory_symlink(src.path(), src / "a/deep/up");
    fs::create_directory_symlink(src / "a", src / "z/again");
#endif
    // The real file system but this folder (chmod does not stop root).
    const std::string locked = src / "locked/";
    testing::LockedFolderLister lister([locked](const std::string &folder) { return folder == locked; },
                                       Status::FromErrno(EACCES, "cannot open folder " + locked));

    MessageList list;
    const FolderScanResult scan = ScanFolderIntoList(src.path().string(), list, NoWorkHooks(), lister);

    EXPECT_EQ(scan.FoldersNotRead(), 1);
    EXPECT_FALSE(scan.stopped);
    EXPECT_EQ(scan.added, static_cast<std::int64_t>(messages.size()));
    std::set<std::string> listed;
    for (std::size_t row = 0; row < list.EntryCount(); ++row) listed.insert(std::string(list.RowText(row)));
    EXPECT_EQ(listed.size(), list.EntryCount()) << "a message listed twice";
    for (const auto &[path, bytes] : messages) EXPECT_EQ(listed.count(path), 1u) << path;

    Recorder observer;
    DuplicateCounter counter = 0;
    NativeFileService files;
    const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files);

    EXPECT_TRUE(report.AllConverted());
    EXPECT_EQ(report.converted, static_cast<std::int64_t>(messages.size()));
    for (const auto &[path, bytes] : messages) EXPECT_EQ(ReadFile(observer.outputs[path]), bytes) << path;
}

}  // namespace
}  // namespace tarvelin
