// The window's controls, keyboard and list commands, driven headless with scripted dialogs.
#include <QAbstractItemModel>
#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QUrl>

#include "app/main_window.h"
#include "tests/app/find_control.h"
#include "tests/app/scripted_dialogs.h"
#include "platform/path_split.h"
#include "tests/support/fake_lister.h"
#include "tests/support/temp_dir.h"

using namespace tarvelin;
using tarvelin::testing::Control;
using tarvelin::testing::ScriptedDialogs;
using tarvelin::testing::TempDir;
using tarvelin::testing::WriteFile;

namespace {

QStringList ListedPaths(const frmStep1 &window) {
    QStringList paths;
    const MessageList &list = window.messageList();
    for (std::size_t i = 0; i < list.EntryCount(); ++i) {
        paths << QString::fromStdString(std::string(list.RowText(i)));
    }
    return paths;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    QString FocusName() {
        QWidget *focus = QApplication::focusWidget();
        return focus ? focus->objectName() : QStringLiteral("<none>");
    }

private slots:
    void initialStateShowsTheDesign_data();
    void initialStateShowsTheDesign();
    void initialStateOfListOptionsAndProgress();
    void windowIsFixedAndShowsEveryControlWhole();
    void tabVisitsTheControlsInDesignOrder_data();
    void tabVisitsTheControlsInDesignOrder();
    void arrowKeysMoveTheNamingOption();
    void enterAndSpacePressTheFocusedButton_data();
    void enterAndSpacePressTheFocusedButton();
    void escapeDoesNothing();
    void accessKeysPressHelpAndExit();
    void exitAnsweredYesClosesTheWindow();
    void convertFollowsTheListRules_data();
    void convertFollowsTheListRules();
    void addFilesReplacesTheList();
    void folderScanReportsCountAndRestoresCursor_data();
    void folderScanReportsCountAndRestoresCursor();
    void droppedFilesAndFoldersAreAppended();
    void focusComesBackAfterTheWork_data();
    void focusComesBackAfterTheWork();
    void hundredThousandPathsArriveInBatches();
};

void MainWindowTest::initialStateShowsTheDesign_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("title") << "lblTitle" << "Tarvelin";
    QTest::newRow("add files") << "cmdAdd" << "Add MDaemon Email Message(s)...";
    QTest::newRow("add folder") << "CmdAddFolder"
                                << "Add MDaemon Email Folder having Message(s)...";
    QTest::newRow("clear") << "cmdClear1" << "Clear File(s)...";
    QTest::newRow("count") << "lblCount1" << "0 files";
    QTest::newRow("progress heading") << "Label4" << "Converting Messages...";
    QTest::newRow("progress caption") << "LblProgessCurrent" << "Message 0 (of 0)";
    QTest::newRow("frame, blanks kept") << "Frame1" << " File Naming Options ";
    QTest::newRow("original") << "OptOriginal" << "Use original file name";
    QTest::newRow("SD") << "OptSD" << "subject + date (DD-MM-YYYY)";
    QTest::newRow("FSD") << "OptFSD" << "from + subject + date (DD-MM-YYYY)";
    QTest::newRow("FSD_YMD") << "OptFSD_YMD" << "from + subject + date (YYYY-MM-DD)";
    QTest::newRow("DFS") << "OptDFS" << "date (DD-MM-YYYY) + from + subject";
    QTest::newRow("DFS_YMD, trailing blank") << "OptDFS_YMD"
                                             << "date (YYYY-MM-DD) + subject + from ";
    QTest::newRow("DFS_YMD2") << "OptDFS_YMD2" << "date (YYYY-MM-DD) + from + subject";
    QTest::newRow("DFS_MYD") << "OptDFS_MYD" << "date (MM-DD-YYYY) + subject + from";
    QTest::newRow("convert") << "CmdConvert2PDF" << "Convert";
    QTest::newRow("help") << "CmdHelp" << "&Help Manual";
    QTest::newRow("exit") << "cmdEnd" << "E&xit";
}

