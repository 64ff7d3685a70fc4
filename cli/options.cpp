#include "cli/options.h"

#include <getopt.h>

#include <optional>
#include <ostream>
#include <string_view>

#include "conversion/conversion_run.h"
#include "platform/ascii_case.h"

namespace tarvelin {

const char *const kUsage =
    "usage: tarvelin-cli -o DIR [-n OPTION | --format=maildir|mbox [--accounts] [--seen] [--mailbox-name=FROM=TO]] "
    "[-j N] [-vzq] [--skip-identical] [--dry-run] [--file-time=WHEN] [--index=FILE] PATH...";

namespace {

// The help up to the table of naming schemes, which comes from the schemes themselves.
constexpr const char *kHelpBeforeSchemes = R"HELP(usage: tarvelin-cli -o DIR [-n OPTION | --format=maildir|mbox [--accounts] [--seen]
       [--mailbox-name=FROM=TO]] [-j N] [-vzq] [--skip-identical] [--dry-run] [--file-time=WHEN]
       [--index=FILE] PATH...

Converts MDaemon message files (.msg) into .eml files: each message is copied byte for byte
below DIR, in folders that repeat its source folders, under a name made by the naming option.
Existing files are never overwritten: a taken name gets " (n)" before ".eml".

Where the files land: DIR, then the message's folder without its root ("/", a drive, "\\"):
  /home/u/Mail/a.msg  ->  DIR/home/u/Mail/...
  C:\Mail\a.msg       ->  DIR\Mail\...

