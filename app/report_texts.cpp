#include "app/report_texts.h"

namespace tarvelin {

namespace {

// The first few of a long list of problems, then "... and N more".
void AppendListed(std::string &text, const std::vector<std::string> &lines) {
    for (std::size_t i = 0; i < lines.size() && i < kProblemsListed; ++i) {
        text += kLineBreak + lines[i];
    }
    if (lines.size() > kProblemsListed) {
        text += kLineBreak + std::string("... and ") +
                std::to_string(lines.size() - kProblemsListed) + " more";
    }
}

}  // namespace

std::string ClearQuestionText() {
    return "Do you want to clear all the files in the list" + std::string(kLineBreak) + " Proceed?";
}

std::string ScanCountText(std::int64_t added, const std::vector<UnreadFolder> &unreadFolders) {
    std::string text = std::to_string(added) + " Files Added to List.";
    if (unreadFolders.size() == 1) {
        text += kLineBreak + std::string("1 folder could not be read.");
    } else if (unreadFolders.size() > 1) {
        text += kLineBreak + std::to_string(unreadFolders.size()) + " folders could not be read.";
    }
    std::vector<std::string> lines;
    for (const UnreadFolder &folder : unreadFolders) {
        lines.push_back(folder.path + ": " + folder.reason);
    }
    AppendListed(text, lines);
    return text;
}

std::string RunFailureText(const ConversionReport &report) {
    const auto failed = static_cast<std::int64_t>(report.failures.size());
    const std::int64_t messages = report.converted + failed;
    std::string text = "Completed !" + std::string(kLineBreak) + std::to_string(failed) + " of " +
                       std::to_string(messages) + (messages == 1 ? " message" : " messages") +
                       " could not be converted:";
    std::vector<std::string> lines;
    for (const ConversionFailure &failure : report.failures) {
        lines.push_back(failure.path + ": " + failure.reason);
    }
    AppendListed(text, lines);
    return text;
}

std::string OutputFolderFailureText(const std::string &reason) {
    return "No message was converted:" + std::string(kLineBreak) + reason;
}

}  // namespace tarvelin
