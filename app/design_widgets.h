// The pieces of the window's design that the toolkit has no ready control for: the twips of the
// layout, the fonts, the white bands, the etched frame, the tick and the grid's look.
#pragma once

#include <QGroupBox>
#include <QRect>
#include <QString>

class QFrame;
class QLabel;
class QTableView;

namespace tarvelin {

// The layout is designed in twips, converted at the screen's resolution: 15 to the pixel at 96
// dots per inch, 12 at 120. Enlarged fonts so get a window enlarged with them, and keep fitting.
class Twips {
public:
    explicit Twips(qreal dotsPerInch) : pixelsPerTwip_(dotsPerInch / 1440.0) {}
    int Px(int twips) const;
    QRect Rect(int left, int top, int width, int height) const;

private:
    qreal pixelsPerTwip_;
};

// Tahoma, or a similar sans-serif face where it is missing.
QFont DesignFont(qreal points, bool bold);

// Gives the control its design name and place.
template <typename T>
T *Place(T *widget, const char *name, const QRect &geometry) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

void PaintWhite(QWidget *widget);

// A white band with a one-pixel silver border, beneath every other control.
QFrame *MakeBand(QWidget *window, const char *name, const QRect &geometry);

// The green tick at its natural size, at the left of the progress line.
QLabel *MakeTick(QWidget *window, const char *name, const QRect &geometry);

// Light yellow cells on white, silver grid lines, orange selection with black text.
void PaintGrid(QTableView *grid);

// A group box drawn as an etched frame with its caption set into the top edge, whatever the
// style's own habit (some put the caption above the frame).
class EtchedGroupBox : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *event) override;
};

}  // namespace tarvelin
