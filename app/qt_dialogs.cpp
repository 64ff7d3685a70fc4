#include "app/qt_dialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "app/qt_paths.h"

namespace tarvelin {

namespace {

const QString kTitle = QStringLiteral("Tarvelin");

}  // namespace

Answer QtDialogs::ShowMessage(MessageKind kind, const std::string &text) {
    QMessageBox box(owner_);
    box.setWindowTitle(kTitle);
    box.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    box.setWindowModality(Qt::ApplicationModal);
    switch (kind) {
    case MessageKind::Question:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case MessageKind::Failure:
        box.setIcon(QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageKind::Completion:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageKind::Count:
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    const int result = box.exec();
    if (kind != MessageKind::Question) return Answer::Ok;
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

std::vector<std::string> QtDialogs::PickMessageFiles() {
    const QStringList picked = QFileDialog::getOpenFileNames(
        owner_, QString(), QString(), QStringLiteral("MDaemon Messages (*.msg)"));
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(picked.size()));
    for (const QString &path : picked) paths.push_back(CorePath(path));
    return paths;
}

std::string QtDialogs::BrowseFolder(const std::string &title) {
    const QString folder = QFileDialog::getExistingDirectory(
        owner_, QString::fromStdString(title), QString(), QFileDialog::ShowDirsOnly);
    return folder.isEmpty() ? std::string() : CorePath(folder);
}

bool QtDialogs::ShellOpen(const std::string &target) {
    return QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromUtf8(target.c_str())));
}

}  // namespace tarvelin
