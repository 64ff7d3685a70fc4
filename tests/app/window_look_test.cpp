// How the window looks at the scaling or font resolution the test is started with (CTest starts it
// at 100%, 125%, 150% and at a font DPI of 120).
#include <QApplication>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "app/main_window.h"
#include "tests/app/find_control.h"
#include "tests/app/scripted_dialogs.h"

using namespace tarvelin;
using tarvelin::testing::Control;
using tarvelin::testing::ScriptedDialogs;

class WindowLookTest : public QObject {
    Q_OBJECT
private slots:
    void selectedCellIsFlatOrange();
};

void WindowLookTest::selectedCellIsFlatOrange() {
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    dialogs.picks.push_back({"/in/a.msg", "/in/b.msg", "/in/c.msg"});
    Control<QPushButton>(window, "cmdAdd")->click();
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *grid = Control<QTableView>(window, "grdFiles1");
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(1, 0));

    const QRect cell = grid->visualRect(grid->model()->index(1, 0));
    const QImage shown = grid->viewport()->grab().toImage();
    const qreal ratio = shown.devicePixelRatio();
    // A column right of the text, from the top of the cell to above its grid line.
    const int x = qRound((qMin(cell.right(), grid->viewport()->width()) - 20) * ratio);
    for (int y = qCeil(cell.top() * ratio) + 1; y < qFloor(cell.bottom() * ratio) - 1; ++y) {
        QCOMPARE(shown.pixelColor(x, y), QColor(255, 128, 0));
    }
    // The current cell, with the keyboard in the grid, shows a dotted outline.
    int outlined = 0;
    for (int across = 0; across < x; ++across) {
        outlined += shown.pixelColor(across, qCeil(cell.top() * ratio)).lightness() < 100;
    }
    QVERIFY2(outlined > x / 4, qPrintable(QString::number(outlined)));
}

QTEST_MAIN(WindowLookTest)
#include "window_look_test.moc"
