// Dialogs through Qt's message boxes, file dialogs and desktop services.
#pragma once

#include <QPointer>
#include <QWidget>

#include "app/dialogs.h"

namespace tarvelin {

class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget *owner = nullptr) : owner_(owner) {}

    // The window that owns the boxes; set once it exists.
    void SetOwner(QWidget *owner) { owner_ = owner; }

    Answer ShowMessage(MessageKind kind, const std::string &text) override;
    std::vector<std::string> PickMessageFiles() override;
    std::string BrowseFolder(const std::string &title) override;
    bool ShellOpen(const std::string &target) override;

private:
    QPointer<QWidget> owner_;
};

}  // namespace tarvelin