void MainWindowTest::initialStateShowsTheDesign() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    QObject *control = window.findChild<QObject *>(name);
    QVERIFY2(control, qPrintable(name));
    QString shown;
    if (auto *label = qobject_cast<QLabel *>(control)) shown = label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(control)) shown = button->text();
    if (auto *box = qobject_cast<QGroupBox *>(control)) shown = box->title();
    QCOMPARE(shown, text);
    // Everything is usable at start but Convert.
    QCOMPARE(static_cast<QWidget *>(control)->isEnabled(), name != "CmdConvert2PDF");
}

void MainWindowTest::initialStateOfListOptionsAndProgress() {
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QCOMPARE(window.windowTitle(), QStringLiteral("Tarvelin"));
    QCOMPARE(FocusName(), QStringLiteral("cmdAdd"));
    QCOMPARE(window.SelectedNamingOption(), NamingOption::OptOriginal);
    QVERIFY(Control<QRadioButton>(window, "OptOriginal")->isChecked());
    QVERIFY(Control<QRadioButton>(window, "OptOriginal")->font().bold());

    auto *grid = Control<QTableView>(window, "grdFiles1");
    QCOMPARE(grid->model()->rowCount(), 1);
    QCOMPARE(grid->model()->columnCount(), 1);
    QCOMPARE(grid->model()->index(0, 0).data().toString(), QString());
    QCOMPARE(grid->columnWidth(0), 1000);
    QVERIFY(grid->horizontalHeader()->isHidden());
    QVERIFY(grid->verticalHeader()->isHidden());
    QVERIFY(grid->horizontalScrollBar()->isVisible());
    QCOMPARE(grid->model()->index(0, 0).data(Qt::BackgroundRole).value<QBrush>().color(),
             QColor(255, 255, 191));
    QCOMPARE(grid->palette().color(QPalette::Highlight), QColor(255, 128, 0));
    QCOMPARE(grid->palette().color(QPalette::HighlightedText), QColor(Qt::black));
    QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    // What the grid shows: a yellow cell, its silver grid line, white below the last row.
    const QImage shown = grid->viewport()->grab().toImage();
    QCOMPARE(shown.pixelColor(500, 5), QColor(255, 255, 191));
    QCOMPARE(shown.pixelColor(500, 15), QColor(192, 192, 192));
    QCOMPARE(shown.pixelColor(500, 40), QColor(255, 255, 255));

    auto *bar = Control<QProgressBar>(window, "ProgressBar1");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QCOMPARE(Control<QLabel>(window, "Image1")->pixmap().size(), QSize(22, 22));
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("cdlgFile")) == nullptr);
}

void MainWindowTest::windowIsFixedAndShowsEveryControlWhole() {
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QCOMPARE(window.size(), window.minimumSize());
    QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    // Every control within each widget around it, so none is cut off. Only the bands (Shape*) reach
    // past the window's edges, and plain panels, which show nothing of their own, may too.
    for (QWidget *control : window.findChildren<QWidget *>()) {
        const QString name = control->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")) || name.startsWith(QLatin1String("Shape")) ||
            control->metaObject() == &QWidget::staticMetaObject) {
            continue;
        }
        QRect placed = control->geometry();
        for (QWidget *around = control->parentWidget(); around != nullptr; around = around->parentWidget()) {
            QVERIFY2(around->rect().contains(placed), qPrintable(name + " in " + around->objectName()));
            placed.translate(around->pos());
        }
    }
}

void MainWindowTest::tabVisitsTheControlsInDesignOrder_data() {
    QTest::addColumn<bool>("convertEnabled");
    QTest::addColumn<QString>("selectedOption");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("convert disabled is passed over")
        << false << "OptOriginal"
        << QStringList{"cmdClear1", "CmdAddFolder", "grdFiles1", "cmdEnd", "CmdHelp",
                       "OptOriginal", "cmdAdd"};
    QTest::newRow("convert enabled, group entered at its selection")
        << true << "OptDFS"
        << QStringList{"cmdClear1", "CmdAddFolder", "grdFiles1", "CmdConvert2PDF", "cmdEnd",
                       "CmdHelp", "OptDFS", "cmdAdd"};
}

