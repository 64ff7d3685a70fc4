// frmStep1, the program's one window: the message list, the naming options, the progress line and
// the six buttons that start the work.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "app/design_widgets.h"
#include "conversion/naming/naming.h"
#include "app/convert_rules.h"
#include "messagelist/message_list.h"
#include "app/dialogs.h"
#include "platform/directory_lister.h"
#include "platform/file_service.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableView;

namespace tarvelin {

class MessageListModel;

class frmStep1 : public QWidget {
    Q_OBJECT
public:
    // The dialogs, the file service and the lister must outlive the window.
    explicit frmStep1(Dialogs &dialogs, QWidget *parent = nullptr);
    frmStep1(Dialogs &dialogs, FileService &files,
             const DirectoryLister &lister = NativeDirectoryLister(), QWidget *parent = nullptr);
    ~frmStep1() override;

    const MessageList &messageList() const { return list_; }
    NamingOption SelectedNamingOption() const;
    DuplicateCounter duplicateCounter() const { return duplicateCounter_; }
    // While files are added, a folder is scanned or a run is under way.
    bool IsBusy() const { return busy_; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class Work;
    class BusyScope;
    // Scanning shows the hourglass.
    enum class WorkKind { Adding, Scanning, Converting };

    frmStep1(Dialogs &dialogs, std::unique_ptr<FileService> ownFiles, FileService *files,
             const DirectoryLister &lister, QWidget *parent);

    void CreateControls();
    void SetUpKeyboard();

    void cmdAdd_Click();
    void CmdAddFolder_Click();
    void cmdClear1_Click();
    void CmdConvert2PDF_Click();
    void CmdHelp_Click();
    void cmdEnd_Click();
    void AddDroppedPaths(const QStringList &paths);

    // Runs one long operation with the list commands locked and the window responsive, then shows
    // the whole list. False when the window was closed meanwhile: the program is ending, and the
    // caller must touch nothing more.
    bool DoLongWork(WorkKind kind, const std::function<void(Work &)> &work);
    void ResetFileList();
    // Shows the entries added so far in the grid and the count label.
    void ShowListSoFar();
    // Makes the row the grid's current cell, selected and scrolled into view.
    void MoveCurrentCell(std::size_t row);
    void ApplyListEvent(ListEvent event);
    void SetBusy(bool busy);
    void ShowProgress(float barValue, const std::string &caption);
    void MoveOptionFocus(QRadioButton *from, int step);
    // After an operation that was told to stop: the window is closed, so the program ends.
    void FinishStopped();

    Dialogs &dialogs_;
    std::unique_ptr<FileService> ownFiles_;
    FileService &files_;
    const DirectoryLister &lister_;
    const Twips twips_;

    MessageList list_;
    DuplicateCounter duplicateCounter_ = 0;
    bool convertEnabled_ = false;
    bool busy_ = false;
    bool stopRequested_ = false;

    MessageListModel *model_ = nullptr;
    QPushButton *cmdAdd_ = nullptr;
    QPushButton *CmdAddFolder_ = nullptr;
    QPushButton *cmdClear1_ = nullptr;
    QPushButton *CmdConvert2PDF_ = nullptr;
    QPushButton *CmdHelp_ = nullptr;
    QPushButton *cmdEnd_ = nullptr;
    QLabel *lblCount1_ = nullptr;
    QTableView *grdFiles1_ = nullptr;
    QLabel *LblProgessCurrent_ = nullptr;
    QProgressBar *ProgressBar1_ = nullptr;
    QButtonGroup *options_ = nullptr;
    // In the order the arrow keys move through them.
    std::vector<QRadioButton *> optionOrder_;
};

}  // namespace tarvelin
