#include "app/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <array>
#include <new>
#include <optional>
#include <stdexcept>

#include "app/design_widgets.h"
#include "app/help_address.h"
#include "app/message_list_model.h"
#include "app/option_buttons.h"
#include "app/qt_paths.h"
#include "app/report_texts.h"
#include "conversion/conversion_run.h"
#include "conversion/naming/naming_schemes.h"
#include "conversion/output_folder.h"
#include "messagelist/folder_scan.h"

namespace tarvelin {

namespace {

// Handing control to the event loop costs far more than an item of work; more often than this
// only slows the work without making the window feel any livelier.
constexpr qint64 kYieldIntervalMs = 15;
// In twips.
constexpr int kClientWidth = 8775;
constexpr int kClientHeight = 7920;
constexpr int kColumnWidth = 15000;
constexpr int kRowHeight = 240;

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
    Work(frmStep1 &window, WorkKind kind) : window_(window), kind_(kind) {
        sinceEvents_.start();
        // A run starts at the first message, wherever adding left the current cell; the copies
        // ahead of it may keep the window from yielding for a moment.
        if (kind_ == WorkKind::Converting) window_.MoveCurrentCell(0);
    }

    void Yield() override {
        if (sinceEvents_.elapsed() < kYieldIntervalMs) return;
        ShowSoFar();
        QCoreApplication::processEvents();
        sinceEvents_.restart();
    }
    bool StopRequested() const override { return window_.stopRequested_; }
    NamingOption SelectedNamingOption() override { return window_.SelectedNamingOption(); }
    void ShowProgress(float barValue, const std::string &caption) override {
        ++rowsDone_;
        window_.ShowProgress(barValue, caption);
    }