void MainWindowTest::tabVisitsTheControlsInDesignOrder() {
    QFETCH(bool, convertEnabled);
    QFETCH(QString, selectedOption);
    QFETCH(QStringList, order);
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    if (convertEnabled) {
        dialogs.picks.push_back({"/in/a.msg", "/in/b.msg"});
        Control<QPushButton>(window, "cmdAdd")->click();
    }
    window.findChild<QRadioButton *>(selectedOption)->setChecked(true);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    Control<QPushButton>(window, "cmdAdd")->setFocus();

    QStringList forward;
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward << FocusName();
    }
    QCOMPARE(forward, order);

    QStringList backward;
    QStringList expectedBack;
    for (qsizetype i = order.size() - 2; i >= 0; --i) expectedBack << order[i];
    expectedBack << "cmdAdd";
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        backward << FocusName();
    }
    QCOMPARE(backward, expectedBack);
}

void MainWindowTest::arrowKeysMoveTheNamingOption() {
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    Control<QRadioButton>(window, "OptOriginal")->setFocus();

    const QStringList order = {"OptSD",      "OptFSD",      "OptDFS",     "OptDFS_YMD",
                               "OptDFS_YMD2", "OptFSD_YMD", "OptDFS_MYD", "OptOriginal"};
    QStringList visited;
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), i % 2 ? Qt::Key_Right : Qt::Key_Down);
        visited << FocusName();
        auto *focused = qobject_cast<QRadioButton *>(QApplication::focusWidget());
        QVERIFY(focused && focused->isChecked());
    }
    QCOMPARE(visited, order);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QCOMPARE(FocusName(), QStringLiteral("OptDFS_MYD"));
    QCOMPARE(window.SelectedNamingOption(), NamingOption::OptDFS_MYD);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    QCOMPARE(window.SelectedNamingOption(), NamingOption::OptFSD_YMD);
    QVERIFY(!Control<QRadioButton>(window, "OptDFS_MYD")->isChecked());
}

void MainWindowTest::enterAndSpacePressTheFocusedButton_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("effect");
    QTest::newRow("enter on add files") << "cmdAdd" << int(Qt::Key_Return) << "pick";
    QTest::newRow("keypad enter on add files") << "cmdAdd" << int(Qt::Key_Enter) << "pick";
    QTest::newRow("space on add files") << "cmdAdd" << int(Qt::Key_Space) << "pick";
    QTest::newRow("enter on add folder") << "CmdAddFolder" << int(Qt::Key_Return)
                                         << "browse:Choose Source Folder...";
    QTest::newRow("enter on convert") << "CmdConvert2PDF" << int(Qt::Key_Return)
                                      << "browse:Choose Folder to Save...";
    QTest::newRow("enter on clear") << "cmdClear1" << int(Qt::Key_Return) << "question";
    QTest::newRow("enter on help") << "CmdHelp" << int(Qt::Key_Return) << "open";
    QTest::newRow("enter on exit") << "cmdEnd" << int(Qt::Key_Return) << "question";
}

void MainWindowTest::enterAndSpacePressTheFocusedButton() {
    QFETCH(QString, button);
    QFETCH(int, key);
    QFETCH(QString, effect);
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    // A listed file, so that Convert is enabled and Clear asks.
    dialogs.picks.push_back({"/in/a.msg"});
    Control<QPushButton>(window, "cmdAdd")->click();
    dialogs.pickCount = 0;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.findChild<QPushButton *>(button)->setFocus();

    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));

    if (effect == "pick") QCOMPARE(dialogs.pickCount, 1);
    if (effect.startsWith("browse:")) {
        QCOMPARE(dialogs.browseTitles, std::vector<std::string>{effect.mid(7).toStdString()});
    }
    if (effect == "question") {
        QCOMPARE(dialogs.shown.size(), std::size_t(1));
        QCOMPARE(dialogs.shown[0].kind, MessageKind::Question);
    }
    if (effect == "open") {
        QCOMPARE(dialogs.opened.size(), std::size_t(1));
        const QString address = QString::fromStdString(dialogs.opened[0]);
        QVERIFY2(address.startsWith("file://"), qPrintable(address));
#ifdef Q_OS_WIN
        QVERIFY2(address.endsWith("/tests/help/index.html"), qPrintable(address));
#else
        QVERIFY2(address.endsWith("/share/tarvelin/help/index.html"), qPrintable(address));
#endif
    }
    QVERIFY(window.isVisible());
}

