#include "cli/cli.h"

#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <variant>
#include <ostream>

#include "cli/progress_meter.h"
#include "cli/simulated_file_service.h"
#include "conversion/conversion_run.h"
#include "platform/directory_lister.h"
#include "messagelist/folder_scan.h"
#ifdef _WIN32
#include "platform/windows/wide_text.h"
#endif

namespace tarvelin {

namespace {

constexpr const char *kUsage =
    "usage: tarvelin-cli --output DIR [--naming OPTION] [--skip-identical] [--dry-run] [--quiet] PATH...";

constexpr const char *kHelp = R"HELP(usage: tarvelin-cli --output DIR [--naming OPTION] [--skip-identical] [--dry-run] [--quiet] PATH...

Converts MDaemon message files (.msg) into .eml files: each message is copied byte for byte
below DIR, in folders that repeat its source folders, under a name made by the naming option.
Existing files are never overwritten: a taken name gets " (n)" before ".eml".

PATH      a folder: every file below it whose name ends in ".msg" (any case) is listed, breadth-first;
          a file: listed as given (made absolute). The list keeps command-line order.
-o, --output DIR     the output folder (required; created when missing)
-n, --naming OPTION  how output files are named (default OptOriginal), case-insensitive:
            OptOriginal   (original)           the file's own name: abc.msg -> abc.eml.eml
            OptSD         (subject-date)       subject + date (DD-MM-YYYY)
            OptFSD        (from-subject-date)  from + subject + date (DD-MM-YYYY)
            OptFSD_YMD    (from-subject-ymd)   from + subject + date (YYYY-MM-DD)
            OptDFS        (date-from-subject)  date (DD-MM-YYYY) + from + subject
            OptDFS_YMD    (ymd-subject-from)   date (YYYY-MM-DD) + subject + from
            OptDFS_YMD2   (ymd-from-subject)   date (YYYY-MM-DD) + from + subject
            OptDFS_MYD    (mdy-subject-from)   date (MM-DD-YYYY) + subject + from
--skip-identical     do not copy a message again when its name, or a numbered name of that name
            (" (n)"), already holds a file with the same bytes: a rerun of an interrupted or
            finished run adds exactly the missing messages; counted as "already there"
--dry-run   write nothing; print one line per message: source path, TAB, output path. It makes
            the same checks as a real run, so it gives the same names, failures and exit status
-q, --quiet no progress bar and no summary (failures are still printed)
-h, --help  this text

Each message is copied under a hidden temporary name (".tarvelin-....part") in its output
folder and gets its final name only when the copy is complete, so a final name never holds a
partial message. Ctrl-C, SIGTERM and SIGHUP stop the run after the copy under way, leaving no
temporary file; a second Ctrl-C ends at once. After a kill -9 or a power cut only such a
temporary file can remain, and it can be deleted.

stderr: a progress bar when it is a terminal, one line per failure (path: reason), and a summary
"N converted, K failed, S skipped" (with --skip-identical also "A already there").
Exit status: 0 every listed message converted; 1 any message failed or a folder could not be read;
2 bad usage; 130 stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP.
)HELP";

struct Options {
    std::string output;
    NamingOption naming = NamingOption::OptOriginal;
    bool dryRun = false;
    bool skipIdentical = false;
    bool quiet = false;
    bool help = false;
    std::vector<std::string> paths;
};

struct UsageError {
    std::string message;
};

// Returns the options, or the reason the command line is not usable.
std::variant<Options, UsageError> ParseArguments(const std::vector<std::string> &args) {
    Options options;
    bool haveOutput = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.empty()) return UsageError{"an empty PATH names nothing"};
        if (optionsEnded || arg[0] != '-' || arg == "-") {
            options.paths.push_back(arg);
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        const auto takeValue = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i + 1 < args.size()) return args[++i];
            return std::nullopt;
        };
        if (name == "--") {
            optionsEnded = true;
        } else if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "--dry-run") {
            options.dryRun = true;
        } else if (name == "--skip-identical") {
            options.skipIdentical = true;
        } else if (name == "-q" || name == "--quiet") {
            options.quiet = true;
        } else if (name == "-o" || name == "--output") {
            auto dir = takeValue();
            if (!dir || dir->empty()) return UsageError{"--output needs a folder"};
            options.output = *dir;
            haveOutput = true;
        } else if (name == "-n" || name == "--naming") {
            auto text = takeValue();
            if (!text) return UsageError{"--naming needs an option name"};
            auto option = NamingOptionFromName(*text);
            if (!option) return UsageError{"unknown naming option '" + *text + "'"};
            options.naming = *option;
        } else {
            return UsageError{"unknown option '" + arg + "'"};
        }
    }
    if (options.help) return options;
    if (!haveOutput) return UsageError{"--output DIR is required"};
    if (options.paths.empty()) return UsageError{"no PATH given"};
    return options;
}

