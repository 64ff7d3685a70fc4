// Conversion runs started from the window: progress, the closing box, failures, options changed
// mid-run, and leaving the program while a run is under way.
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "app/main_window.h"
#include "conversion/output_folder.h"
#include "tests/app/find_control.h"
#include "tests/app/scripted_dialogs.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

using namespace tarvelin;
using tarvelin::testing::ReadFile;
using tarvelin::testing::Control;
using tarvelin::testing::ScriptedDialogs;
using tarvelin::testing::TempDir;
using tarvelin::testing::WriteFile;
namespace fs = std::filesystem;

namespace {

// The real file system, with hooks that act in the middle of a run and copies that can be made
// to fail.
class ScriptedFileService : public NativeFileService {
public:
    std::function<bool(const std::string &)> failCopyOf;
    std::function<void(int)> beforeNewFolder;  // numbered from 1
    std::function<void(int)> beforeCopy;       // numbered from 1
    int folders = 0;
    int copies = 0;

    Status EnsureFolderExists(const std::string &folder) override {
        if (beforeNewFolder) beforeNewFolder(++folders);
        return NativeFileService::EnsureFolderExists(folder);
    }
    Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                     std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified,
                     SourceHead *head) override {
        if (beforeCopy) beforeCopy(++copies);
        if (failCopyOf && failCopyOf(source)) {
            return Status::Failure(ErrorKind::Other, "no space left on device");
        }
        return NativeFileService::StageCopy(source, folder, hooks, staged, modified, head);
    }
};

std::string Message(const std::string &subject) {
    return testing::Message(subject, "Ann Example <ann@example.com>", "Mon, 5 Mar 2012 10:00:00 +0000",
                            "Hello " + subject + "\r\n");
}

// Where the run puts a source's output under OptOriginal: the source's folders repeated below
// the output folder; the name keeps the inner ".eml" that replaces ".msg" (a.msg gives
// a.eml.eml).
fs::path OutputOf(const fs::path &outputRoot, const std::string &source) {
    fs::path relative = fs::path(source).relative_path();
    relative.replace_extension(".eml.eml");
    return outputRoot / relative;
}

