#include "cli/cli.h"

#include <getopt.h>

#include <csignal>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string_view>
#include <functional>
#include <set>
#include <utility>
#include <variant>

#include "cli/progress_meter.h"
#include "cli/run_index.h"
#include "platform/simulated_file_service.h"
#include "cli/terminal_width.h"
#include "conversion/conversion_run.h"
#include "conversion/mailbox_run.h"
#include "messagelist/folder_scan.h"
#include "platform/ascii_case.h"
#include "platform/directory_lister.h"
#include "platform/file_ops.h"
#include "platform/system.h"

namespace tarvelin {

namespace {

constexpr const char *kUsage =
    "usage: tarvelin-cli -o DIR [-n OPTION | --format=maildir|mbox] [-j N] [-vzq] [--skip-identical] [--dry-run] "
    "[--file-time=WHEN] [--index=FILE] PATH...";

// The help up to the table of naming schemes, which comes from the schemes themselves.
constexpr const char *kHelpBeforeSchemes = R"HELP(usage: tarvelin-cli -o DIR [-n OPTION | --format=maildir|mbox] [-j N] [-vzq] [--skip-identical]
       [--dry-run] [--file-time=WHEN] [--index=FILE] PATH...

Converts MDaemon message files (.msg) into .eml files: each message is copied byte for byte
below DIR, in folders that repeat its source folders, under a name made by the naming option.
Existing files are never overwritten: a taken name gets " (n)" before ".eml".

Where the files land: DIR, then the message's folder without its root ("/", a drive, "\\"):
  /home/u/Mail/a.msg  ->  DIR/home/u/Mail/...
  C:\Mail\a.msg       ->  DIR\Mail\...