    // The list so far, its current cell on the row the work is at: the last one added, or the
    // one being converted.
    void ShowSoFar() {
        window_.ShowListSoFar();
        const std::size_t lastRow = window_.list_.RowCount() - 1;
        window_.MoveCurrentCell(kind_ == WorkKind::Converting ? std::min(rowsDone_, lastRow)
                                                              : lastRow);
    }

private:
    frmStep1 &window_;
    const WorkKind kind_;
    std::size_t rowsDone_ = 0;
    QElapsedTimer sinceEvents_;
};

// Locks the list operations for the length of a long operation and restores them after it.
// Locking moves the focus off the locked button (onto the grid, or Exit after Convert, where the
// next Enter would ask to leave), so it goes back afterwards, unless the user moved it meanwhile.
class frmStep1::BusyScope {
public:
    explicit BusyScope(frmStep1 &window) : window_(window), focus_(window.focusWidget()) {
        window_.SetBusy(true);
        displacedTo_ = window_.focusWidget();
    }
    ~BusyScope() {
        window_.SetBusy(false);
        if (focus_ && focus_->isEnabled() && window_.focusWidget() == displacedTo_) {
            focus_->setFocus(Qt::OtherFocusReason);
        }
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    frmStep1 &window_;
    const QPointer<QWidget> focus_;
    QPointer<QWidget> displacedTo_;
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
      lister_(lister),
      twips_(logicalDpiY()) {
    setObjectName(QStringLiteral("frmStep1"));
    setWindowTitle(QStringLiteral("Tarvelin"));
    setFont(DesignFont(8.25, false));
    setFixedSize(twips_.Px(kClientWidth), twips_.Px(kClientHeight));
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
    MakeBand(this, "Shape2", twips_.Rect(-120, 0, 8895, 855));

    auto *lblTitle = Place(new QLabel(QStringLiteral("Tarvelin"), this), "lblTitle",
                           twips_.Rect(240, 120, 6255, 375));
    lblTitle->setFont(DesignFont(14.25, true));
    PaintWhite(lblTitle);
    auto *lblCopyright =
        Place(new QLabel(QStringLiteral("Copyright \u00A9 The Tarvelin developers"), this),
              "lblCopyright", twips_.Rect(240, 480, 6135, 255));
    PaintWhite(lblCopyright);

    cmdAdd_ = Place(new QPushButton(QStringLiteral("Add MDaemon Email Message(s)..."), this),
                    "cmdAdd", twips_.Rect(240, 960, 2775, 375));
    CmdAddFolder_ = Place(
        new QPushButton(QStringLiteral("Add MDaemon Email Folder having Message(s)..."), this),
        "CmdAddFolder", twips_.Rect(3120, 960, 3855, 375));
    cmdClear1_ = Place(new QPushButton(QStringLiteral("Clear File(s)..."), this), "cmdClear1",
                       twips_.Rect(7200, 960, 1335, 375));

    lblCount1_ = Place(new QLabel(QString::fromStdString(list_.CountText()), this), "lblCount1",
                       twips_.Rect(270, 1560, 4335, 255));

    model_ = new MessageListModel(list_, this);
    grdFiles1_ = Place(new QTableView(this), "grdFiles1", twips_.Rect(240, 1800, 8295, 1575));
    grdFiles1_->setModel(model_);
    grdFiles1_->horizontalHeader()->hide();
    grdFiles1_->verticalHeader()->hide();
    grdFiles1_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdFiles1_->setColumnWidth(0, twips_.Px(kColumnWidth));
    // Uniform rows let the view place any of a hundred thousand rows without measuring them.
    grdFiles1_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdFiles1_->verticalHeader()->setMinimumSectionSize(1);
    grdFiles1_->verticalHeader()->setDefaultSectionSize(twips_.Px(kRowHeight));
    grdFiles1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdFiles1_->setSelectionMode(QAbstractItemView::SingleSelection);
    grdFiles1_->setSelectionBehavior(QAbstractItemView::SelectItems);
    grdFiles1_->setTabKeyNavigation(false);
    grdFiles1_->setWordWrap(false);
    grdFiles1_->setTextElideMode(Qt::ElideNone);
    grdFiles1_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    grdFiles1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grdFiles1_->setFocusPolicy(Qt::StrongFocus);
    PaintGrid(grdFiles1_);
    grdFiles1_->setAcceptDrops(true);
    grdFiles1_->viewport()->setAcceptDrops(true);
    grdFiles1_->viewport()->installEventFilter(this);

    Place(new QLabel(QStringLiteral("Converting Messages..."), this), "Label4",
          twips_.Rect(240, 3480, 2535, 255));
    MakeTick(this, "Image1", twips_.Rect(240, 3800, 330, 330));
    LblProgessCurrent_ = Place(new QLabel(QStringLiteral("Message 0 (of 0)"), this),
                               "LblProgessCurrent", twips_.Rect(720, 3840, 6255, 255));
    ProgressBar1_ =
        Place(new QProgressBar(this), "ProgressBar1", twips_.Rect(240, 4200, 8295, 255));
    ProgressBar1_->setRange(0, 100);
    ProgressBar1_->setValue(0);
    ProgressBar1_->setTextVisible(false);
    ProgressBar1_->setProperty("barValue", 0.0f);

    auto *frame1 = Place(new EtchedGroupBox(QStringLiteral(" File Naming Options "), this),
                         "Frame1", twips_.Rect(240, 4560, 8295, 1935));
    auto *picture1 = Place(new QWidget(frame1), "Picture1", twips_.Rect(120, 240, 7455, 1575));

    // Made in the order the arrow keys move through them, which is also the order of tabbing.
    options_ = new QButtonGroup(this);
    options_->setExclusive(true);
    for (const OptionButtonPlace &place : kOptionButtons) {
        const NamingScheme &scheme = kNamingSchemes[static_cast<std::size_t>(place.option)];
        const QString caption =
            QString::fromLatin1(scheme.caption.data(), static_cast<qsizetype>(scheme.caption.size()));
        auto *button = Place(new QRadioButton(caption, picture1), std::string(scheme.name).c_str(),
                             twips_.Rect(place.left, place.top, place.width, 255));
        options_->addButton(button, static_cast<int>(scheme.option));
        optionOrder_.push_back(button);
    }
    optionOrder_.front()->setFont(DesignFont(8.25, true));
    optionOrder_.front()->setChecked(true);

    CmdConvert2PDF_ = Place(new QPushButton(QStringLiteral("Convert"), this), "CmdConvert2PDF",
                            twips_.Rect(2880, 6600, 3015, 555));
    CmdConvert2PDF_->setFont(DesignFont(14.25, false));

    MakeBand(this, "Shape1", twips_.Rect(-120, 7320, 8895, 855));
    auto *picture3 = Place(new QWidget(this), "Picture3", twips_.Rect(240, 7440, 8535, 495));
    PaintWhite(picture3);
    CmdHelp_ = Place(new QPushButton(QStringLiteral("&Help Manual"), picture3), "CmdHelp",
                     twips_.Rect(0, 0, 1695, 375));
    cmdEnd_ = Place(new QPushButton(QStringLiteral("E&xit"), picture3), "cmdEnd",
                    twips_.Rect(6960, 0, 1335, 375));

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

void frmStep1::MoveCurrentCell(std::size_t row) {
    const QModelIndex cell = model_->index(static_cast<int>(row), 0);
    grdFiles1_->setCurrentIndex(cell);
    // Bring the row into view, but leave the horizontal scroll where the user put it.
    QScrollBar *across = grdFiles1_->horizontalScrollBar();
    const int acrossAt = across->value();
    grdFiles1_->scrollTo(cell);
    across->setValue(acrossAt);
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

bool frmStep1::DoLongWork(WorkKind kind, const std::function<void(Work &)> &work) {
    {
        BusyScope busy(*this);
        std::optional<WaitCursor> hourglass;
        if (kind == WorkKind::Scanning) hourglass.emplace();
        Work hooks(*this, kind);
        work(hooks);
        hooks.ShowSoFar();
    }
    if (!stopRequested_) return true;
    FinishStopped();
    return false;
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
        DoLongWork(WorkKind::Adding, [&](Work &work) {
            for (const std::string &path : picked) {
                list_.AddFileToList(path);
                if (work.YieldAndCheckStop()) break;
            }
        });
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
    if (!DoLongWork(WorkKind::Scanning, [&](Work &work) {
            result = ScanFolderIntoList(folder, list_, work, lister_);
        })) {
        return;
    }
    ApplyListEvent(result.added > 0 ? ListEvent::FolderScanAddedFiles
                                    : ListEvent::FolderScanAddedNone);
    dialogs_.ShowMessage(MessageKind::Count, ScanCountText(result.added, result.unreadFolders));
}

void frmStep1::AddDroppedPaths(const QStringList &paths) {
    if (busy_ || stopRequested_) return;
    std::int64_t added = 0;
    std::vector<UnreadFolder> unread;
    if (!DoLongWork(WorkKind::Scanning, [&](Work &work) {
            for (const QString &path : paths) {
                const std::string native = CorePath(path);
                if (QFileInfo(path).isDir()) {
                    const FolderScanResult result =
                        ScanFolderIntoList(native, list_, work, lister_);
                    added += result.added;
                    unread.insert(unread.end(), result.unreadFolders.begin(),
                                  result.unreadFolders.end());
                } else if (IsMessageFilePath(native)) {
                    list_.AddFileToList(native);
                    ++added;
                    work.Yield();
                }
                if (work.StopRequested()) break;
            }
        })) {
        return;
    }
    ApplyListEvent(added > 0 ? ListEvent::FolderScanAddedFiles : ListEvent::FolderScanAddedNone);
    dialogs_.ShowMessage(MessageKind::Count, ScanCountText(added, unread));
}

void frmStep1::cmdClear1_Click() {
    if (busy_) return;
    if (!list_.IsEmpty() &&
        dialogs_.ShowMessage(MessageKind::Question, ClearQuestionText()) == Answer::Yes) {
        ResetFileList();
    }
    ApplyListEvent(ListEvent::ClearClicked);
}

void frmStep1::CmdConvert2PDF_Click() {
    if (busy_) return;
    const std::string folder = dialogs_.BrowseFolder("Choose Folder to Save...");
    if (folder.empty()) return;
    // A folder that would fail every message alike, or that another run writes to, is one box.
    OutputFolderHold hold;
    Status usable = CheckOutputFolder(folder);
    if (usable) usable = hold.Take(folder);
    if (!usable) {
        dialogs_.ShowMessage(MessageKind::Failure, OutputFolderFailureText(usable.reason()));
        return;
    }
    ConversionReport report;
    if (!DoLongWork(WorkKind::Converting, [&](Work &work) {
            ProgressBar1_->setRange(0, 100);
            // The command line's pipeline: workers copy, this thread names the copies in list order
            // and shows each message as it is named.
            RunOptions options;
            options.jobs = kDefaultJobs;
            report = RunConversion(list_, folder, duplicateCounter_, work, files_, options);
        })) {
        return;
    }
    ApplyListEvent(ListEvent::ConversionRun);
    if (report.AllConverted()) {
        dialogs_.ShowMessage(MessageKind::Completion, "Completed !");
    } else {
        dialogs_.ShowMessage(MessageKind::Failure, RunFailureText(report));
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
