// Dialogs answered from a script, recording what the window asked and showed.
#pragma once

#include <QApplication>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs.h"

namespace tarvelin::testing {

struct ShownMessage {
    MessageKind kind;
    std::string text;
    bool waitCursor;  // the hourglass was still up when the box appeared
    QString focus;    // the control a real box hands the focus back to when it closes
};

class ScriptedDialogs : public Dialogs {
public:
    std::deque<Answer> answers;  // for questions; No once the script runs out
    std::deque<std::vector<std::string>> picks;
    std::deque<std::string> folders;

    std::vector<ShownMessage> shown;
    int pickCount = 0;
    std::vector<std::string> browseTitles;
    std::vector<std::string> opened;

    Answer ShowMessage(MessageKind kind, const std::string &text) override {
        QWidget *focused = QApplication::focusWidget();
        // Kept as the user reads it, line by line, whatever the system ends its lines with.
        std::string lines = text;
        for (auto at = lines.find("\r\n"); at != std::string::npos; at = lines.find("\r\n", at)) lines.erase(at, 1);
        shown.push_back({kind, lines, QGuiApplication::overrideCursor() != nullptr,
                         focused ? focused->objectName() : QStringLiteral("<none>")});
        if (kind != MessageKind::Question) return Answer::Ok;
        if (answers.empty()) return Answer::No;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<std::string> PickMessageFiles() override {
        ++pickCount;
        if (picks.empty()) return {};
        auto picked = picks.front();
        picks.pop_front();
        return picked;
    }
    std::string BrowseFolder(const std::string &title) override {
        browseTitles.push_back(title);
        if (folders.empty()) return {};
        auto folder = folders.front();
        folders.pop_front();
        return folder;
    }
    bool ShellOpen(const std::string &target) override {
        opened.push_back(target);
        return true;
    }
};

}  // namespace tarvelin::testing
