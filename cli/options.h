// The command line: its options, how they are parsed, and the help text.
#pragma once

#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

#include "conversion/conversion_run.h"
#include "conversion/mailbox/mailbox_tree.h"
#include "conversion/naming/naming_schemes.h"
#include "conversion/run_observer.h"

namespace tarvelin {

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
    // The mailbox formats: each PATH a whole store's Users folder; every message marked read; the
    // names of the top-level folders.
    bool accounts = false;
    bool seen = false;
    MailboxNaming mailboxNaming;
    bool mailboxNamesGiven = false;
    std::vector<std::string> paths;
};

struct UsageError {
    std::string message;
};

// The one usage line, said after a usage error.
extern const char *const kUsage;

// The options, or the reason the command line is not usable.
std::variant<Options, UsageError> ParseArguments(const std::vector<std::string> &args);

// The whole help text (--help).
void PrintHelp(std::ostream &out);

}  // namespace tarvelin