  PATH                 a folder: every file below it whose name ends in ".msg" (any case),
                       breadth-first, but not the output folder when it lies below it
                       (-v says so); a file: taken as given (made absolute). The list keeps
                       command-line order.
  -o, --output=DIR     the output folder (required; created when missing). It is checked
                       before anything is read: when it is a file, a link that leads
                       nowhere, cannot be created or written, or another run of Tarvelin is
                       writing there, the run does not start. A run holds the lock file
                       DIR/.tarvelin.lock while it writes; the lock ends with the process.
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
  -j, --jobs=N         copy up to N messages at once, 1 to 64 (default 32). Names, numbers,
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
                       message_id,error,number_in_file,domain,account,mailbox. source,
                       output and error are escaped as on stderr (below), so a path with a
                       newline or bytes that are not UTF-8 stays one exact cell of valid
                       UTF-8. status is converted, failed, already-there, skipped,
                       would-convert (--dry-run) or, for maildir and mbox, renamed: a folder
                       or file written under another name (source is the one wanted, output
                       the one written), before its first message.
                       bytes is the source's size; number_in_file the message's number in its
                       mbox file, from 1 (empty otherwise); domain and account those of the
                       message with --accounts, mailbox the one it went to as mail clients
                       list it ("INBOX/Projects"), each empty where it does not apply; date
                       is ISO 8601 with the offset it
                       was written with ("Z": the file's time); date_source is header,
                       received or file; a cell a spreadsheet would run as a formula starts
                       with "'".
                       A row (one line, here two):
                         converted,/m/in/a.msg,/out/m/in/a.eml.eml,2048,2015-03-03T09:30:00+01:00,
                         header,Ann Lee <ann@example.org>,"Re: budget, Q1",<1@example.org>,,
      --format=FORMAT  eml (the default): .eml files as above. maildir or mbox: a mail server's
                       or a mail client's mailboxes instead (see below); -n does not apply
      --accounts       with maildir or mbox: each PATH is a whole MDaemon store's Users folder,
                       whose folders are domains and theirs accounts. Each account becomes a
                       mailbox tree of its own in DIR/<domain>/<account>/, with an INBOX even
                       when empty; a message outside the account folders fails. The summary
                       counts the accounts
      --mailbox-name=FROM=TO
                       with maildir or mbox: the top-level folder FROM (any case, with or
                       without ".IMAP") becomes the mailbox TO, "INBOX" for INBOX itself, in
                       place of a built-in name (see below); may be given again for others
      --seen           with maildir: each message arrives marked read (":2,S" after its name);
                       by default all arrive unread. Not on Windows, whose file names cannot
                       hold ":", and not for mbox
  -v, --verbose        print "source<TAB>output" for each message written (for mbox with its
                       number in the file, as --dry-run prints it), and on stderr
                       "source: already there as output" for each one --skip-identical skips
                       and, with --file-time=message, which copy keeps its file's time
  -z, --null           with -v or --dry-run: end the source, the output (and an mbox number)
                       each with a NUL byte instead of TAB and newline, for names that hold
                       those (find -print0); and end each line on stderr about a message or
                       a folder with a NUL instead of a newline
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
After a kill -9 or a power cut only such temporary files can remain, and they can be deleted;
the next run into DIR removes the folders of them that no live run holds.

--format=maildir and --format=mbox write one mailbox tree into DIR (with --accounts one for each
account). A folder given as PATH is INBOX and its subfolders are its child mailboxes, named
relative to PATH (not from the drive's root as for .eml files); files given as PATH go to INBOX;
several PATHs merge into one tree. MDaemon's folders get the names its users see: a folder
"<name>.IMAP" (any case) is the mailbox <name>, and at the top "Inbox.IMAP" holds INBOX's
children (its own messages go to INBOX), "Sent Items.IMAP" is Sent, "Deleted Items.IMAP"
Trash and "Drafts.IMAP" Drafts: the names that servers and clients mark as the special-use
folders (for a server in another language: --mailbox-name="Elementos eliminados=Trash"; to
keep a name: --mailbox-name="Sent Items=Sent Items"). Folders that end with one name merge
into one mailbox, in list order.
A folder name the target would refuse or hide is changed, and such a change or a merge is
reported once, on stderr and in the index: a top-level "Inbox" gets a "_" after; for maildir also
"cur", "new" and "tmp" (after) and a leading "~" (before); for mbox a leading "." or "#"
(before), a trailing "~" and the endings .msf, .sbd, .snm, .toc (after).
  maildir  the layout of Dovecot's LAYOUT=fs: DIR holds INBOX's cur/, new/ and tmp/, each child
           mailbox is a folder beside them, INBOX's children are in the folder INBOX/ (names
           in IMAP modified UTF-7: "Ärchiv" is "&AMQ-rchiv"). Each message keeps its bytes, is
           copied into tmp/, gets the time of its Date (else its newest Received, else the
           file's) as its modification time, which the server takes as the received date
           (--file-time=source keeps the .msg file's), and is renamed into cur/ as
           "<seconds>.H<hex>.tarvelin" (with --seen followed by ":2,S"), where the seconds are
           always the message's date. A rerun never replaces a file; with --skip-identical it
           skips the messages already there. To load it, write into a staging folder, keep the
           times when moving it (rsync -rt, robocopy /E /COPY:DAT), and run once:
             doveadm import -u USER -s "maildir:DIR:LAYOUT=fs:INDEX=MEMORY:CONTROL=/tmp/c" "" ALL
           (with --accounts once for each account: -u ACCOUNT@DOMAIN and DIR/DOMAIN/ACCOUNT).
           Never write into a live store, and never import twice (it copies everything again).
  mbox     the layout of Thunderbird's local folders, in mboxrd form: INBOX is the file
           "Inbox", each mailbox a file of its name, its children in "<name>.sbd/" (INBOX's
           in "Inbox.sbd/"). This is no byte copy: CR LF becomes LF and lines starting
           ">*From " get one more ">", so Dovecot users should take maildir. Each file is
           written under a temporary name and named only when complete, never replacing nor
           appending: when "Inbox" exists, the new file is "Inbox (1)", and says so.
           --skip-identical does not apply. A file's modification time is its newest
           message's date.

stderr: on a terminal a progress line ("Scanning: N messages found" while folders are read),
one line per failure (path: reason), and a summary "N converted, K failed, S skipped" (with
--skip-identical also "A already there", with --accounts "in M accounts" after it; a dry run
says "would convert"). In each line a byte that is not part of valid UTF-8, a control character
(U+0000-U+001F, U+007F-U+009F), U+2028, U+2029 and "%" itself are written "%" and two hex digits
of each byte, as in a URL: "a\nb.msg" reads "a%0Ab.msg", "50%" "50%25"; percent-decoding gives
back the exact bytes.
Exit status: 0 every listed message converted; 1 any message failed or a folder could not be read;
2 bad usage or an unusable output folder; 130 stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP.
)HELP";

// Values of the long options that have no short form.
enum : int { kSkipIdentical = 256, kDryRun, kFileTime, kIndex, kFormat, kAccounts, kMailboxName, kSeen };

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
    {"accounts", no_argument, nullptr, kAccounts},
    {"mailbox-name", required_argument, nullptr, kMailboxName},
    {"seen", no_argument, nullptr, kSeen},
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
        if (o->val == kMailboxName) return "--mailbox-name needs FROM=TO";
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

// Takes one option into `options`: nothing, or the reason its value is not usable.
std::optional<std::string> TakeOption(int value, const char *argument, Options &options) {
    const std::string_view text = argument != nullptr ? argument : "";
    switch (value) {
    case 'o':
        if (text.empty()) return "-o, --output needs a folder";
        options.output = text;
        return std::nullopt;
    case 'n': {
        const auto option = NamingOptionFromName(text);
        if (!option) return "unknown naming option '" + std::string(text) + "'";
        options.naming = *option;
        options.namingGiven = true;
        return std::nullopt;
    }
    case kFormat:
        if (EqualsIgnoringAsciiCase(text, "eml")) {
            options.format = OutputFormat::Eml;
        } else if (EqualsIgnoringAsciiCase(text, "maildir")) {
            options.format = OutputFormat::Maildir;
        } else if (EqualsIgnoringAsciiCase(text, "mbox")) {
            options.format = OutputFormat::Mbox;
        } else {
            return "unknown format '" + std::string(text) + "' (eml, maildir or mbox)";
        }
        return std::nullopt;
    case 'j': {
        unsigned jobs = 0;
        const bool digits = !text.empty() && text.size() <= 2 &&
                            text.find_first_not_of("0123456789") == std::string_view::npos;
        if (digits) jobs = static_cast<unsigned>(std::stoul(std::string(text)));
        if (jobs < 1 || jobs > kMaxJobs)
            return "-j, --jobs takes a number from 1 to " + std::to_string(kMaxJobs) + ", not '" + std::string(text) +
                   "'";
        options.jobs = jobs;
        return std::nullopt;
    }
    case kFileTime:
        options.fileTimeGiven = true;
        if (text == "source") {
            options.fileTime = FileTime::Source;
        } else if (text == "message") {
            options.fileTime = FileTime::Message;
        } else {
            return "--file-time is source or message, not '" + std::string(text) + "'";
        }
        return std::nullopt;
    case kIndex:
        if (text.empty()) return "--index needs a file";
        options.index = text;
        return std::nullopt;
    case kMailboxName: {
        const std::size_t equals = text.find('=');
        const std::string_view from = text.substr(0, equals);
        const std::string_view to = equals == std::string_view::npos ? std::string_view() : text.substr(equals + 1);
        if (from.empty() || to.empty())
            return "--mailbox-name takes FROM=TO, a folder's name and its mailbox's, not '" + std::string(text) + "'";
        // "/" divides the target's mailbox names.
        if (to.find('/') != std::string_view::npos)
            return "--mailbox-name: '" + std::string(to) + "' is not one mailbox name (it holds a '/')";
        options.mailboxNaming.Map(from, to);
        options.mailboxNamesGiven = true;
        return std::nullopt;
    }
    case kAccounts: options.accounts = true; return std::nullopt;
    case kSeen: options.seen = true; return std::nullopt;
    case kSkipIdentical: options.skipIdentical = true; return std::nullopt;
    case kDryRun: options.dryRun = true; return std::nullopt;
    case 'q': options.quiet = true; return std::nullopt;
    case 'v': options.verbose = true; return std::nullopt;
    case 'z': options.nullSeparated = true; return std::nullopt;
    case 'h': options.help = true; return std::nullopt;
    case 'V': options.version = true; return std::nullopt;
    }
    return "unknown option";  // getopt_long gives no other value
}

// Sets the defaults that depend on other options: nothing, or the reason the options given do not
// go together.
std::optional<std::string> SettleCombination(Options &options) {
    if (options.output.empty()) return "-o, --output DIR is required";
    if (options.paths.empty()) return "no PATH given";
    if (options.format != OutputFormat::Eml && options.namingGiven)
        return "-n, --naming applies to .eml files only, not to --format=maildir or mbox";
    // An mbox file's messages carry their dates in their separator lines, which readers take; the
    // file's own time is no message's.
    if (options.format == OutputFormat::Mbox && options.fileTimeGiven)
        return "--file-time does not apply to --format=mbox, whose messages carry their dates inside";
    // A Maildir server takes the file's time as the received date.
    if (options.format == OutputFormat::Maildir && !options.fileTimeGiven) options.fileTime = FileTime::Message;
    if (options.format == OutputFormat::Mbox && options.skipIdentical)
        return "--skip-identical does not apply to --format=mbox, which never adds to a file";
    // The .eml files mirror the folders as they are.
    if (options.format == OutputFormat::Eml && options.accounts)
        return "--accounts applies to --format=maildir or mbox, not to .eml files";
    if (options.format == OutputFormat::Eml && options.mailboxNamesGiven)
        return "--mailbox-name applies to --format=maildir or mbox, not to .eml files";
    if (options.seen && options.format == OutputFormat::Eml)
        return "--seen applies to --format=maildir only";
    if (options.seen && options.format == OutputFormat::Mbox)
        return "--seen does not apply to --format=mbox: the read mark would be a header added to each message";
#ifdef _WIN32
    if (options.seen)
        return "--seen does not work on Windows: the read mark is \":2,S\" in the file's name, and Windows "
               "file names cannot hold \":\"";
#endif
    return std::nullopt;
}

}  // namespace

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
    for (int value; (value = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr)) != -1;) {
        if (value == '?' || value == ':')
            return UsageError{OptionFault(optopt, optind > 0 && optind <= argc ? argv[optind - 1] : nullptr)};
        if (std::optional<std::string> fault = TakeOption(value, optarg, options)) return UsageError{*fault};
    }
    for (int i = optind; i < argc; ++i) {
        if (*argv[i] == '\0') return UsageError{"an empty PATH names nothing"};
        options.paths.emplace_back(argv[i]);
    }
    if (options.help || options.version) return options;
    if (std::optional<std::string> fault = SettleCombination(options)) return UsageError{*fault};
    return options;
}

void PrintHelp(std::ostream &out) {
    out << kHelpBeforeSchemes;
    for (const NamingScheme &scheme : kNamingSchemes) {
        std::string line = "        " + std::string(scheme.name);
        line.resize(21, ' ');
        line += scheme.alias;
        line.resize(40, ' ');
        out << line << scheme.description << '\n';
    }
    out << kHelpAfterSchemes;
}

}  // namespace tarvelin