// The names of the files (not folders) directly in the folder, sorted.
std::vector<std::string> FileNamesIn(const fs::path &folder) {
    std::vector<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto &entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

class WindowRunTest : public QObject {
    Q_OBJECT

private slots:
    void runConvertsEveryRowInOrder();
    void failuresAreListedAfterCompletion_data();
    void failuresAreListedAfterCompletion();
    void optionChangedMidRunAppliesFromTheNextMessage();
    void leavingDuringARun_data();
    void leavingDuringARun();
    void currentCellFollowsTheWork_data();
    void currentCellFollowsTheWork();
    void unusableOutputFolderIsOneBox_data();
    void unusableOutputFolderIsOneBox();
};

void WindowRunTest::runConvertsEveryRowInOrder() {
    TempDir temp;
    const std::vector<std::string> sources = {temp / "in/a.msg", temp / "in/sub/b.msg",
                                              temp / "in/c.msg"};
    for (const auto &source : sources) WriteFile(source, Message(source));
    const fs::path out = temp.path() / "out";
    ScriptedDialogs dialogs;
    ScriptedFileService files;
    frmStep1 window(dialogs, files);
    dialogs.picks.push_back(sources);
    Control<QPushButton>(window, "cmdAdd")->click();
    auto *bar = Control<QProgressBar>(window, "ProgressBar1");
    auto *caption = Control<QLabel>(window, "LblProgessCurrent");

    // A cancelled folder choice runs nothing.
    Control<QPushButton>(window, "CmdConvert2PDF")->click();
    QVERIFY(dialogs.shown.empty());
    QCOMPARE(caption->text(), QStringLiteral("Message 0 (of 0)"));
    QCOMPARE(files.copies, 0);

    std::vector<float> barBeforeCopy;
    std::vector<QString> captionBeforeCopy;
    std::vector<bool> lockedDuringRun;
    files.beforeCopy = [&](int) {
        barBeforeCopy.push_back(bar->property("barValue").toFloat());
        captionBeforeCopy.push_back(caption->text());
        lockedDuringRun.push_back(
            window.IsBusy() && !Control<QPushButton>(window, "cmdAdd")->isEnabled() &&
            !Control<QPushButton>(window, "CmdAddFolder")->isEnabled() &&
            !Control<QPushButton>(window, "cmdClear1")->isEnabled() &&
            !Control<QPushButton>(window, "CmdConvert2PDF")->isEnabled() &&
            Control<QPushButton>(window, "CmdHelp")->isEnabled() &&
            Control<QPushButton>(window, "cmdEnd")->isEnabled() &&
            Control<QRadioButton>(window, "OptSD")->isEnabled());
    };
    dialogs.folders.push_back(out.string());
    Control<QPushButton>(window, "CmdConvert2PDF")->click();

    QCOMPARE(dialogs.browseTitles.back(), std::string("Choose Folder to Save..."));
    for (const auto &source : sources) {
        QCOMPARE(ReadFile(OutputOf(out, source)), Message(source));
    }
    QCOMPARE(barBeforeCopy, (std::vector<float>{0.0f, 33.333332f, 66.666664f}));
    QCOMPARE(captionBeforeCopy,
             (std::vector<QString>{"Message 0 (of 0)", "Message 1 (of 3)", "Message 2 (of 3)"}));
    QCOMPARE(lockedDuringRun, (std::vector<bool>{true, true, true}));
    QCOMPARE(bar->property("barValue").toFloat(), 100.0f);
    QCOMPARE(bar->value(), 100);
    QCOMPARE(caption->text(), QStringLiteral("Message 3 (of 3)"));
    QCOMPARE(dialogs.shown.size(), std::size_t(1));
    QCOMPARE(dialogs.shown[0].kind, MessageKind::Completion);
    QCOMPARE(dialogs.shown[0].text, std::string("Completed !"));
    QVERIFY(!window.IsBusy());
    QVERIFY(Control<QPushButton>(window, "cmdAdd")->isEnabled());
    QVERIFY(Control<QPushButton>(window, "CmdConvert2PDF")->isEnabled());

    // The duplicate counter belongs to the window: a second run numbers on and nothing is
    // overwritten.
    const DuplicateCounter afterFirst = window.duplicateCounter();
    dialogs.folders.push_back(out.string());
    Control<QPushButton>(window, "CmdConvert2PDF")->click();
    QCOMPARE(FileNamesIn(OutputOf(out, sources[0]).parent_path()).size(), std::size_t(4));
    QVERIFY(window.duplicateCounter() > afterFirst);
    QCOMPARE(dialogs.shown.back().text, std::string("Completed !"));
}

void WindowRunTest::failuresAreListedAfterCompletion_data() {
    QTest::addColumn<int>("messages");
    QTest::addColumn<QList<int>>("failingCopies");  // message numbers, from 1
    QTest::addColumn<bool>("missingSource");        // one more row naming no file
    QTest::addColumn<QString>("heading");
    QTest::addColumn<int>("listed");
    QTest::addColumn<QString>("lastLine");
    QTest::newRow("one failing copy")
        << 3 << QList<int>{2} << false << "1 of 3 messages could not be converted:" << 1 << "";
    QTest::newRow("missing source") << 2 << QList<int>{} << true
                                    << "1 of 3 messages could not be converted:" << 1 << "";
    QTest::newRow("twelve failures, ten listed")
        << 12 << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12} << false
        << "12 of 12 messages could not be converted:" << 10 << "... and 2 more";
}

void WindowRunTest::failuresAreListedAfterCompletion() {
    QFETCH(int, messages);
    QFETCH(QList<int>, failingCopies);
    QFETCH(bool, missingSource);
    QFETCH(QString, heading);
    QFETCH(int, listed);
    QFETCH(QString, lastLine);
    TempDir temp;
    std::vector<std::string> sources;
    for (int i = 1; i <= messages; ++i) {
        sources.push_back(temp / ("in/m" + std::to_string(i) + ".msg"));
        WriteFile(sources.back(), Message("number " + std::to_string(i)));
    }
    const std::string missing = temp / "in/gone.msg";
    if (missingSource) sources.insert(sources.begin() + 1, missing);
    ScriptedDialogs dialogs;
    ScriptedFileService files;
    files.failCopyOf = [&](const std::string &source) {
        for (int number : failingCopies) {
            if (source == temp / ("in/m" + std::to_string(number) + ".msg")) return true;
        }
        return false;
    };
    frmStep1 window(dialogs, files);
    dialogs.picks.push_back(sources);
    Control<QPushButton>(window, "cmdAdd")->click();
    dialogs.folders.push_back(temp / "out");
    Control<QPushButton>(window, "CmdConvert2PDF")->click();

    QCOMPARE(dialogs.shown.size(), std::size_t(1));
    QCOMPARE(dialogs.shown[0].kind, MessageKind::Failure);
    const QStringList lines = QString::fromStdString(dialogs.shown[0].text).split('\n');
    QCOMPARE(lines.value(0), QStringLiteral("Completed !"));
    QCOMPARE(lines.value(1), heading);
    QCOMPARE(lines.size(), 2 + listed + (lastLine.isEmpty() ? 0 : 1));
    for (int i = 0; i < listed; ++i) {
        const QString line = lines.value(2 + i);
        const int colon = line.indexOf(QStringLiteral(".msg: "));
        QVERIFY2(colon > 0 && line.size() > colon + 6, qPrintable(line));
        const std::string path = line.left(colon + 4).toStdString();
        QVERIFY2(std::find(sources.begin(), sources.end(), path) != sources.end(),
                 qPrintable(line));
        if (!missingSource) QVERIFY(line.endsWith(": no space left on device"));
    }
    if (missingSource) QVERIFY(lines.value(2).startsWith(QString::fromStdString(missing + ": ")));
    if (!lastLine.isEmpty()) QCOMPARE(lines.last(), lastLine);
    // The run went on to the last row.
    const auto rows = sources.size();
    QCOMPARE(Control<QLabel>(window, "LblProgessCurrent")->text(),
             QStringLiteral("Message %1 (of %1)").arg(rows));
}