  PATH                 a folder: every file below it whose name ends in ".msg" (any case),
                       breadth-first; a file: taken as given (made absolute). The list keeps
                       command-line order.
  -o, --output=DIR     the output folder (required; created when missing). It is checked
                       before anything is read: when it is a file or cannot be created or
                       written, the run does not start.
  -n, --naming=OPTION  how output files are named, case-insensitive (default OptOriginal):
)HELP";

// The rest of the help, after the table of schemes.
constexpr const char *kHelpAfterSchemes = R"HELP(      --skip-identical
                       do not copy a message again when its name, or a numbered name of it
                       (" (n)"), already holds the same bytes: a rerun of an interrupted or
                       finished run adds exactly the missing messages ("already there")
      --dry-run        write nothing; print "source<TAB>output" for each message that would be
                       written (for mbox "source<TAB>file<TAB>number", its number in the
                       file). It makes the real run's checks, so it gives the same names,
                       failures and exit status
  -j, --jobs=N         copy up to N messages at once, 1 to 64 (default 16). Names, numbers,
                       output and failures are the same for every N: copies are named in
                       list order. As many as the processor has cores work at first, more
                       while the copies mostly wait: on network shares, where each file
                       call waits for the server, and on disks that are slow to flush.
                       maildir copies N messages at once too; mbox builds up to N mailbox
                       files at once, each one's messages in turn
      --file-time=WHEN the modification time of each .eml (on Windows also its creation time):
                       "source" (default) the .msg file's, "message" the message's date, the
                       one the naming uses (its Date in its own zone, else the newest Received,
                       else the file's time). A date before 1970 or after 2106, or one the file
                       system refuses, keeps the file's time (-v says so). For maildir the
                       default is "message": the server takes the file's time as the received
                       date. Not for mbox, whose messages carry their dates inside
      --index=FILE     write a CSV index of the run to FILE, a new file (an existing FILE is
                       never replaced: the run does not start): UTF-8 with a byte-order mark,
                       CRLF, one row per listed message in list order, written as the run goes.
                       Columns: status,source,output,bytes,date,date_source,from,subject,
                       message_id,error,number_in_file. status is converted, failed,
                       already-there, skipped, would-convert (--dry-run) or, for maildir and
                       mbox, renamed: a folder or file written under another name (source is
                       the one wanted, output the one written), before its first message.
                       bytes is the source's size; number_in_file the message's number in its
                       mbox file, from 1 (empty otherwise); date is ISO 8601 with the offset it
                       was written with ("Z": the file's time); date_source is header,
                       received or file; a cell a spreadsheet would run as a formula starts
                       with "'".
                       A row (one line, here two):
                         converted,/m/in/a.msg,/out/m/in/a.eml.eml,2048,2015-03-03T09:30:00+01:00,
                         header,Ann Lee <ann@example.org>,"Re: budget, Q1",<1@example.org>,,
      --format=FORMAT  eml (the default): .eml files as above. maildir or mbox: a mail server's
                       or a mail client's mailboxes instead (see below); -n does not apply
  -v, --verbose        print "source<TAB>output" for each message written (for mbox with its
                       number in the file, as --dry-run prints it), and on stderr
                       "source: already there as output" for each one --skip-identical skips
                       and, with --file-time=message, which copy keeps its file's time
  -z, --null           with -v or --dry-run: end the source, the output (and an mbox number)
                       each with a NUL byte instead of TAB and newline, for names that hold
                       those (find -print0)
  -q, --quiet          no progress line and no summary (failures are still printed)
  -h, --help           this text
  -V, --version        print the version

Options may be bundled (-qo DIR, -oDIR) and long ones abbreviated (--out DIR, --dry);
"--" ends the options, so a PATH may begin with "-".

Why abc.eml.eml: OptOriginal keeps the file's whole own name, with its last four characters
(".msg") made ".eml" wherever they occur in it, and then adds ".eml" as every scheme does.

Each message is copied under a hidden temporary name (".tarvelin-....part") in its output
folder (with -j above 1 in numbered folders inside one such folder of DIR) and gets its
final name only when the copy is complete, so a final name never holds a
partial message. Ctrl-C, SIGTERM and SIGHUP stop the run: the complete copies of the messages
from the start of the list up to the first one still under way get their names, every other
copy is dropped, and no temporary file stays; a second Ctrl-C ends at once.
After a kill -9 or a power cut only such temporary files can remain, and they can be deleted.

--format=maildir and --format=mbox write one mailbox tree into DIR. A folder given as PATH is
INBOX and its subfolders are its child mailboxes, named relative to PATH (not from the drive's
root as for .eml files); files given as PATH go to INBOX; several PATHs merge into one tree.
A folder name the target would refuse or hide is changed and reported, on stderr and in the
index: a top-level "Inbox" gets a "_" after; for maildir also "cur", "new" and "tmp" (after) and
a leading "~" (before); for mbox a leading "." or "#" (before), a trailing "~" and the endings
.msf, .sbd, .snm, .toc (after).
  maildir  the layout of Dovecot's LAYOUT=fs: DIR holds INBOX's cur/, new/ and tmp/, each child
           mailbox is a folder beside them (names in IMAP modified UTF-7: "Ärchiv" is
           "&AMQ-rchiv"). Each message keeps its bytes, is copied into tmp/, gets the
           time of its Date (else its newest Received, else the file's) as its modification
           time, which the server takes as the received date (--file-time=source keeps the
           .msg file's), and is renamed into cur/ as "<seconds>.H<hex>.tarvelin", where the
           seconds are always the message's date. A rerun never replaces a file; with
           --skip-identical it skips the messages already there. To load it, write into a
           staging folder, keep the times when moving it (rsync -rt, robocopy /E /COPY:DAT),
           and run once:
             doveadm import -u USER -s "maildir:DIR:LAYOUT=fs:INDEX=MEMORY:CONTROL=/tmp/c" "" ALL
           Never write into a live store, and never import twice (it copies everything again).
  mbox     the layout of Thunderbird's local folders, in mboxrd form: INBOX is the file
           "Inbox", each mailbox a file of its name, its children in "<name>.sbd/". This is no
           byte copy: CR LF becomes LF and lines starting ">*From " get one more ">", so
           Dovecot users should take maildir. Each file is written under a temporary name and
           named only when complete, never replacing nor appending: when "Inbox" exists, the
           new file is "Inbox (1)", and says so. --skip-identical does not apply. A file's
           modification time is its newest message's date.

stderr: on a terminal a progress line ("Scanning: N messages found" while folders are read),
one line per failure (path: reason), and a summary "N converted, K failed, S skipped" (with
--skip-identical also "A already there"; a dry run says "would convert").
Exit status: 0 every listed message converted; 1 any message failed or a folder could not be read;
2 bad usage or an unusable output folder; 130 stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP.
)HELP";

// Sixteen copies at once hide the round trips of a network share; on a local disk only as many work
// as keep waiting on it, so they cost nothing against one (bench/README.md).
constexpr unsigned kDefaultJobs = 16;

enum class OutputFormat { Eml, Maildir, Mbox };

struct Options {
    std::string output;
    NamingOption naming = NamingOption::OptOriginal;
    bool namingGiven = false;
    bool fileTimeGiven = false;
    OutputFormat format = OutputFormat::Eml;
    bool dryRun = false;
    bool skipIdentical = false;
    FileTime fileTime = FileTime::Source;
    std::string index;  // empty: none
    bool quiet = false;
    bool verbose = false;
    bool nullSeparated = false;
    bool help = false;
    bool version = false;
    unsigned jobs = kDefaultJobs;
    std::vector<std::string> paths;
};

struct UsageError {
    std::string message;
};

// Values of the long options that have no short form.
enum : int { kSkipIdentical = 256, kDryRun, kFileTime, kIndex, kFormat };

constexpr const char *kShortOptions = ":o:n:j:qvzhV";
constexpr option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"naming", required_argument, nullptr, 'n'},
    {"skip-identical", no_argument, nullptr, kSkipIdentical},
    {"dry-run", no_argument, nullptr, kDryRun},
    {"jobs", required_argument, nullptr, 'j'},
    {"file-time", required_argument, nullptr, kFileTime},
    {"index", required_argument, nullptr, kIndex},
    {"format", required_argument, nullptr, kFormat},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"null", no_argument, nullptr, 'z'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// What getopt_long refused, in one line. It names a known long option's fault by the option's
// value and an unknown or ambiguous one by 0, so the word itself is read again for those.
std::string OptionFault(int value, const char *word) {
    for (const option *o = kLongOptions; value != 0 && o->name != nullptr; ++o) {
        if (o->val != value) continue;
        if (o->has_arg == no_argument) return "--" + std::string(o->name) + " takes no value";
        if (o->val == kFileTime) return "--file-time needs source or message";
        if (o->val == kIndex) return "--index needs a file";
        if (o->val == kFormat) return "--format needs eml, maildir or mbox";
        return std::string("-") + static_cast<char>(o->val) + ", --" + o->name + " needs " +
               (o->val == 'o' ? "a folder" : o->val == 'j' ? "a number" : "an option name");
    }
    if (value != 0) return std::string("unknown option '-") + static_cast<char>(value) + "'";
    const std::string text = word != nullptr ? word : "";
    if (text.rfind("--", 0) != 0) return "unknown option '" + text + "'";
    const std::string typed = text.substr(2, text.find('=') - 2);
    std::string candidates;
    int matches = 0;
    for (const option *o = kLongOptions; o->name != nullptr; ++o) {
        if (std::string_view(o->name).rfind(typed, 0) != 0) continue;
        candidates += std::string(matches++ > 0 ? ", " : "") + "--" + o->name;
    }
    if (matches > 1) return "option '--" + typed + "' is ambiguous: " + candidates;
    return "unknown option '--" + typed + "'";
}

// Returns the options, or the reason the command line is not usable.
std::variant<Options, UsageError> ParseArguments(const std::vector<std::string> &args) {
    Options options;
    // getopt_long permutes the pointers, never the strings; it wants them writable all the same.
    std::vector<std::string> words;
    words.reserve(args.size() + 1);
    words.emplace_back("tarvelin-cli");
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    // 0 makes both the GNU and the MinGW getopt start afresh, so each call parses on its own.
    optind = 0;
    opterr = 0;
    bool haveOutput = false;
    for (int value; (value = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr)) != -1;) {
        switch (value) {
        case 'o':
            if (*optarg == '\0') return UsageError{"-o, --output needs a folder"};
            options.output = optarg;
            haveOutput = true;
            break;
        case 'n': {
            auto option = NamingOptionFromName(optarg);
            if (!option) return UsageError{"unknown naming option '" + std::string(optarg) + "'"};
            options.naming = *option;
            options.namingGiven = true;
            break;
        }
        case kFormat: {
            const std::string_view format = optarg;
            if (EqualsIgnoringAsciiCase(format, "eml")) {
                options.format = OutputFormat::Eml;
            } else if (EqualsIgnoringAsciiCase(format, "maildir")) {
                options.format = OutputFormat::Maildir;
            } else if (EqualsIgnoringAsciiCase(format, "mbox")) {
                options.format = OutputFormat::Mbox;
            } else {
                return UsageError{"unknown format '" + std::string(format) + "' (eml, maildir or mbox)"};
            }
            break;
        }
        case 'j': {
            const std::string_view text = optarg;
            unsigned jobs = 0;
            const bool digits = !text.empty() && text.size() <= 2 &&
                                text.find_first_not_of("0123456789") == std::string_view::npos;
            if (digits) jobs = static_cast<unsigned>(std::stoul(std::string(text)));
            if (jobs < 1 || jobs > kMaxJobs)
                return UsageError{"-j, --jobs takes a number from 1 to " + std::to_string(kMaxJobs) + ", not '" +
                                  std::string(text) + "'"};
            options.jobs = jobs;
            break;
        }
        case kSkipIdentical: options.skipIdentical = true; break;
        case kDryRun: options.dryRun = true; break;
        case kFileTime:
            options.fileTimeGiven = true;
            if (std::string_view(optarg) == "source") {
                options.fileTime = FileTime::Source;
            } else if (std::string_view(optarg) == "message") {
                options.fileTime = FileTime::Message;
            } else {
                return UsageError{"--file-time is source or message, not '" + std::string(optarg) + "'"};
            }
            break;
        case kIndex:
            if (*optarg == '\0') return UsageError{"--index needs a file"};
            options.index = optarg;
            break;
        case 'q': options.quiet = true; break;
        case 'v': options.verbose = true; break;
        case 'z': options.nullSeparated = true; break;
        case 'h': options.help = true; break;
        case 'V': options.version = true; break;
        default:  // '?' or ':'
            return UsageError{OptionFault(optopt, optind > 0 && optind <= argc ? argv[optind - 1] : nullptr)};
        }
    }
    for (int i = optind; i < argc; ++i) {
        if (*argv[i] == '\0') return UsageError{"an empty PATH names nothing"};
        options.paths.emplace_back(argv[i]);
    }
    if (options.help || options.version) return options;
    if (!haveOutput) return UsageError{"-o, --output DIR is required"};
    if (options.paths.empty()) return UsageError{"no PATH given"};
    if (options.format != OutputFormat::Eml && options.namingGiven)
        return UsageError{"-n, --naming applies to .eml files only, not to --format=maildir or mbox"};
    // An mbox file's messages carry their dates in their separator lines, which readers take; the
    // file's own time is no message's.
    if (options.format == OutputFormat::Mbox && options.fileTimeGiven)
        return UsageError{"--file-time does not apply to --format=mbox, whose messages carry their dates inside"};
    // A Maildir server takes the file's time as the received date.
    if (options.format == OutputFormat::Maildir && !options.fileTimeGiven)
        options.fileTime = FileTime::Message;
    if (options.format == OutputFormat::Mbox && options.skipIdentical)
        return UsageError{"--skip-identical does not apply to --format=mbox, which never adds to a file"};
    return options;
}

// Prints "source<TAB>output" lines, or with -z the two fields each ended by a NUL; a message in
// an mbox file has its number there as a third field.
void PrintPair(std::ostream &out, const std::string &source, const std::string &output, std::size_t numberInFile,
               bool nullSeparated) {
    const char separator = nullSeparated ? '\0' : '\t';
    out << source << separator << output;
    if (numberInFile > 0) out << separator << numberInFile;
    out << (nullSeparated ? '\0' : '\n');
}

class CliObserver : public RunObserver {
public:
    CliObserver(CliStreams streams, const Options &options, ProgressMeter *meter, RunIndex *index)
        : streams_(streams), options_(options), meter_(meter), index_(index) {}

    NamingOption SelectedNamingOption() override { return options_.naming; }

    bool StopRequested() const override { return StopSignal() != 0; }

    void ShowProgress(float, const std::string &) override {
        ++done_;
        if (meter_) meter_->Update(done_);
    }

    void MessageWritten(const std::string &source, const std::string &output, std::size_t numberInFile,
                        const MessageFacts &facts) override {
        if (options_.dryRun || options_.verbose)
            PrintPair(streams_.out, source, output, numberInFile, options_.nullSeparated);
        if (options_.verbose && !facts.timeNote.empty()) {
            if (meter_) meter_->Interrupt();
            streams_.err << source << ": " << facts.timeNote << '\n';
        }
        AddRow({options_.dryRun ? IndexStatus::WouldConvert : IndexStatus::Converted, source, output, facts, {},
                numberInFile});
    }

    // On stderr, so that stdout keeps listing only the messages written.
    void MessageAlreadyThere(const std::string &source, const std::string &output,
                             const MessageFacts &facts) override {
        AddRow({IndexStatus::AlreadyThere, source, output, facts, {}});
        if (!options_.verbose) return;
        if (meter_) meter_->Interrupt();
        streams_.err << source << ": already there as " << output << '\n';
    }

    void MessageFailed(const std::string &source, const std::string &reason, const MessageFacts &facts) override {
        if (meter_) meter_->Interrupt();
        streams_.err << source << ": " << reason << '\n';
        AddRow({IndexStatus::Failed, source, {}, facts, reason});
    }

    void RowSkipped(const std::string &) override { AddRow({IndexStatus::Skipped, {}, {}, {}, {}}); }

    void NameChanged(const std::string &wanted, const std::string &written) override {
        if (meter_) meter_->Interrupt();
        streams_.err << wanted << ": written as " << written << '\n';
        AddRow({IndexStatus::Renamed, wanted, written, {}, {}});
    }

    int StopSignal() const { return streams_.stopSignal != nullptr ? *streams_.stopSignal : 0; }
    std::size_t done() const { return done_; }
    // Whether every row reached the index (when there is one).
    bool IndexWritten() const { return indexFailure_.ok(); }

private:
    // A failed write is said once; the run goes on, but does not count as a success.
    void AddRow(const IndexRow &row) {
        if (index_ == nullptr || !indexFailure_.ok()) return;
        indexFailure_ = index_->Add(row);
        if (indexFailure_.ok()) return;
        if (meter_) meter_->Interrupt();
        streams_.err << "tarvelin-cli: " << options_.index << ": " << indexFailure_.reason() << '\n';
    }

    CliStreams streams_;
    const Options &options_;
    ProgressMeter *const meter_;
    RunIndex *const index_;
    Status indexFailure_;
    std::size_t done_ = 0;
};

// The real file system, counting the messages in each folder as it is listed, so that a long scan
// can say how far it got before the walk hands over its paths.
class CountingLister : public DirectoryLister {
public:
    bool FolderExists(const std::string &path) const override { return NativeDirectoryLister().FolderExists(path); }

    DirectoryListing List(const std::string &folder) const override {
        DirectoryListing listing = NativeDirectoryLister().List(folder);
        // The walk lists a folder that links lead to twice but walks it once.
        const FolderIdentity &id = listing.identity;
        const bool known = id.device != 0 || id.inode != 0;
        if (!listing.status.ok() || (known && !seen_.emplace(id.device, id.inode).second)) return listing;
        for (const DirectoryEntry &entry : listing.entries)
            if (!entry.isFolder && IsMessageFilePath(entry.name)) ++found_;
        return listing;
    }

    std::size_t found() const { return found_; }
    // A new walk: the walker forgets the folders it has seen too.
    void NewWalk() { seen_.clear(); }

private:
    mutable std::size_t found_ = 0;
    mutable std::set<std::pair<std::uint64_t, std::uint64_t>> seen_;
};

// Stops the folder scan on the same signals as the run, and shows how many messages it found.
class ScanHooks : public WorkHooks {
public:
    ScanHooks(const volatile std::sig_atomic_t *stopSignal, ProgressMeter *meter, const CountingLister &lister)
        : stopSignal_(stopSignal), meter_(meter), lister_(lister) {}
    void Yield() override {
        if (meter_) meter_->Scanning(filesGiven + lister_.found());
    }
    bool StopRequested() const override { return stopSignal_ != nullptr && *stopSignal_ != 0; }

    std::size_t filesGiven = 0;  // files named on the command line rather than found

private:
    const volatile std::sig_atomic_t *stopSignal_;
    ProgressMeter *const meter_;
    const CountingLister &lister_;
};

// Whether the run can put anything below the output folder at all, found without creating it:
// a file in its place or a folder that takes no new entries would fail every message alike.
Status CheckOutputFolder(const std::string &folder) {
    if (Status creatable = CheckFolderCreatable(folder); !creatable) return creatable;
    return CheckFolderTakesFiles(folder, "cannot write to the folder " + folder);
}

void PrintSummary(const Options &options, const ConversionReport &report, std::size_t done, std::size_t rows,
                  std::ostream &err) {
    if (report.stopped) err << "stopped after " << done << " of " << rows << " messages\n";
    err << report.converted << (options.dryRun ? " would convert, " : " converted, ");
    if (options.skipIdentical) err << report.alreadyThere << " already there, ";
    err << report.failures.size() << " failed, " << report.skipped << " skipped\n";
}

int Convert(const Options &options, CliStreams streams) {
    const std::string output = AbsolutePath(options.output);
    if (const Status usable = CheckOutputFolder(output); !usable) {
        streams.err << "tarvelin-cli: " << usable.reason() << '\n';
        return 2;
    }

    // Created before anything is read, so that a FILE already there stops the run before it starts.
    std::unique_ptr<RunIndex> index;
    if (!options.index.empty()) {
        index = std::make_unique<RunIndex>();
        if (const Status created = index->Create(AbsolutePath(options.index)); !created) {
            streams.err << "tarvelin-cli: " << options.index << ": " << created.reason() << '\n';
            return 2;
        }
    }

    std::unique_ptr<ProgressMeter> meter;
    if (streams.errIsTerminal && !options.quiet)
        meter = std::make_unique<ProgressMeter>(streams.err, streams.columns ? streams.columns : std::function<int()>(TerminalColumns));

    MessageList list;
    // The folder given on the command line that the rows from each first row on were found below
    // (empty: a file given): one entry per PATH, not per row.
    std::vector<std::pair<std::size_t, std::string>> rootFromRow;
    std::int64_t foldersNotRead = 0;
    CountingLister lister;
    ScanHooks scanHooks(streams.stopSignal, meter.get(), lister);
    for (const std::string &path : options.paths) {
        const std::string absolute = AbsolutePath(path);
        if (lister.FolderExists(absolute)) {
            lister.NewWalk();
            const FolderScanResult scan = ScanFolderIntoList(absolute, list, scanHooks, lister);
            if (meter && !scan.unreadFolders.empty()) meter->Interrupt();
            for (const UnreadFolder &folder : scan.unreadFolders)
                streams.err << folder.path << ": " << folder.reason << '\n';
            foldersNotRead += scan.FoldersNotRead();
            rootFromRow.emplace_back(list.EntryCount() - static_cast<std::size_t>(scan.added), absolute);
        } else {
            rootFromRow.emplace_back(list.EntryCount(), std::string());
            list.AddFileToList(absolute);
            ++scanHooks.filesGiven;
        }
        if (scanHooks.StopRequested()) break;
    }

    NativeFileService native;
    SimulatedFileService simulated;
    FileService &files = options.dryRun ? static_cast<FileService &>(simulated) : native;
    // A dry run writes nothing, so there is nothing to overlap, and its service keeps a record.
    const unsigned jobs = options.dryRun ? 1 : options.jobs;
    DuplicateCounter duplicateCounter = 0;
    // The empty list's one blank row is no message to report on.
    const std::size_t rows = list.IsEmpty() ? 0 : list.RowCount();
    if (meter) meter->Start(rows);
    CliObserver observer(streams, options, meter.get(), index.get());
    ConversionReport report;
    if (scanHooks.StopRequested()) {
        report.stopped = true;
    } else if (rows > 0 && options.format != OutputFormat::Eml) {
        std::vector<MailboxSource> sources;
        sources.reserve(rows);
        auto root = rootFromRow.begin();
        for (std::size_t i = 0; i < rows; ++i) {
            while (std::next(root) != rootFromRow.end() && std::next(root)->first <= i) ++root;
            sources.push_back({std::string(list.RowText(i)), root->second});
        }
        const MailboxRunOptions mailboxOptions{
            options.format == OutputFormat::Maildir ? MailboxFormat::Maildir : MailboxFormat::Mbox,
            options.skipIdentical, jobs, options.fileTime};
        report = RunMailboxConversion(sources, output, observer, files, mailboxOptions);
    } else if (rows > 0) {
        RunOptions runOptions;
        runOptions.skipIdentical = options.skipIdentical;
        runOptions.jobs = jobs;
        runOptions.fileTime = options.fileTime;
        runOptions.readEveryHeader = index != nullptr;
        report = RunConversion(list, output, duplicateCounter, observer, files, runOptions);
    }
    if (meter) meter->Finish();
    streams.out.flush();

    if (!options.quiet || report.stopped) PrintSummary(options, report, observer.done(), rows, streams.err);
    if (report.stopped && observer.StopSignal() != 0) return 128 + observer.StopSignal();
    return report.AllConverted() && foldersNotRead == 0 && observer.IndexWritten() ? 0 : 1;
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
        streams.out << kHelpBeforeSchemes;
        for (const NamingScheme &scheme : kNamingSchemes) {
            std::string line = "        " + std::string(scheme.name);
            line.resize(21, ' ');
            line += scheme.alias;
            line.resize(40, ' ');
            streams.out << line << scheme.description << '\n';
        }
        streams.out << kHelpAfterSchemes;
        return 0;
    }
    if (options.version) {
        streams.out << "tarvelin-cli " << TARVELIN_VERSION << '\n';
        return 0;
    }
    return Convert(options, streams);
}

}  // namespace tarvelin
