// The window's questions, reports and pickers, behind an interface so that tests answer them
// without a display. The Qt implementation is qt_dialogs.h.
#pragma once

#include <string>
#include <vector>

namespace tarvelin {

// Each kind fixes the box's buttons and icon.
enum class MessageKind {
    Question,    // Yes and No, question icon, Yes the default
    Failure,     // OK, exclamation icon
    Completion,  // OK, information icon
    Count,       // OK, no icon
};

enum class Answer { Ok, Yes, No };

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A modal box titled with the product's name.
    virtual Answer ShowMessage(MessageKind kind, const std::string &text) = 0;
    // The message files picked in the file-open dialog, full native paths in the dialog's order;
    // empty when cancelled.
    virtual std::vector<std::string> PickMessageFiles() = 0;
    // A file-system folder, native path; empty when cancelled.
    virtual std::string BrowseFolder(const std::string &title) = 0;
    // Opens a document or address with the desktop's default handler; false when nothing could.
    virtual bool ShellOpen(const std::string &target) = 0;
};

}  // namespace tarvelin