void MainWindowTest::escapeDoesNothing() {
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(window.isVisible());
    QVERIFY(dialogs.shown.empty());
    QCOMPARE(dialogs.pickCount, 0);
    QCOMPARE(FocusName(), QStringLiteral("cmdAdd"));
}

void MainWindowTest::accessKeysPressHelpAndExit() {
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // An access key presses its button the way a click does, after the button shows itself down.
    QTest::keyClick(&window, Qt::Key_H, Qt::AltModifier);
    QTRY_COMPARE(dialogs.opened.size(), std::size_t(1));

    dialogs.answers.push_back(Answer::No);
    QTest::keyClick(&window, Qt::Key_X, Qt::AltModifier);
    QTRY_COMPARE(dialogs.shown.size(), std::size_t(1));
    QCOMPARE(dialogs.shown[0].kind, MessageKind::Question);
    QCOMPARE(dialogs.shown[0].text, std::string("Are you sure you want to exit now?"));
    QVERIFY(window.isVisible());

    // No other letter is an access key.
    QTest::keyClick(&window, Qt::Key_A, Qt::AltModifier);
    QTest::keyClick(&window, Qt::Key_C, Qt::AltModifier);
    QTest::qWait(300);
    QCOMPARE(dialogs.shown.size(), std::size_t(1));
    QCOMPARE(dialogs.pickCount, 0);
}

void MainWindowTest::exitAnsweredYesClosesTheWindow() {
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    dialogs.answers.push_back(Answer::Yes);
    Control<QPushButton>(window, "cmdEnd")->click();
    QVERIFY(!window.isVisible());
    QCOMPARE(dialogs.shown.size(), std::size_t(1));
}

void MainWindowTest::convertFollowsTheListRules_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("convertEnabled");
    QTest::addColumn<QString>("count");
    QTest::addColumn<int>("questions");
    QTest::newRow("file pick enables") << QStringList{"pick"} << true << "2 files" << 0;
    QTest::newRow("cancelled pick empties, keeps enabled")
        << QStringList{"pick", "pickCancel"} << true << "0 files" << 0;
    QTest::newRow("cancelled pick keeps disabled") << QStringList{"pickCancel"} << false
                                                   << "0 files" << 0;
    QTest::newRow("clear answered yes") << QStringList{"pick", "clearYes"} << false << "0 files"
                                        << 1;
    QTest::newRow("clear answered no keeps the rows")
        << QStringList{"pick", "clearNo"} << false << "2 files" << 1;
    QTest::newRow("clear on an empty list asks nothing")
        << QStringList{"pick", "clearYes", "clearYes"} << false << "0 files" << 1;
    QTest::newRow("scan with messages enables") << QStringList{"scanFiles"} << true << "2 files"
                                                << 0;
    QTest::newRow("scan without messages disables")
        << QStringList{"pick", "scanEmpty"} << false << "2 files" << 0;
    QTest::newRow("cancelled folder browser keeps")
        << QStringList{"pick", "scanCancel"} << true << "2 files" << 0;
    QTest::newRow("scan appends to a pick") << QStringList{"pick", "scanFiles"} << true
                                            << "4 files" << 0;
    QTest::newRow("a run keeps it") << QStringList{"pick", "run"} << true << "2 files" << 0;
}

