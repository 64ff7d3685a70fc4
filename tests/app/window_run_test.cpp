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
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

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

// The real file system, with copies that can be made slow or to fail. The window's workers copy,
// so these run on their threads and touch no control. The nth copy begun takes n times
// `copyTime`: all start at once on the workers, so this makes them end one after another, and
// the run is still under way when the first message is named.
class ScriptedFileService : public NativeFileService {
public:
    std::function<bool(const std::string &)> failCopyOf;
    std::chrono::milliseconds copyTime{0};
    std::atomic<int> copies{0};

    Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                     std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified,
                     SourceHead *head) override {
        const int nth = ++copies;
        std::this_thread::sleep_for(copyTime * nth);
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

// Calls `step` on the window's thread each time the bar moves, with the bar's value; the label
// still shows the step before.
void OnEachStep(frmStep1 &window, const std::function<void(float)> &step) {
    auto *bar = Control<QProgressBar>(window, "ProgressBar1");
    QObject::connect(bar, &QProgressBar::valueChanged, bar,
                     [bar, step](int) { step(bar->property("barValue").toFloat()); });
}

// Every file below the folder is a message's whole copy under a final name: no temporary file
// or folder, nothing cut short.
void ExpectOnlyWholeCopies(const fs::path &out, const std::vector<std::string> &sources) {
    for (const auto &entry : fs::recursive_directory_iterator(out)) {
        const std::string name = entry.path().filename().string();
        QVERIFY2(name.find(".tarvelin-") == std::string::npos, qPrintable(QString::fromStdString(name)));
        if (!entry.is_regular_file()) continue;
        const std::string bytes = ReadFile(entry.path());
        QVERIFY2(std::any_of(sources.begin(), sources.end(),
                             [&](const std::string &source) { return ReadFile(source) == bytes; }),
                 qPrintable(QString::fromStdString(name)));
    }
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

    // Each message moves the bar once, in list order, while the list commands stay locked.
    std::vector<float> barSteps;
    std::vector<QString> captionBeforeStep;
    std::vector<bool> lockedDuringRun;
    OnEachStep(window, [&](float value) {
        barSteps.push_back(value);
        captionBeforeStep.push_back(caption->text());
        lockedDuringRun.push_back(
            window.IsBusy() && !Control<QPushButton>(window, "cmdAdd")->isEnabled() &&
            !Control<QPushButton>(window, "CmdAddFolder")->isEnabled() &&
            !Control<QPushButton>(window, "cmdClear1")->isEnabled() &&
            !Control<QPushButton>(window, "CmdConvert2PDF")->isEnabled() &&
            Control<QPushButton>(window, "CmdHelp")->isEnabled() &&
            Control<QPushButton>(window, "cmdEnd")->isEnabled() &&
            Control<QRadioButton>(window, "OptSD")->isEnabled());
    });
    dialogs.folders.push_back(out.string());
    Control<QPushButton>(window, "CmdConvert2PDF")->click();

    QCOMPARE(dialogs.browseTitles.back(), std::string("Choose Folder to Save..."));
    for (const auto &source : sources) {
        QCOMPARE(ReadFile(OutputOf(out, source)), Message(source));
    }
    QCOMPARE(barSteps, (std::vector<float>{33.333332f, 66.666664f, 100.0f}));
    QCOMPARE(captionBeforeStep,
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
    std::vector<std::string> sources;
    for (int i = 10; i < 18; ++i) {
        sources.push_back(temp / ("in/m" + std::to_string(i) + ".msg"));
        WriteFile(sources.back(), Message("S" + std::to_string(i)));
    }
    ScriptedDialogs dialogs;
    ScriptedFileService files;
    // Copies that take a while, so that the run is under way when the user clicks.
    files.copyTime = std::chrono::milliseconds(30);
    frmStep1 window(dialogs, files);
    dialogs.picks.push_back(sources);
    Control<QPushButton>(window, "cmdAdd")->click();
    // Clicked once the first message is named: every message named after that takes it.
    OnEachStep(window, [&](float) { Control<QRadioButton>(window, "OptSD")->setChecked(true); });
    const fs::path out = temp.path() / "out";
    dialogs.folders.push_back(out.string());
    Control<QPushButton>(window, "CmdConvert2PDF")->click();

    const fs::path folder = OutputOf(out, sources[0]).parent_path();
    std::vector<bool> byOption;  // per message in list order: named by the option clicked
    for (int i = 10; i < 18; ++i) {
        const bool original = fs::exists(folder / ("m" + std::to_string(i) + ".eml.eml"));
        const bool clicked = fs::exists(folder / ("S" + std::to_string(i) + " 05-03-2012.eml"));
        QVERIFY2(original != clicked, qPrintable(QString::number(i)));
        byOption.push_back(clicked);
    }
    QCOMPARE(FileNamesIn(folder).size(), sources.size());
    // The first message kept the option it was named by, the last took the new one, and none
    // named after the change went back.
    QVERIFY(!byOption.front());
    QVERIFY(byOption.back());
    QVERIFY(std::is_sorted(byOption.begin(), byOption.end()));
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
    // More than the workers that join within a few copies (they join as soon as the first copies
    // show that they wait), so that some are still to come when the user leaves.
    std::vector<std::string> sources;
    for (int i = 1; i <= 80; ++i) {
        sources.push_back(temp / ("in/m" + std::to_string(i) + "/a.msg"));
        WriteFile(sources.back(), Message("number " + std::to_string(i)));
    }
    ScriptedDialogs dialogs;
    ScriptedFileService files;
    files.copyTime = std::chrono::milliseconds(30);
    frmStep1 window(dialogs, files);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    dialogs.picks.push_back(sources);
    Control<QPushButton>(window, "cmdAdd")->click();
    // The user acts once the first message is named, while later ones are still copied.
    bool acted = false;
    OnEachStep(window, [&](float) {
        if (std::exchange(acted, true)) return;
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
    });
    const fs::path out = temp.path() / "out";
    dialogs.folders.push_back(out.string());
    Control<QPushButton>(window, "CmdConvert2PDF")->click();

    // What was written is the front of the list, each message whole; the messages under way when
    // the user left have no output, not even a partial one, and no temporary file is left.
    std::size_t written = 0;
    while (written < sources.size() && fs::exists(OutputOf(out, sources[written]))) ++written;
    for (std::size_t i = written; i < sources.size(); ++i)
        QVERIFY(FileNamesIn(OutputOf(out, sources[i]).parent_path()).empty());
    ExpectOnlyWholeCopies(out, sources);
    QVERIFY(written >= 1);
    if (stops) {
        QVERIFY(written < sources.size());
    } else {
        QCOMPARE(written, sources.size());
    }
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
    // Longer than the window waits between yields that show anything.
    files.copyTime = std::chrono::milliseconds(20);
    std::vector<int> rowAtStep;
    OnEachStep(window, [&](float) { rowAtStep.push_back(grid->currentIndex().row()); });
    for (const QString &step : steps) {
        if (step == "pick") dialogs.picks.push_back(sources);
        if (step == "scan") dialogs.folders.push_back(temp / "in");
        if (step == "run") dialogs.folders.push_back(temp / "out");
        Control<QPushButton>(window, step == "pick"   ? "cmdAdd"
                                     : step == "scan" ? "CmdAddFolder"
                                                      : "CmdConvert2PDF")
            ->click();
    }

    // During the run the current cell moved on with the messages named, never ahead of them.
    if (steps.contains("run")) {
        QCOMPARE(int(rowAtStep.size()), kRows);
        for (int step = 0; step < kRows; ++step) QVERIFY(rowAtStep[std::size_t(step)] <= step);
        QVERIFY(std::is_sorted(rowAtStep.begin(), rowAtStep.end()));
        QVERIFY(std::any_of(rowAtStep.begin(), rowAtStep.end(), [](int row) { return row > 0 && row < kRows - 1; }));
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
