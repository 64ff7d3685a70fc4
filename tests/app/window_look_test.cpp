// How the window looks at the scaling or font resolution the test is started with (CTest starts it
// at 100%, 125%, 150% and at a font DPI of 120): the layout in twips at the screen's resolution,
// every caption within its control, and the selected cell drawn flat.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTest>
#include <QtMath>

#include "app/main_window.h"
#include "tests/app/find_control.h"
#include "tests/app/scripted_dialogs.h"

using namespace tarvelin;
using tarvelin::testing::Control;
using tarvelin::testing::ScriptedDialogs;

namespace {

QString Shown(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

// The width a control needs to show its caption whole, margins and indicator included.
int NeededWidth(QWidget *control) {
    if (auto *push = qobject_cast<QPushButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(push);
        const QSize text = push->fontMetrics().size(Qt::TextShowMnemonic, push->text());
        // Without the style's floor on button widths: only what the caption takes counts.
        return push->style()->sizeFromContents(QStyle::CT_PushButton, &option, text, push).width();
    }
    if (auto *option = qobject_cast<QRadioButton *>(control)) {
        // A blank at the end of a caption shows nothing, so it may be cut.
        const QString caption = option->text();
        const QString blanks = caption.mid(caption.trimmed().size());
        return option->sizeHint().width() - option->fontMetrics().horizontalAdvance(blanks);
    }
    if (auto *box = qobject_cast<QGroupBox *>(control)) {
        return 8 + box->fontMetrics().horizontalAdvance(Shown(box->title()));
    }
    auto *label = qobject_cast<QLabel *>(control);
    return label->fontMetrics().horizontalAdvance(label->text());
}

}  // namespace

class WindowLookTest : public QObject {
    Q_OBJECT
private slots:
    void layoutIsInTwipsAtTheScreensResolution();
    void everyCaptionFitsItsControl_data();
    void everyCaptionFitsItsControl();
    void selectedCellIsFlatOrange();
};

void WindowLookTest::layoutIsInTwipsAtTheScreensResolution() {
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    const qreal twipsPerPixel = 1440.0 / window.logicalDpiY();
    QCOMPARE(window.size(), QSize(qRound(8775 / twipsPerPixel), qRound(7920 / twipsPerPixel)));
    QCOMPARE(Control<QWidget>(window, "cmdEnd")->width(), qRound(1335 / twipsPerPixel));
    QCOMPARE(Control<QTableView>(window, "grdFiles1")->columnWidth(0),
             qRound(15000 / twipsPerPixel));
}

void WindowLookTest::everyCaptionFitsItsControl_data() {
    QTest::addColumn<QString>("name");
    for (const char *name : {"lblTitle", "lblCopyright", "cmdAdd", "CmdAddFolder", "cmdClear1",
                             "lblCount1", "Label4", "LblProgessCurrent", "Frame1", "OptOriginal",
                             "OptSD", "OptFSD", "OptFSD_YMD", "OptDFS", "OptDFS_YMD",
                             "OptDFS_YMD2", "OptDFS_MYD", "CmdConvert2PDF", "CmdHelp", "cmdEnd"}) {
        QTest::newRow(name) << QString::fromLatin1(name);
    }
}

void WindowLookTest::everyCaptionFitsItsControl() {
    QFETCH(QString, name);
    ScriptedDialogs dialogs;
    frmStep1 window(dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *control = window.findChild<QWidget *>(name);
    QVERIFY2(control, qPrintable(name));
    if (name == "LblProgessCurrent") {
        // The longest caption a large list gives.
        static_cast<QLabel *>(control)->setText(QStringLiteral("Message 999999 (of 999999)"));
    }
    const int needed = NeededWidth(control);
    qInfo("%s at %d dpi x %.2f: needs %d of %d pixels", qPrintable(name),
          window.logicalDpiY(), window.devicePixelRatioF(), needed, control->width());
    QVERIFY2(needed <= control->width(),
             qPrintable(QStringLiteral("%1 needs %2, has %3")
                            .arg(name)
                            .arg(needed)
                            .arg(control->width())));
    QVERIFY(control->fontMetrics().height() <= control->height());
}

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