void MainWindowTest::convertFollowsTheListRules() {
    QFETCH(QStringList, steps);
    QFETCH(bool, convertEnabled);
    QFETCH(QString, count);
    QFETCH(int, questions);
    TempDir temp;
    WriteFile(temp.path() / "in/a.msg", "Subject: a\r\n\r\nbody\r\n");
    WriteFile(temp.path() / "in/b.msg", "Subject: b\r\n\r\nbody\r\n");
    WriteFile(temp.path() / "none/readme.txt", "x");
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);

    for (const QString &step : steps) {
        if (step == "pick") dialogs.picks.push_back({temp / "in/a.msg", temp / "in/b.msg"});
        if (step == "scanFiles") dialogs.folders.push_back(temp / "in");
        if (step == "scanEmpty") dialogs.folders.push_back(temp / "none");
        if (step == "run") dialogs.folders.push_back(temp / "out");
        if (step == "clearYes") dialogs.answers.push_back(Answer::Yes);
        if (step == "clearNo") dialogs.answers.push_back(Answer::No);
        const char *button = step.startsWith("pick")    ? "cmdAdd"
                             : step.startsWith("scan")  ? "CmdAddFolder"
                             : step.startsWith("clear") ? "cmdClear1"
                                                        : "CmdConvert2PDF";
        Control<QPushButton>(window, button)->click();
    }

    QCOMPARE(Control<QPushButton>(window, "CmdConvert2PDF")->isEnabled(), convertEnabled);
    QCOMPARE(Control<QLabel>(window, "lblCount1")->text(), count);
    const auto asked = std::count_if(dialogs.shown.begin(), dialogs.shown.end(),
                                     [](const auto &m) { return m.kind == MessageKind::Question; });
    QCOMPARE(int(asked), questions);
    for (const auto &message : dialogs.shown) {
        if (message.kind == MessageKind::Question) {
            QCOMPARE(QString::fromStdString(message.text),
                     QStringLiteral("Do you want to clear all the files in the list\n Proceed?"));
        }
    }
    // The other list buttons are usable again whatever happened.
    QVERIFY(Control<QPushButton>(window, "cmdAdd")->isEnabled());
    QVERIFY(Control<QPushButton>(window, "CmdAddFolder")->isEnabled());
    QVERIFY(Control<QPushButton>(window, "cmdClear1")->isEnabled());
}

void MainWindowTest::addFilesReplacesTheList() {
    TempDir temp;
    WriteFile(temp.path() / "in/one.msg", "x");
    WriteFile(temp.path() / "in/two.msg", "x");
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    auto *grid = Control<QTableView>(window, "grdFiles1");
    dialogs.folders.push_back(temp / "in");
    Control<QPushButton>(window, "CmdAddFolder")->click();
    QCOMPARE(window.messageList().EntryCount(), std::size_t(2));

    dialogs.picks.push_back({"/z/c.msg", "/a/b.msg", "/z/c.msg"});
    Control<QPushButton>(window, "cmdAdd")->click();
    QCOMPARE(ListedPaths(window), (QStringList{"/z/c.msg", "/a/b.msg", "/z/c.msg"}));
    QCOMPARE(grid->model()->rowCount(), 3);
    QCOMPARE(grid->model()->index(1, 0).data().toString(), QStringLiteral("/a/b.msg"));
    QCOMPARE(Control<QLabel>(window, "lblCount1")->text(), QStringLiteral("3 files"));

    Control<QPushButton>(window, "cmdAdd")->click();  // cancelled
    QVERIFY(window.messageList().IsEmpty());
    QCOMPARE(grid->model()->rowCount(), 1);
    QCOMPARE(grid->model()->index(0, 0).data().toString(), QString());
    QCOMPARE(Control<QLabel>(window, "lblCount1")->text(), QStringLiteral("0 files"));
}

void MainWindowTest::folderScanReportsCountAndRestoresCursor_data() {
    QTest::addColumn<QStringList>("lockedFolders");
    QTest::addColumn<QString>("box");
    QTest::newRow("all read") << QStringList{} << "3 Files Added to List.";
    QTest::newRow("one folder unread") << QStringList{"locked1"}
                                       << "3 Files Added to List.\n1 folder could not be read.";
    QTest::newRow("several folders unread")
        << QStringList{"locked1", "locked2", "locked3"}
        << "3 Files Added to List.\n3 folders could not be read.";
}

