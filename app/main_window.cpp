#include "app/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleFactory>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <new>
#include <stdexcept>

#include "app/help_address.h"
#include "app/message_list_model.h"
#include "conversion/conversion_run.h"
#include "messagelist/folder_scan.h"

namespace tarvelin {

namespace {

#ifdef _WIN32
constexpr const char *kLineBreak = "\r\n";
#else
constexpr const char *kLineBreak = "\n";
#endif

// Handing control to the event loop costs far more than an item of work; more often than this
// only slows the work without making the window feel any livelier.
constexpr qint64 kYieldIntervalMs = 15;
constexpr std::size_t kFailuresListed = 10;
constexpr int kClientWidth = 585;
constexpr int kClientHeight = 528;
constexpr int kColumnWidth = 1000;
constexpr int kRowHeight = 16;

const QColor kWhite(255, 255, 255);
const QColor kSilver(192, 192, 192);

// The layout is designed in twips, 15 to the pixel.
int Px(int twips) { return static_cast<int>(std::lround(twips / 15.0)); }

QRect TwipRect(int left, int top, int width, int height) {
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

template <typename T>
T *Place(T *widget, const char *name, const QRect &geometry) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

void PaintWhite(QWidget *widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, kWhite);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A white band with a one-pixel silver border, beneath every other control.
QFrame *MakeBand(QWidget *window, const char *name, const QRect &geometry) {
    auto *band = Place(new QFrame(window), name, geometry);
    band->setStyleSheet(QStringLiteral("QFrame { background-color: rgb(255,255,255);"
                                       " border: 1px solid rgb(192,192,192); }"));
    band->setAttribute(Qt::WA_TransparentForMouseEvents);
    band->lower();
    return band;
}

std::string NativePath(const QString &path) {
    return QFile::encodeName(QDir::toNativeSeparators(path)).toStdString();
}

// "... and N more" after the first few of a long list of problems.
void AppendListed(std::string &text, const std::vector<std::string> &lines) {
    for (std::size_t i = 0; i < lines.size() && i < kFailuresListed; ++i) text += kLineBreak + lines[i];
    if (lines.size() > kFailuresListed) {
        text += kLineBreak + std::string("... and ") + std::to_string(lines.size() - kFailuresListed) +
                " more";
    }
}

std::string CountText(std::int64_t added, const std::vector<UnreadFolder> &unread) {
    std::string text = std::to_string(added) + " Files Added to List.";
    if (unread.size() == 1) {
        text += kLineBreak + std::string("1 folder could not be read.");
    } else if (unread.size() > 1) {
        text += kLineBreak + std::to_string(unread.size()) + " folders could not be read.";
    }
    std::vector<std::string> lines;
    for (const UnreadFolder &folder : unread) lines.push_back(folder.path + ": " + folder.reason);
    AppendListed(text, lines);
    return text;
}

std::string FailureText(const ConversionReport &report) {
    const auto failed = static_cast<std::int64_t>(report.failures.size());
    std::string text = "Completed !" + std::string(kLineBreak) + std::to_string(failed) + " of " +
                       std::to_string(report.converted + failed) +
                       (report.converted + failed == 1 ? " message" : " messages") +
                       " could not be converted:";
    std::vector<std::string> lines;
    for (const ConversionFailure &failure : report.failures)
        lines.push_back(failure.path + ": " + failure.reason);
    AppendListed(text, lines);
    return text;
}

// A group box drawn as an etched frame with its caption set into the top edge, whatever the
// style's own habit (some put the caption above the frame).
class EtchedGroupBox : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *) override {
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
};

// The application's style, but with silver grid lines in the table.
class SilverGridStyle : public QProxyStyle {
public:
    SilverGridStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override {
        if (hint == SH_Table_GridLineColor) return static_cast<int>(kSilver.rgba());
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

}  // namespace

// The core's hook while the window works: keeps the window responsive and relays progress.
class frmStep1::Work : public RunObserver {
public:
    explicit Work(frmStep1 &window) : window_(window) { sinceEvents_.start(); }

