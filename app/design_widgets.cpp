#include "app/design_widgets.h"

#include <QApplication>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QTableView>
#include <cmath>

namespace tarvelin {

namespace {

const QColor kWhite(255, 255, 255);
const QColor kSilver(192, 192, 192);
const QColor kOrange(255, 128, 0);

// The application's style, but with silver grid lines in the table, and the selected cell in one
// flat colour with a dotted outline for the current one where the style would shade them.
class GridStyle : public QProxyStyle {
public:
    GridStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override {
        if (element == PE_PanelItemViewItem && (option->state & State_Selected)) {
            painter->fillRect(option->rect, option->palette.brush(QPalette::Highlight));
            return;
        }
        if (element == PE_FrameFocusRect && qobject_cast<const QAbstractItemView *>(widget)) {
            painter->save();
            painter->setPen(QPen(option->palette.color(QPalette::Text), 1, Qt::DotLine));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
            painter->restore();
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override {
        if (hint == SH_Table_GridLineColor) return static_cast<int>(kSilver.rgba());
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

int Twips::Px(int twips) const {
    return static_cast<int>(std::lround(twips * pixelsPerTwip_));
}

QRect Twips::Rect(int left, int top, int width, int height) const {
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

QFont DesignFont(qreal points, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    // The captions are sized for Tahoma; DejaVu Sans, the usual last resort, runs wider and
    // would clip them, its condensed face does not.
    if (QFontInfo(font).family().startsWith(QStringLiteral("DejaVu Sans"))) {
        font.setStretch(QFont::SemiCondensed);
    }
    return font;
}

void PaintWhite(QWidget *widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, kWhite);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QFrame *MakeBand(QWidget *window, const char *name, const QRect &geometry) {
    auto *band = Place(new QFrame(window), name, geometry);
    band->setStyleSheet(QStringLiteral("QFrame { background-color: rgb(255,255,255);"
                                       " border: 1px solid rgb(192,192,192); }"));
    band->setAttribute(Qt::WA_TransparentForMouseEvents);
    band->lower();
    return band;
}

QLabel *MakeTick(QWidget *window, const char *name, const QRect &geometry) {
    auto *tick = Place(new QLabel(window), name, geometry);
    tick->setPixmap(QPixmap(QStringLiteral(":/tarvelin/tick.png")));
    tick->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return tick;
}

void PaintGrid(QTableView *grid) {
    QPalette palette = grid->palette();
    palette.setColor(QPalette::Base, kWhite);
    palette.setColor(QPalette::Highlight, kOrange);
    palette.setColor(QPalette::HighlightedText, Qt::black);
    // Keep the orange when the window is not the active one, as the design's grid does.
    palette.setColor(QPalette::Inactive, QPalette::Highlight, kOrange);
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
    grid->setPalette(palette);
    auto *style = new GridStyle;
    style->setParent(grid);
    grid->setStyle(style);
}

void EtchedGroupBox::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int top = metrics.height() / 2;
    const QRect frame = rect().adjusted(0, top, -2, -2);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(frame);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.translated(1, 1));
    const int captionLeft = 8;
    const QRect caption(captionLeft, 0, metrics.horizontalAdvance(title()), metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                   QPalette::WindowText));
    painter.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, title());
}

}  // namespace tarvelin