void MainWindowTest::folderScanReportsCountAndRestoresCursor() {
    QFETCH(QStringList, lockedFolders);
    QFETCH(QString, box);
    TempDir temp;
    WriteFile(temp.path() / "tree/a.msg", "x");
    WriteFile(temp.path() / "tree/b.MSG", "x");
    WriteFile(temp.path() / "tree/c.eml", "x");
    WriteFile(temp.path() / "tree/sub/d.Msg", "x");
    for (const QString &locked : lockedFolders) {
        WriteFile(temp.path() / "tree" / locked.toStdString() / "e.msg", "x");
    }
    ScriptedDialogs dialogs;
    NativeFileService files;
    testing::LockedFolderLister lister(
        [](const std::string &folder) { return folder.find("locked") != std::string::npos; },
        Status::Failure(ErrorKind::Other, "permission denied"));
    frmStep1 window(dialogs, files, lister);
    dialogs.folders.push_back(temp / "tree");

    Control<QPushButton>(window, "CmdAddFolder")->click();

    QCOMPARE(dialogs.browseTitles, std::vector<std::string>{"Choose Source Folder..."});
    QCOMPARE(dialogs.shown.size(), std::size_t(1));
    QCOMPARE(dialogs.shown[0].kind, MessageKind::Count);
    // The count, then each folder that could not be read with the reason, in walk order.
    const QStringList lines = QString::fromStdString(dialogs.shown[0].text).split('\n');
    QCOMPARE(lines.mid(0, box.count('\n') + 1).join('\n'), box);
    QCOMPARE(lines.size(), box.count('\n') + 1 + lockedFolders.size());
    for (const QString &locked : lockedFolders) {
        const QString line = QString::fromStdString(temp / "tree/") + locked + QChar(kNativeSeparator) + ": permission denied";
        QVERIFY2(lines.contains(line), qPrintable(line));
    }
    QVERIFY(!dialogs.shown[0].waitCursor);
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(Control<QPushButton>(window, "CmdConvert2PDF")->isEnabled());
    QCOMPARE(Control<QLabel>(window, "lblCount1")->text(), QStringLiteral("3 files"));
}

void MainWindowTest::droppedFilesAndFoldersAreAppended() {
    TempDir temp;
    WriteFile(temp.path() / "tree/a.msg", "x");
    WriteFile(temp.path() / "tree/sub/b.msg", "x");
    WriteFile(temp.path() / "loose/C.MSG", "x");
    WriteFile(temp.path() / "loose/notes.txt", "x");
    // Outside any single code page, so a path that went through one would come out changed.
    const QString wide = QStringLiteral(u"Grüße Почта 日本.msg");
    WriteFile(temp.path() / "loose" / std::filesystem::path(wide.toStdU16String()), "x");
    const QString widePath = QString::fromStdString(temp / "loose/") + wide;
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    dialogs.picks.push_back({"/first.msg"});
    Control<QPushButton>(window, "cmdAdd")->click();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(temp / "tree")),
                  QUrl::fromLocalFile(QString::fromStdString(temp / "loose/C.MSG")),
                  QUrl::fromLocalFile(QString::fromStdString(temp / "loose/notes.txt")),
                  QUrl::fromLocalFile(widePath)});
    QWidget *viewport = Control<QTableView>(window, "grdFiles1")->viewport();
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);

    QTRY_COMPARE(dialogs.shown.size(), std::size_t(1));
    QCOMPARE(dialogs.shown[0].kind, MessageKind::Count);
    QCOMPARE(dialogs.shown[0].text, std::string("4 Files Added to List."));
    QCOMPARE(ListedPaths(window),
             (QStringList{"/first.msg", QString::fromStdString(temp / "tree/a.msg"),
                          QString::fromStdString(temp / "tree/sub/b.msg"),
                          QString::fromStdString(temp / "loose/C.MSG"), widePath}));
    const QAbstractItemModel *grid = Control<QTableView>(window, "grdFiles1")->model();
    QCOMPARE(grid->data(grid->index(4, 0)).toString(), widePath);
}