    void Yield() override {
        if (sinceEvents_.elapsed() < kYieldIntervalMs) return;
        window_.ShowListSoFar();
        QCoreApplication::processEvents();
        sinceEvents_.restart();
    }
    bool StopRequested() const override { return window_.stopRequested_; }
    NamingOption SelectedNamingOption() override { return window_.SelectedNamingOption(); }
    void ShowProgress(float barValue, const std::string &caption) override {
        window_.ShowProgress(barValue, caption);
    }

private:
    frmStep1 &window_;
    QElapsedTimer sinceEvents_;
};

// Locks the list operations for the length of a long operation and restores them after it.
class frmStep1::BusyScope {
public:
    explicit BusyScope(frmStep1 &window) : window_(window) { window_.SetBusy(true); }
    ~BusyScope() { window_.SetBusy(false); }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    frmStep1 &window_;
};

frmStep1::frmStep1(Dialogs &dialogs, QWidget *parent)
    : frmStep1(dialogs, std::make_unique<NativeFileService>(), nullptr, NativeDirectoryLister(),
               parent) {}

frmStep1::frmStep1(Dialogs &dialogs, FileService &files, const DirectoryLister &lister,
                   QWidget *parent)
    : frmStep1(dialogs, nullptr, &files, lister, parent) {}

frmStep1::frmStep1(Dialogs &dialogs, std::unique_ptr<FileService> ownFiles, FileService *files,
                   const DirectoryLister &lister, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      dialogs_(dialogs),
      ownFiles_(std::move(ownFiles)),
      files_(files ? *files : *ownFiles_),
      lister_(lister) {
    setObjectName(QStringLiteral("frmStep1"));
    setWindowTitle(QStringLiteral("Tarvelin"));
    setFont(DesignFont(8.25, false));
    setFixedSize(kClientWidth, kClientHeight);
    CreateControls();
    SetUpKeyboard();
    convertEnabled_ = ConvertEnabledAfter(ListEvent::StartUp, false);
    CmdConvert2PDF_->setEnabled(convertEnabled_);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect placed = rect();
        placed.moveCenter(screen->availableGeometry().center());
        move(placed.topLeft());
    }
    cmdAdd_->setFocus();
}

frmStep1::~frmStep1() = default;

void frmStep1::CreateControls() {
    MakeBand(this, "Shape2", TwipRect(-120, 0, 8895, 855));

    auto *lblTitle = Place(new QLabel(QStringLiteral("Tarvelin"), this), "lblTitle",
                           TwipRect(240, 120, 6255, 375));
    lblTitle->setFont(DesignFont(14.25, true));
    PaintWhite(lblTitle);
    auto *lblCopyright =
        Place(new QLabel(QStringLiteral("Copyright \u00A9 The Tarvelin developers"), this),
              "lblCopyright", TwipRect(240, 480, 6135, 255));
    PaintWhite(lblCopyright);

    cmdAdd_ = Place(new QPushButton(QStringLiteral("Add MDaemon Email Message(s)..."), this),
                    "cmdAdd", TwipRect(240, 960, 2775, 375));
    CmdAddFolder_ = Place(
        new QPushButton(QStringLiteral("Add MDaemon Email Folder having Message(s)..."), this),
        "CmdAddFolder", TwipRect(3120, 960, 3855, 375));
    cmdClear1_ = Place(new QPushButton(QStringLiteral("Clear File(s)..."), this), "cmdClear1",
                       TwipRect(7200, 960, 1335, 375));

    lblCount1_ = Place(new QLabel(QString::fromStdString(list_.CountText()), this), "lblCount1",
                       TwipRect(270, 1560, 4335, 255));

    model_ = new MessageListModel(list_, this);
    grdFiles1_ = Place(new QTableView(this), "grdFiles1", TwipRect(240, 1800, 8295, 1575));
    grdFiles1_->setModel(model_);
    grdFiles1_->horizontalHeader()->hide();
    grdFiles1_->verticalHeader()->hide();
    grdFiles1_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdFiles1_->setColumnWidth(0, kColumnWidth);
    // Uniform rows let the view place any of a hundred thousand rows without measuring them.
    grdFiles1_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdFiles1_->verticalHeader()->setMinimumSectionSize(1);
    grdFiles1_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grdFiles1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdFiles1_->setSelectionMode(QAbstractItemView::SingleSelection);
    grdFiles1_->setSelectionBehavior(QAbstractItemView::SelectItems);
    grdFiles1_->setTabKeyNavigation(false);
    grdFiles1_->setWordWrap(false);
    grdFiles1_->setTextElideMode(Qt::ElideNone);
    grdFiles1_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    grdFiles1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grdFiles1_->setFocusPolicy(Qt::StrongFocus);
    QPalette gridPalette = grdFiles1_->palette();
    gridPalette.setColor(QPalette::Base, kWhite);
    gridPalette.setColor(QPalette::Highlight, QColor(255, 128, 0));
    gridPalette.setColor(QPalette::HighlightedText, Qt::black);
    // Keep the orange when the window is not the active one, as the design's grid does.
    gridPalette.setColor(QPalette::Inactive, QPalette::Highlight, QColor(255, 128, 0));
    gridPalette.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
    grdFiles1_->setPalette(gridPalette);
    auto *gridStyle = new SilverGridStyle;
    gridStyle->setParent(grdFiles1_);
    grdFiles1_->setStyle(gridStyle);
    grdFiles1_->setAcceptDrops(true);
    grdFiles1_->viewport()->setAcceptDrops(true);
    grdFiles1_->viewport()->installEventFilter(this);

    Place(new QLabel(QStringLiteral("Converting Messages..."), this), "Label4",
          TwipRect(240, 3480, 2535, 255));
    auto *image1 = Place(new QLabel(this), "Image1", TwipRect(240, 3800, 330, 330));
    image1->setPixmap(QPixmap(QStringLiteral(":/tarvelin/tick.png")));
    image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LblProgessCurrent_ = Place(new QLabel(QStringLiteral("Message 0 (of 0)"), this),
                               "LblProgessCurrent", TwipRect(720, 3840, 6255, 255));
    ProgressBar1_ = Place(new QProgressBar(this), "ProgressBar1", TwipRect(240, 4200, 8295, 255));
    ProgressBar1_->setRange(0, 100);
    ProgressBar1_->setValue(0);
    ProgressBar1_->setTextVisible(false);
    ProgressBar1_->setProperty("barValue", 0.0f);

    auto *frame1 = Place(new EtchedGroupBox(QStringLiteral(" File Naming Options "), this),
                         "Frame1", TwipRect(240, 4560, 8295, 1935));
    auto *picture1 = Place(new QWidget(frame1), "Picture1", TwipRect(120, 240, 7455, 1575));

    struct OptionDesign {
        NamingOption option;
        const char *name;
        const char *caption;
        int left, top, width;
    };
    // In the order the arrow keys move through them.
    static const OptionDesign kOptions[] = {
        {NamingOption::OptOriginal, "OptOriginal", "Use original file name", 0, 120, 3135},
        {NamingOption::OptSD, "OptSD", "subject + date (DD-MM-YYYY)", 0, 480, 3135},
        {NamingOption::OptFSD, "OptFSD", "from + subject + date (DD-MM-YYYY)", 0, 840, 3735},
        {NamingOption::OptDFS, "OptDFS", "date (DD-MM-YYYY) + from + subject", 3840, 120, 3135},
        {NamingOption::OptDFS_YMD, "OptDFS_YMD", "date (YYYY-MM-DD) + subject + from ", 3840, 480,
         3135},
        {NamingOption::OptDFS_YMD2, "OptDFS_YMD2", "date (YYYY-MM-DD) + from + subject", 3840, 840,
         3375},
        {NamingOption::OptFSD_YMD, "OptFSD_YMD", "from + subject + date (YYYY-MM-DD)", 0, 1200,
         3735},
        {NamingOption::OptDFS_MYD, "OptDFS_MYD", "date (MM-DD-YYYY) + subject + from", 3840, 1200,
         3375},
    };
    options_ = new QButtonGroup(this);
    options_->setExclusive(true);
    for (const OptionDesign &design : kOptions) {
        auto *button = Place(new QRadioButton(QString::fromLatin1(design.caption), picture1),
                             design.name, TwipRect(design.left, design.top, design.width, 255));
        options_->addButton(button, static_cast<int>(design.option));
        optionOrder_.push_back(button);
    }
    optionOrder_.front()->setFont(DesignFont(8.25, true));
    optionOrder_.front()->setChecked(true);

    CmdConvert2PDF_ = Place(new QPushButton(QStringLiteral("Convert"), this), "CmdConvert2PDF",
                            TwipRect(2880, 6600, 3015, 555));
    CmdConvert2PDF_->setFont(DesignFont(14.25, false));

    MakeBand(this, "Shape1", TwipRect(-120, 7320, 8895, 855));
    auto *picture3 = Place(new QWidget(this), "Picture3", TwipRect(240, 7440, 8535, 495));
    PaintWhite(picture3);
    CmdHelp_ = Place(new QPushButton(QStringLiteral("&Help Manual"), picture3), "CmdHelp",
                     TwipRect(0, 0, 1695, 375));
    cmdEnd_ = Place(new QPushButton(QStringLiteral("E&xit"), picture3), "cmdEnd",
                    TwipRect(6960, 0, 1335, 375));

    connect(cmdAdd_, &QPushButton::clicked, this, &frmStep1::cmdAdd_Click);
    connect(CmdAddFolder_, &QPushButton::clicked, this, &frmStep1::CmdAddFolder_Click);
    connect(cmdClear1_, &QPushButton::clicked, this, &frmStep1::cmdClear1_Click);
    connect(CmdConvert2PDF_, &QPushButton::clicked, this, &frmStep1::CmdConvert2PDF_Click);
    connect(CmdHelp_, &QPushButton::clicked, this, &frmStep1::CmdHelp_Click);
    connect(cmdEnd_, &QPushButton::clicked, this, &frmStep1::cmdEnd_Click);
}

void frmStep1::SetUpKeyboard() {
    // Only the chain below takes the focus: the bands, labels, panels and the bar never do.
    const QList<QPushButton *> buttons = {cmdAdd_,         CmdAddFolder_, cmdClear1_,
                                          CmdConvert2PDF_, CmdHelp_,      cmdEnd_};
    for (QPushButton *button : buttons) {
        // No default button: Enter presses only the button that has the focus.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setFocusPolicy(Qt::StrongFocus);
        button->installEventFilter(this);
    }

    QWidget *const chain[] = {cmdAdd_,         cmdClear1_, CmdAddFolder_, grdFiles1_,
                              CmdConvert2PDF_, cmdEnd_,    CmdHelp_};
    QWidget *previous = nullptr;
    for (QWidget *widget : chain) {
        if (previous) setTabOrder(previous, widget);
        previous = widget;
    }
    for (QRadioButton *option : optionOrder_) {
        setTabOrder(previous, option);
        previous = option;
        option->installEventFilter(this);
    }
    setTabOrder(previous, cmdAdd_);

    // The group is one Tab stop: only the selected option takes the focus from the keyboard.
    auto followSelection = [this] {
        for (QRadioButton *option : optionOrder_) {
            option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
        }
    };
    followSelection();
    connect(options_, &QButtonGroup::buttonToggled, this, followSelection);
}

NamingOption frmStep1::SelectedNamingOption() const {
    const int id = options_->checkedId();
    return id < 0 ? NamingOption::OptOriginal : static_cast<NamingOption>(id);
}

bool frmStep1::eventFilter(QObject *watched, QEvent *event) {
    if (watched == grdFiles1_->viewport()) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto *drag = static_cast<QDropEvent *>(event);
            if (!busy_ && drag->mimeData()->hasUrls()) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();
            }
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto *drop = static_cast<QDropEvent *>(event);
            QStringList paths;
            for (const QUrl &url : drop->mimeData()->urls()) {
                if (url.isLocalFile()) paths << url.toLocalFile();
            }
            if (busy_ || paths.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            // Let the drag source finish before the work and its box start.
            QTimer::singleShot(0, this, [this, paths] { AddDroppedPaths(paths); });
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }

    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (auto *button = qobject_cast<QPushButton *>(watched)) {
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!key->isAutoRepeat() && button->isEnabled()) button->click();
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    if (auto *option = qobject_cast<QRadioButton *>(watched)) {
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Left:
            MoveOptionFocus(option, -1);
            return true;
        case Qt::Key_Down:
        case Qt::Key_Right:
            MoveOptionFocus(option, +1);
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmStep1::MoveOptionFocus(QRadioButton *from, int step) {
    const auto count = static_cast<int>(optionOrder_.size());
    int at = 0;
    while (at < count && optionOrder_[static_cast<std::size_t>(at)] != from) ++at;
    if (at == count) return;
    QRadioButton *to = optionOrder_[static_cast<std::size_t>((at + step + count) % count)];
    to->setChecked(true);
    to->setFocus(Qt::TabFocusReason);
}

void frmStep1::closeEvent(QCloseEvent *event) {
    // Work under way returns at its next yield; its handler then ends the program without
    // touching anything further.
    if (busy_) stopRequested_ = true;
    event->accept();
}

void frmStep1::ResetFileList() {
    list_.ResetFileList();
    model_->Reset();
    lblCount1_->setText(QString::fromStdString(list_.CountText()));
}

void frmStep1::ShowListSoFar() {
    model_->Refresh();
    lblCount1_->setText(QString::fromStdString(list_.CountText()));
}

void frmStep1::ApplyListEvent(ListEvent event) {
    convertEnabled_ = ConvertEnabledAfter(event, convertEnabled_);
    if (!busy_) CmdConvert2PDF_->setEnabled(convertEnabled_);
}

void frmStep1::SetBusy(bool busy) {
    busy_ = busy;
    cmdAdd_->setEnabled(!busy);
    CmdAddFolder_->setEnabled(!busy);
    cmdClear1_->setEnabled(!busy);
    CmdConvert2PDF_->setEnabled(!busy && convertEnabled_);
    grdFiles1_->viewport()->setAcceptDrops(!busy);
}

void frmStep1::ShowProgress(float barValue, const std::string &caption) {
    ProgressBar1_->setProperty("barValue", barValue);
    ProgressBar1_->setValue(qBound(0, qRound(barValue), 100));
    LblProgessCurrent_->setText(QString::fromStdString(caption));
}

void frmStep1::FinishStopped() {
    // The window is already closed; nothing else may run, so leave the event loop.
    QCoreApplication::exit(0);
}

void frmStep1::cmdAdd_Click() {
    if (busy_) return;
    ResetFileList();
    try {
        const std::vector<std::string> picked = dialogs_.PickMessageFiles();
        if (picked.empty()) {
            ApplyListEvent(ListEvent::FileDialogCancelled);
            return;
        }
        ApplyListEvent(ListEvent::FileDialogReturnedSelection);
        {
            BusyScope busy(*this);
            Work work(*this);
            for (const std::string &path : picked) {
                list_.AddFileToList(path);
                work.Yield();
                if (work.StopRequested()) break;
            }
            ShowListSoFar();
        }
        if (stopRequested_) FinishStopped();
    } catch (const std::bad_alloc &) {
        ShowListSoFar();
        dialogs_.ShowMessage(MessageKind::Failure, "7:Out of memory");
    } catch (const std::exception &failure) {
        ShowListSoFar();
        dialogs_.ShowMessage(MessageKind::Failure, std::string("51:") + failure.what());
    }
}

void frmStep1::CmdAddFolder_Click() {
    if (busy_) return;
    const std::string folder = dialogs_.BrowseFolder("Choose Source Folder...");
    if (folder.empty()) {
        ApplyListEvent(ListEvent::FolderBrowserCancelled);
        return;
    }
    FolderScanResult result;
    {
        BusyScope busy(*this);
        WaitCursor hourglass;
        Work work(*this);
        result = ScanFolderIntoList(folder, list_, work, lister_);
        ShowListSoFar();
    }
    if (stopRequested_) {
        FinishStopped();
        return;
    }
    ApplyListEvent(result.added > 0 ? ListEvent::FolderScanAddedFiles
                                    : ListEvent::FolderScanAddedNone);
    dialogs_.ShowMessage(MessageKind::Count, CountText(result.added, result.unreadFolders));
}

void frmStep1::AddDroppedPaths(const QStringList &paths) {
    if (busy_ || stopRequested_) return;
    std::int64_t added = 0;
    std::vector<UnreadFolder> unread;
    {
        BusyScope busy(*this);
        WaitCursor hourglass;
        Work work(*this);
        for (const QString &path : paths) {
            const std::string native = NativePath(path);
            if (QFileInfo(path).isDir()) {
                const FolderScanResult result = ScanFolderIntoList(native, list_, work, lister_);
                added += result.added;
                unread.insert(unread.end(), result.unreadFolders.begin(), result.unreadFolders.end());
            } else if (IsMessageFilePath(native)) {
                list_.AddFileToList(native);
                ++added;
                work.Yield();
            }
            if (work.StopRequested()) break;
        }
        ShowListSoFar();
    }
    if (stopRequested_) {
        FinishStopped();
        return;
    }
    ApplyListEvent(added > 0 ? ListEvent::FolderScanAddedFiles : ListEvent::FolderScanAddedNone);
    dialogs_.ShowMessage(MessageKind::Count, CountText(added, unread));
}

void frmStep1::cmdClear1_Click() {
    if (busy_) return;
    if (!list_.IsEmpty()) {
        const std::string question = "Do you want to clear all the files in the list" +
                                     std::string(kLineBreak) + " Proceed?";
        if (dialogs_.ShowMessage(MessageKind::Question, question) == Answer::Yes) ResetFileList();
    }
    ApplyListEvent(ListEvent::ClearClicked);
}

void frmStep1::CmdConvert2PDF_Click() {
    if (busy_) return;
    const std::string folder = dialogs_.BrowseFolder("Choose Folder to Save...");
    if (folder.empty()) return;
    ConversionReport report;
    {
        BusyScope busy(*this);
        Work work(*this);
        ProgressBar1_->setRange(0, 100);
        report = RunConversion(list_, folder, duplicateCounter_, work, files_);
    }
    ApplyListEvent(ListEvent::ConversionRun);
    if (stopRequested_) {
        FinishStopped();
        return;
    }
    if (report.AllConverted()) {
        dialogs_.ShowMessage(MessageKind::Completion, "Completed !");
    } else {
        dialogs_.ShowMessage(MessageKind::Failure, FailureText(report));
    }
}

void frmStep1::CmdHelp_Click() {
    // A page that cannot be opened is not worth a box of its own: the user notices.
    dialogs_.ShellOpen(HelpAddress().toStdString());
}

void frmStep1::cmdEnd_Click() {
    if (dialogs_.ShowMessage(MessageKind::Question, "Are you sure you want to exit now?") ==
        Answer::Yes) {
        close();
    }
}

}  // namespace tarvelin