void WindowRunTest::optionChangedMidRunAppliesFromTheNextMessage() {
    TempDir temp;
    const std::vector<std::string> sources = {temp / "in/first.msg", temp / "in/second.msg",
                                              temp / "in/third.msg"};
    WriteFile(sources[0], Message("First"));
    WriteFile(sources[1], Message("Second"));
    WriteFile(sources[2], Message("Third"));
    ScriptedDialogs dialogs;
    ScriptedFileService files;
    frmStep1 window(dialogs, files);
    dialogs.picks.push_back(sources);
    Control<QPushButton>(window, "cmdAdd")->click();
    files.beforeCopy = [&](int copy) {
        if (copy == 1) Control<QRadioButton>(window, "OptSD")->setChecked(true);
    };
    const fs::path out = temp.path() / "out";
    dialogs.folders.push_back(out.string());
    Control<QPushButton>(window, "CmdConvert2PDF")->click();

    const std::vector<std::string> names = FileNamesIn(OutputOf(out, sources[0]).parent_path());
    QCOMPARE(names.size(), std::size_t(3));
    QVERIFY(std::count(names.begin(), names.end(), "first.eml.eml") == 1);
    for (const char *subject : {"Second", "Third"}) {
        QVERIFY2(std::any_of(names.begin(), names.end(),
                             [&](const std::string &name) {
                                 return name.rfind(subject, 0) == 0 &&
                                        name.find("05-03-2012") != std::string::npos;
                             }),
                 subject);
    }
    QCOMPARE(window.SelectedNamingOption(), NamingOption::OptSD);
    QCOMPARE(dialogs.shown.back().text, std::string("Completed !"));
}

void WindowRunTest::leavingDuringARun_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("stops");
    QTest::newRow("close box") << "close" << true;
    QTest::newRow("close arriving through the event loop") << "postedClose" << true;
    QTest::newRow("exit answered yes") << "exitYes" << true;
    QTest::newRow("exit answered no goes on") << "exitNo" << false;
}

void WindowRunTest::leavingDuringARun() {
    QFETCH(QString, action);
    QFETCH(bool, stops);
    TempDir temp;
    std::vector<std::string> sources;
    for (int i = 1; i <= 5; ++i) {
        // One folder per message, so that each message starts by creating its output folder.
        sources.push_back(temp / ("in/m" + std::to_string(i) + "/a.msg"));
        WriteFile(sources.back(), Message("number " + std::to_string(i)));
    }
    ScriptedDialogs dialogs;
    ScriptedFileService files;
    frmStep1 window(dialogs, files);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    dialogs.picks.push_back(sources);
    Control<QPushButton>(window, "cmdAdd")->click();
    // The user acts while the third message is under way.
    files.beforeNewFolder = [&](int folder) {
        if (folder != 3) return;
        if (action == "close") {
            window.close();
        } else if (action == "postedClose") {
            // Delivered at the run's next yield, which handles events once enough time passed.
            QTimer::singleShot(0, &window, [&] { window.close(); });
            QTest::qSleep(40);
        } else {
            dialogs.answers.push_back(action == "exitYes" ? Answer::Yes : Answer::No);
            Control<QPushButton>(window, "cmdEnd")->click();
        }
    };
    const fs::path out = temp.path() / "out";
    dialogs.folders.push_back(out.string());
    Control<QPushButton>(window, "CmdConvert2PDF")->click();

    for (int i = 0; i < 5; ++i) {
        const bool written = !stops || i < 2;
        QCOMPARE(fs::exists(OutputOf(out, sources[static_cast<std::size_t>(i)])), written);
    }
    // The message under way when the user left has no output, not even a partial one.
    if (stops) QVERIFY(FileNamesIn(OutputOf(out, sources[2]).parent_path()).empty());
    std::vector<MessageKind> kinds;
    for (const auto &message : dialogs.shown) kinds.push_back(message.kind);
    std::vector<MessageKind> expected;
    if (action.startsWith("exit")) expected.push_back(MessageKind::Question);
    if (!stops) expected.push_back(MessageKind::Completion);
    QCOMPARE(kinds, expected);
    QCOMPARE(window.isVisible(), !stops);
    QVERIFY(!window.IsBusy());
}