void MainWindowTest::focusComesBackAfterTheWork_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("drop");  // a folder dropped on the grid instead of Enter pressed
    QTest::newRow("add files") << "cmdAdd" << false;
    QTest::newRow("folder scan") << "CmdAddFolder" << false;
    QTest::newRow("run, not Exit") << "CmdConvert2PDF" << false;
    QTest::newRow("drop while Clear has it") << "cmdClear1" << true;
}

void MainWindowTest::focusComesBackAfterTheWork() {
    QFETCH(QString, focus);
    QFETCH(bool, drop);
    TempDir temp;
    WriteFile(temp.path() / "in/a.msg", "Subject: a\r\n\r\nbody\r\n");
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    dialogs.picks.push_back({temp / "in/a.msg"});
    Control<QPushButton>(window, "cmdAdd")->click();
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.findChild<QWidget *>(focus)->setFocus();
    dialogs.picks.push_back({temp / "in/a.msg"});
    dialogs.folders.push_back(focus == "CmdAddFolder" ? temp / "in" : temp / "out");

    if (drop) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(temp / "in"))});
        QWidget *viewport = Control<QTableView>(window, "grdFiles1")->viewport();
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                           Qt::NoModifier);
        QApplication::sendEvent(viewport, &dropped);
        QTRY_COMPARE(dialogs.shown.size(), std::size_t(1));
    } else {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }

    // Where a real box hands it back, and where it is after work that ends without a box.
    QCOMPARE(dialogs.shown.size(), std::size_t(focus == "cmdAdd" ? 0 : 1));
    if (!dialogs.shown.empty()) QCOMPARE(dialogs.shown[0].focus, focus);
    QCOMPARE(FocusName(), focus);
}

void MainWindowTest::hundredThousandPathsArriveInBatches() {
    constexpr int kPaths = 100000;
    std::vector<std::string> paths;
    paths.reserve(kPaths);
    for (int i = 0; i < kPaths; ++i) {
        paths.push_back("/archive/mailbox-" + std::to_string(i % 97) + "/message-" +
                        std::to_string(i) + ".msg");
    }
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *grid = Control<QTableView>(window, "grdFiles1");
    QSignalSpy inserted(grid->model(), &QAbstractItemModel::rowsInserted);
    dialogs.picks.push_back(std::move(paths));

    QElapsedTimer clock;
    clock.start();
    Control<QPushButton>(window, "cmdAdd")->click();
    const qint64 addMs = clock.restart();

    QCOMPARE(grid->model()->rowCount(), kPaths);
    QCOMPARE(Control<QLabel>(window, "lblCount1")->text(), QStringLiteral("100000 files"));
    // One insertion per yield at most, never one per row.
    QVERIFY2(inserted.count() < 200, qPrintable(QString::number(inserted.count())));

    // Jump through the list as a scroll bar drag would, painting each stop.
    QScrollBar *bar = grid->verticalScrollBar();
    for (int step = 0; step <= 50; ++step) {
        bar->setValue(bar->maximum() * step / 50);
        grid->viewport()->repaint();
    }
    const qint64 scrollMs = clock.elapsed();
    const int topRow = grid->rowAt(0);
    QVERIFY2(topRow > kPaths - 10, qPrintable(QString::number(topRow)));
    QCOMPARE(grid->model()->index(topRow, 0).data().toString(),
             QStringLiteral("/archive/mailbox-") + QString::number(topRow % 97) + "/message-" +
                 QString::number(topRow) + ".msg");
    qInfo("100000 paths: added and shown in %lld ms, 51 scroll stops painted in %lld ms", addMs,
          scrollMs);
    QVERIFY(addMs < 5000);
    QVERIFY(scrollMs < 5000);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
