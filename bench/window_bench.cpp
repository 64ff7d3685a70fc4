// Drives the window without a display (QT_QPA_PLATFORM=offscreen), its dialogs answered in
// advance, and prints what the benchmark runner compares.
//
//   window_bench run SOURCE OUTPUT [NAMING]
//       adds the folder SOURCE and converts it into OUTPUT; prints the seconds of both steps and
//       the longest time the event loop went without processing events.
//   window_bench memory N
//       fills the window's list with N made-up paths through the file dialog; prints the growth
//       of peak RSS during that step and the paths' bytes.
//   window_bench scan-memory N
//       the same through a folder scan of a made-up tree of N files (no disk involved).
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/dialogs.h"
#include "platform/directory_lister.h"
#include "platform/file_service.h"

namespace {

using tarvelin::Answer;
using tarvelin::MessageKind;

class AnsweredDialogs : public tarvelin::Dialogs {
public:
    std::vector<std::string> folders;  // answers to BrowseFolder, in order
    std::vector<std::string> picked;   // the answer to PickMessageFiles
    std::vector<std::string> shown;

    Answer ShowMessage(MessageKind, const std::string &text) override {
        shown.push_back(text);
        return Answer::Ok;
    }
    std::vector<std::string> PickMessageFiles() override { return std::move(picked); }
    std::string BrowseFolder(const std::string &) override {
        if (next_ >= folders.size()) return {};
        return folders[next_++];
    }
    bool ShellOpen(const std::string &) override { return false; }

private:
    std::size_t next_ = 0;
};

// A tree of `files` files in folders of 1000, made up on the fly.
class MadeUpLister : public tarvelin::DirectoryLister {
public:
    explicit MadeUpLister(long files) : files_(files) {}
    bool FolderExists(const std::string &) const override { return true; }
    tarvelin::DirectoryListing List(const std::string &folder) const override {
        tarvelin::DirectoryListing listing;
        listing.identity = {1, ++inode_};
        if (folder == kRoot) {
            for (long f = 0; f * kPerFolder < files_; ++f)
                listing.entries.push_back({"box" + std::to_string(100000 + f), true});
            return listing;
        }
        const long first = (std::stol(folder.substr(folder.size() - 7, 6)) - 100000) * kPerFolder;
        for (long i = first; i < files_ && i < first + kPerFolder; ++i)
            listing.entries.push_back({"message" + std::to_string(10000000 + i) + ".msg", false});
        return listing;
    }
    static constexpr const char *kRoot = "/home/someone/mail/archive/";

private:
    static constexpr long kPerFolder = 1000;
    long files_;
    mutable std::uint64_t inode_ = 0;
};

long StatusKb(const char *field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
    return -1;
}

QPushButton *Button(QWidget &window, const char *name) {
    auto *button = window.findChild<QPushButton *>(QString::fromLatin1(name));
    if (button == nullptr) {
        std::fprintf(stderr, "no button %s\n", name);
        std::exit(1);
    }
    return button;
}

int Run(const std::string &source, const std::string &output, const char *naming) {
    AnsweredDialogs dialogs;
    dialogs.folders = {source, output};
    tarvelin::frmStep1 window(dialogs);
    window.show();
    if (auto *option = window.findChild<QRadioButton *>(QString::fromLatin1(naming))) {
        option->setChecked(true);
    } else {
        std::fprintf(stderr, "no naming option %s\n", naming);
        return 1;
    }
    QCoreApplication::processEvents();

    // A timer due every millisecond fires whenever the loop gets to run, so the longest interval
    // between its firings is the longest time the window could not react.
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - last);
        last = now;
    });
    ticker.start(1);
    clock.start();
    Button(window, "CmdAddFolder")->click();
    const qint64 scanned = clock.nsecsElapsed();
    Button(window, "CmdConvert2PDF")->click();
    const qint64 converted = clock.nsecsElapsed();
    longestGap = std::max(longestGap, converted - last);
    ticker.stop();

    const bool completed = !dialogs.shown.empty() && dialogs.shown.back() == "Completed !";
    std::printf("scan %.4f s, conversion %.4f s, total %.4f s, longest gap %.1f ms, %zu rows, %s\n",
                scanned / 1e9, (converted - scanned) / 1e9, converted / 1e9, longestGap / 1e6,
                window.messageList().EntryCount(), completed ? "completed" : "NOT completed");
    return completed ? 0 : 1;
}

std::string MadeUpPath(long i) {
    return "/home/someone/mail/archive/box" + std::to_string(100000 + i / 1000) + "/message" +
           std::to_string(10000000 + i) + ".msg";
}

int Memory(long count, bool scan) {
    AnsweredDialogs dialogs;
    MadeUpLister lister(count);
    tarvelin::NativeFileService files;
    tarvelin::frmStep1 window(dialogs, files, lister);
    window.show();
    QCoreApplication::processEvents();

    std::size_t pathBytes = 0;
    for (long i = 0; i < count; ++i) pathBytes += MadeUpPath(i).size();
    if (scan) {
        dialogs.folders = {MadeUpLister::kRoot};
    } else {
        // The dialog's own answer is in memory before the step starts, so it is not counted.
        dialogs.picked.reserve(static_cast<std::size_t>(count));
        for (long i = 0; i < count; ++i) dialogs.picked.push_back(MadeUpPath(i));
    }
    const long before = StatusKb("VmHWM");
    Button(window, scan ? "CmdAddFolder" : "cmdAdd")->click();
    QCoreApplication::processEvents();
    const long peak = StatusKb("VmHWM");
    const long resident = StatusKb("VmRSS");
    std::printf("%zu rows, path bytes %zu, peak before %ld KB, peak after %ld KB, "
                "resident %ld KB\n",
                window.messageList().EntryCount(), pathBytes, before, peak, resident);
    return window.messageList().EntryCount() == static_cast<std::size_t>(count) ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 3 && args[0] == "run")
        return Run(args[1], args[2], args.size() >= 4 ? args[3].c_str() : "OptOriginal");
    if (args.size() == 2 && (args[0] == "memory" || args[0] == "scan-memory"))
        return Memory(std::stol(args[1]), args[0] == "scan-memory");
    std::fprintf(stderr,
                 "usage: %s run SOURCE OUTPUT [NAMING] | memory N | scan-memory N\n", argv[0]);
    return 2;
}