// Absolute and without "." or ".." parts, so the mirrored output folders stay below DIR.
std::string AbsolutePath(const std::string &path) {
#ifdef _WIN32
    // The core's own form: std::filesystem there mangles a \\?\ path and drops trailing dots
    // and blanks, where the core takes each name as written.
    return ShownPath(Win32Path(path));
#else
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return path;
    return absolute.lexically_normal().string();
#endif
}

class CliObserver : public RunObserver {
public:
    CliObserver(CliStreams streams, const Options &options, std::size_t rows)
        : streams_(streams), options_(options) {
        if (streams.errIsTerminal && !options.quiet)
            meter_ = std::make_unique<ProgressMeter>(streams.err, rows);
    }

    NamingOption SelectedNamingOption() override { return options_.naming; }

    bool StopRequested() const override { return StopSignal() != 0; }

    void ShowProgress(float, const std::string &) override {
        ++done_;
        if (meter_) meter_->Update(done_);
    }

    void MessageConverted(const std::string &source, const std::string &output) override {
        if (options_.dryRun) streams_.out << source << '\t' << output << '\n';
    }

    void MessageFailed(const std::string &source, const std::string &reason) override {
        if (meter_) meter_->Interrupt();
        streams_.err << source << ": " << reason << '\n';
    }

    void Finish() {
        if (meter_) meter_->Finish();
    }

    int StopSignal() const { return streams_.stopSignal != nullptr ? *streams_.stopSignal : 0; }
    std::size_t done() const { return done_; }

private:
    CliStreams streams_;
    const Options &options_;
    std::unique_ptr<ProgressMeter> meter_;
    std::size_t done_ = 0;
};

// Stops the folder scan on the same signals as the run.
class ScanHooks : public WorkHooks {
public:
    explicit ScanHooks(const volatile std::sig_atomic_t *stopSignal) : stopSignal_(stopSignal) {}
    bool StopRequested() const override { return stopSignal_ != nullptr && *stopSignal_ != 0; }

private:
    const volatile std::sig_atomic_t *stopSignal_;
};

void PrintSummary(const Options &options, const ConversionReport &report, std::size_t done, std::size_t rows,
                  std::ostream &err) {
    if (report.stopped) err << "stopped after " << done << " of " << rows << " messages\n";
    err << report.converted << " converted, ";
    if (options.skipIdentical) err << report.alreadyThere << " already there, ";
    err << report.failures.size() << " failed, " << report.skipped << " skipped\n";
}

int Convert(const Options &options, CliStreams streams) {
    MessageList list;
    std::int64_t foldersNotRead = 0;
    ScanHooks scanHooks(streams.stopSignal);
    for (const std::string &path : options.paths) {
        const std::string absolute = AbsolutePath(path);
        if (NativeDirectoryLister().FolderExists(absolute)) {
            const FolderScanResult scan = ScanFolderIntoList(absolute, list, scanHooks);
            for (const UnreadFolder &folder : scan.unreadFolders)
                streams.err << folder.path << ": " << folder.reason << '\n';
            foldersNotRead += scan.FoldersNotRead();
        } else {
            list.AddFileToList(absolute);
        }
        if (scanHooks.StopRequested()) break;
    }

    NativeFileService native;
    SimulatedFileService simulated;
    FileService &files = options.dryRun ? static_cast<FileService &>(simulated) : native;
    DuplicateCounter duplicateCounter = 0;
    // The empty list's one blank row is no message to report on.
    const std::size_t rows = list.IsEmpty() ? 0 : list.RowCount();
    CliObserver observer(streams, options, rows);
    ConversionReport report;
    if (scanHooks.StopRequested()) {
        report.stopped = true;
    } else if (rows > 0) {
        report = RunConversion(list, AbsolutePath(options.output), duplicateCounter, observer, files,
                               RunOptions{options.skipIdentical});
    }
    observer.Finish();

    if (!options.quiet || report.stopped) PrintSummary(options, report, observer.done(), rows, streams.err);
    if (report.stopped && observer.StopSignal() != 0) return 128 + observer.StopSignal();
    return report.AllConverted() && foldersNotRead == 0 ? 0 : 1;
}

}  // namespace

int RunCli(const std::vector<std::string> &args, CliStreams streams) {
    auto parsed = ParseArguments(args);
    if (auto *error = std::get_if<UsageError>(&parsed)) {
        streams.err << "tarvelin-cli: " << error->message << "\n" << kUsage << " (see --help)\n";
        return 2;
    }
    const Options &options = std::get<Options>(parsed);
    if (options.help) {
        streams.out << kHelp;
        return 0;
    }
    return Convert(options, streams);
}

}  // namespace tarvelin