void WindowRunTest::currentCellFollowsTheWork_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("files added") << QStringList{"pick"};
    QTest::newRow("folder scanned") << QStringList{"scan"};
    QTest::newRow("run") << QStringList{"pick", "run"};
}

void WindowRunTest::currentCellFollowsTheWork() {
    QFETCH(QStringList, steps);
    constexpr int kRows = 12;  // twice as many as the grid shows at once
    TempDir temp;
    std::vector<std::string> sources;
    for (int i = 10; i < 10 + kRows; ++i) {
        sources.push_back(temp / ("in/m" + std::to_string(i) + ".msg"));
        WriteFile(sources.back(), Message(std::to_string(i)));
    }
    ScriptedDialogs dialogs;
    ScriptedFileService files;
    frmStep1 window(dialogs, files);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *grid = Control<QTableView>(window, "grdFiles1");
    std::vector<int> rowAtCopy;
    files.beforeCopy = [&](int) {
        rowAtCopy.push_back(grid->currentIndex().row());
        QTest::qSleep(20);  // longer than the window waits between yields that show anything
    };
    for (const QString &step : steps) {
        if (step == "pick") dialogs.picks.push_back(sources);
        if (step == "scan") dialogs.folders.push_back(temp / "in");
        if (step == "run") dialogs.folders.push_back(temp / "out");
        Control<QPushButton>(window, step == "pick"   ? "cmdAdd"
                                     : step == "scan" ? "CmdAddFolder"
                                                      : "CmdConvert2PDF")
            ->click();
    }

    // From the second message on, the run's row was the current one when its copy began.
    if (steps.contains("run")) {
        QCOMPARE(int(rowAtCopy.size()), kRows);
        for (int row = 1; row < kRows; ++row) QCOMPARE(rowAtCopy[std::size_t(row)], row);
    }
    const QModelIndex last = grid->model()->index(kRows - 1, 0);
    QCOMPARE(grid->currentIndex(), last);
    QVERIFY(grid->selectionModel()->isSelected(last));
    const QRect shown = grid->visualRect(last);
    QVERIFY2(shown.top() >= 0 && shown.bottom() < grid->viewport()->height(),
             qPrintable(QStringLiteral("row drawn at %1").arg(shown.top())));
}

void WindowRunTest::unusableOutputFolderIsOneBox_data() {
    QTest::addColumn<QString>("folder");  // below the temporary folder
    QTest::addColumn<QString>("says");
    QTest::newRow("a file in the way") << "file/out" << "a file of that name is in the way";
    QTest::newRow("another run writes to it") << "busy" << "another run of Tarvelin is writing to it";
#ifndef _WIN32
    QTest::newRow("a link that leads nowhere") << "link" << "a symbolic link that leads nowhere is in the way";
#endif
}

// Before, each message failed alike and was listed; now nothing is tried and one box says why.
void WindowRunTest::unusableOutputFolderIsOneBox() {
    QFETCH(QString, folder);
    QFETCH(QString, says);
    TempDir temp;
    const std::vector<std::string> sources = {temp / "in/a.msg", temp / "in/b.msg"};
    for (const auto &source : sources) WriteFile(source, Message(source));
    WriteFile(temp / "file", "a file");
#ifndef _WIN32
    fs::create_symlink(temp.path() / "nowhere", temp.path() / "link");
#endif
    const std::string output = temp / folder.toStdString();
    OutputFolderHold otherRun;
    if (folder == "busy") QVERIFY(otherRun.Take(output));
    ScriptedDialogs dialogs;
    ScriptedFileService files;
    frmStep1 window(dialogs, files);
    dialogs.picks.push_back(sources);
    Control<QPushButton>(window, "cmdAdd")->click();
    dialogs.folders.push_back(output);
    Control<QPushButton>(window, "CmdConvert2PDF")->click();

    QCOMPARE(dialogs.shown.size(), std::size_t(1));
    QCOMPARE(dialogs.shown[0].kind, MessageKind::Failure);
    const QStringList lines = QString::fromStdString(dialogs.shown[0].text).split('\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("No message was converted:"));
    QVERIFY2(lines[1].endsWith(": " + says), qPrintable(lines[1]));
    QCOMPARE(files.copies, 0);
    QVERIFY(Control<QPushButton>(window, "CmdConvert2PDF")->isEnabled());
}

QTEST_MAIN(WindowRunTest)
#include "window_run_test.moc"
