#include "conversion/conversion_run.h"

#include <cctype>
#include <unordered_set>

#include "conversion/mail_message.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

// A name that keeps being taken between the existence test and the exclusive create is given up
// after this many numbers rather than looping forever.
constexpr int kMaxCreateAttempts = 1000;

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The part of a source folder that names its root: it is left out of the mirrored folder.
std::size_t RootLength(std::string_view folder, char separator) {
    if (separator != '\\') {
        std::size_t n = 0;
        while (n < folder.size() && folder[n] == separator) ++n;
        return n;
    }
    const auto isDrive = [](std::string_view s) {
        return s.size() >= 2 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':';
    };
    if (StartsWith(folder, R"(\\?\UNC\)")) return 8;
    if (StartsWith(folder, R"(\\?\)") && isDrive(folder.substr(4)))
        return folder.size() >= 7 && folder[6] == '\\' ? 7 : 6;
    if (StartsWith(folder, R"(\\)")) return 2;   // \\server\share\ keeps its server name
    if (isDrive(folder)) return folder.size() >= 3 && folder[2] == '\\' ? 3 : 2;
    if (StartsWith(folder, "\\")) return 1;
    return 0;
}

std::string ProgressCaption(std::size_t done, std::size_t rows) {
    return "Message " + std::to_string(done) + " (of " + std::to_string(rows) + ")";
}

class Run {
public:
    Run(const MessageList &list, const std::string &outputFolder, DuplicateCounter &counter,
        RunObserver &observer, FileService &files)
        : list_(list), outputRoot_(AddSeparator(outputFolder)), counter_(counter),
          observer_(observer), files_(files) {}

    ConversionReport Execute() {
        if (YieldStops()) return Stopped();
        const std::size_t rows = list_.RowCount();
        for (std::size_t i = 0; i < rows; ++i) {
            if (YieldStops()) return Stopped();
            if (!ConvertRow(list_.RowText(i))) return Stopped();
            ShowProgress(i);
        }
        return std::move(report_);
    }

private:
    // False when the run must stop; failures are recorded and the run goes on.
    bool ConvertRow(std::string_view row) {
        const std::string source = SourcePathOf(row);
        if (source.empty()) {
            ++report_.skipped;
            return true;
        }
        const std::string emlPath = MakeEmlPath(source);
        const std::string outputDir = OutputFolderFor(outputRoot_, FolderFromPath(emlPath));
        const Status folder = EnsureFolder(outputDir);
        if (YieldStops()) return false;
        if (!folder) {
            Fail(source, "cannot create the output folder " + outputDir + ": " + folder.reason());
            return true;
        }

        const NamingOption option = observer_.SelectedNamingOption();
        std::string rawName;
        {
            MailMessage message;
            // The file's own name needs nothing from the message, so it is not read at all.
            if (UsesMessageFields(option)) message.LoadFromFile(source);
            rawName = ComposeOutputName(option, message.Date(), message.Subject(), message.From(),
                                        source);
        }
        if (YieldStops()) return false;

        return CopyToFreeName(source, outputDir, CleanOutputName(rawName));
    }

    // The trimmed row, unless only the untrimmed text names an existing file (a blank can end a
    // file name on POSIX).
    std::string SourcePathOf(std::string_view row) {
        const std::string_view trimmed = TrimSpaces(row);
        if (trimmed.size() != row.size() && !trimmed.empty()) {
            const std::string untrimmed(row);
            if (!files_.FileExist(std::string(trimmed)) && files_.FileExist(untrimmed))
                return untrimmed;
        }
        return std::string(trimmed);
    }

    Status EnsureFolder(const std::string &folder) {
        if (ensuredFolders_.count(folder)) return Status::Ok();
        Status status = files_.EnsureFolderExists(folder);
        if (status) ensuredFolders_.insert(folder);
        return status;
    }

    // The copy creates its destination exclusively: a name taken after the existence test (by
    // another program) is never overwritten, the next number is tried instead. False when the run
    // was told to stop during the copy (which then leaves no file).
    bool CopyToFreeName(const std::string &source, const std::string &outputDir,
                        const std::string &name) {
        // A path the exclusive create refused is taken, even where the existence test does not
        // see it (a network share that answers the two differently); otherwise the same name
        // would be tried again and again.
        std::unordered_set<std::string> refused;
        const auto taken = [this, &refused](const std::string &path) {
            return refused.count(path) > 0 || files_.FileExist(path);
        };
        // Most names are free: the exclusive create is then the existence test, one call fewer
        // per message (a round trip on a network disk). The counter moves as if the plain path
        // had been tested first, which is all the test would have decided.
        const std::string plain = PlainOutputPath(outputDir, name);
        const Status first = files_.CopyFileTo(source, plain, true, observer_);
        if (first.kind() == ErrorKind::Stopped) return false;
        if (first) {
            counter_ = 1;
            ++report_.converted;
            observer_.MessageConverted(source, plain);
            return true;
        }
        if (first.kind() != ErrorKind::AlreadyExists) {
            // The failure came before the destination mattered (or the plain path was free), so
            // a numbered destination would have failed alike.
            ResolveOutputPath(outputDir, name, counter_, taken, &takenNumbers_);
            Fail(source, first.reason());
            return true;
        }
        refused.insert(plain);
        for (int attempt = 0; attempt < kMaxCreateAttempts; ++attempt) {
            const std::string output =
                ResolveOutputPath(outputDir, name, counter_, taken, &takenNumbers_);
            const Status copied = files_.CopyFileTo(source, output, true, observer_);
            if (copied.kind() == ErrorKind::Stopped) return false;
            if (copied || copied.kind() == ErrorKind::AlreadyExists) takenNumbers_.KeepLastChosen();
            if (copied) {
                ++report_.converted;
                observer_.MessageConverted(source, output);
                return true;
            }
            if (copied.kind() != ErrorKind::AlreadyExists) {
                Fail(source, copied.reason());
                return true;
            }
            refused.insert(output);
        }
        Fail(source, "no free output name for \"" + name + "\" in " + outputDir);
        return true;
    }

    void Fail(const std::string &source, std::string reason) {
        observer_.MessageFailed(source, reason);
        report_.failures.push_back({source, std::move(reason)});
    }

    void ShowProgress(std::size_t row) {
        const std::size_t rows = list_.RowCount();
        const double share = static_cast<double>(row + 1) / static_cast<double>(rows) * 100.0;
        observer_.ShowProgress(static_cast<float>(share), ProgressCaption(row + 1, rows));
    }

    bool YieldStops() {
        observer_.Yield();
        return observer_.StopRequested();
    }

    ConversionReport Stopped() {
        report_.stopped = true;
        return std::move(report_);
    }

    const MessageList &list_;
    const std::string outputRoot_;
    DuplicateCounter &counter_;
    RunObserver &observer_;
    FileService &files_;
    std::unordered_set<std::string> ensuredFolders_;
    TakenNumbers takenNumbers_;
    ConversionReport report_;
};

}  // namespace

std::string OutputFolderFor(std::string_view outputRoot, std::string_view sourceFolder,
                            char separator) {
    std::string folder(outputRoot);
    folder += sourceFolder.substr(RootLength(sourceFolder, separator));
    return folder;
}

ConversionReport RunConversion(const MessageList &list, const std::string &outputFolder,
                               DuplicateCounter &duplicateCounter, RunObserver &observer,
                               FileService &files) {
    return Run(list, outputFolder, duplicateCounter, observer, files).Execute();
}

}  // namespace tarvelin
