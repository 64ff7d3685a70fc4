// Saves pictures of the window for review: at start, and with a list and a finished run.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "app/main_window.h"
#include "tests/app/scripted_dialogs.h"

using namespace tarvelin;
using tarvelin::testing::ScriptedDialogs;

class WindowScreenshot : public QObject {
    Q_OBJECT
private slots:
    void savePictures();
};

void WindowScreenshot::savePictures() {
    const QString folder = QStringLiteral(TARVELIN_BINARY_DIR "/screenshots");
    QVERIFY(QDir().mkpath(folder));
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPixmap start = window.grab();
    QCOMPARE(start.size(), QSize(585, 528));
    QVERIFY(start.save(folder + "/frmStep1.png"));

    std::vector<std::string> paths;
    for (int i = 1; i <= 12; ++i) {
        paths.push_back("/srv/mdaemon/users/example.com/ann/Inbox/md5000000000" +
                        std::to_string(1000 + i) + ".msg");
    }
    dialogs.picks.push_back(paths);
    window.findChild<QPushButton *>("cmdAdd")->click();
    window.findChild<QRadioButton *>("OptDFS_YMD2")->setChecked(true);
    window.findChild<QProgressBar *>("ProgressBar1")->setValue(75);
    window.findChild<QLabel *>("LblProgessCurrent")->setText("Message 9 (of 12)");
    QTest::qWait(50);  // lets the grid lay out its scroll bars before the picture
    QVERIFY(window.grab().save(folder + "/frmStep1-list.png"));
}

QTEST_MAIN(WindowScreenshot)
#include "window_screenshot.moc"
