#include "cli/cli.h"

#include <functional>
#include <memory>
#include <ostream>
#include <variant>

#include "cli/cli_observer.h"
#include "cli/options.h"
#include "cli/path_list.h"
#include "cli/progress_meter.h"
#include "cli/run_index.h"
#include "cli/terminal_width.h"
#include "conversion/conversion_run.h"
#include "conversion/mailbox_run.h"
#include "conversion/output_folder.h"
#include "platform/simulated_file_service.h"
#include "platform/system.h"

namespace tarvelin {

namespace {

int Convert(const Options &options, CliStreams streams) {
    const std::string output = AbsolutePath(options.output);
    if (const Status usable = CheckOutputFolder(output); !usable) {
        PrintFault(streams.err, usable.reason());
        return 2;
    }
    // Held until the run is over; a dry run only looks whether another run holds it.
    OutputFolderHold hold;
    if (const Status held = options.dryRun ? OutputFolderHold::Check(output) : hold.Take(output); !held) {
        PrintFault(streams.err, held.reason());
        return 2;
    }
    if (!hold.Unguarded().empty() && !options.quiet) PrintFault(streams.err, hold.Unguarded());

    // Created before anything is read, so that a FILE already there stops the run before it starts.
    std::unique_ptr<RunIndex> index;
    if (!options.index.empty()) {
        index = std::make_unique<RunIndex>();
        if (const Status created = index->Create(AbsolutePath(options.index)); !created) {
            PrintFault(streams.err, options.index + ": " + created.reason());
            return 2;
        }
    }

    std::unique_ptr<ProgressMeter> meter;
    if (streams.errIsTerminal && !options.quiet)
        meter = std::make_unique<ProgressMeter>(streams.err,
                                                streams.columns ? streams.columns : std::function<int()>(TerminalColumns));

    const bool mailboxes = options.format != OutputFormat::Eml;
    const PathList listed = ListPaths(options.paths, mailboxes, options.accounts, streams, meter.get(), output,
                                      options.nullSeparated);
    if (options.verbose && !listed.leftOut.empty()) {
        if (meter) meter->Interrupt();
        PrintNote(streams.err, listed.leftOut, "left out of the scan: it is the output folder", options.nullSeparated);
    }

    NativeFileService native;
    SimulatedFileService simulated;
    FileService &files = options.dryRun ? static_cast<FileService &>(simulated) : native;
    // A dry run writes nothing, so there is nothing to overlap, and its service keeps a record.
    const unsigned jobs = options.dryRun ? 1 : options.jobs;
    const std::size_t rows = listed.Count();
    if (meter) meter->Start(rows);
    CliObserver observer(streams, options, meter.get(), index.get());
    ConversionReport report;
    if (listed.stopped) {
        report.stopped = true;
    } else if ((rows > 0 || !listed.accounts.empty()) && mailboxes) {
        const MailboxRunOptions mailboxOptions{
            options.format == OutputFormat::Maildir ? MailboxFormat::Maildir : MailboxFormat::Mbox,
            options.skipIdentical, jobs, options.fileTime, options.seen, options.mailboxNaming};
        report = RunMailboxConversion(listed.sources, output, observer, files, mailboxOptions, listed.accounts);
    } else if (rows > 0) {
        RunOptions runOptions;
        runOptions.skipIdentical = options.skipIdentical;
        runOptions.jobs = jobs;
        runOptions.fileTime = options.fileTime;
        runOptions.readEveryHeader = index != nullptr;
        DuplicateCounter duplicateCounter = 0;
        report = RunConversion(listed.list, output, duplicateCounter, observer, files, runOptions);
    }
    if (meter) meter->Finish();
    streams.out.flush();

    if (!options.quiet || report.stopped) PrintSummary(options, report, observer.done(), rows, listed.accounts.size(), streams.err);
    if (report.stopped && observer.StopSignal() != 0) return 128 + observer.StopSignal();
    return report.AllConverted() && listed.foldersNotRead == 0 && observer.IndexWritten() ? 0 : 1;
}

}  // namespace

int RunCli(const std::vector<std::string> &args, CliStreams streams) {
    auto parsed = ParseArguments(args);
    if (auto *error = std::get_if<UsageError>(&parsed)) {
        PrintFault(streams.err, error->message);
        streams.err << kUsage << " (see --help)\n";
        return 2;
    }
    const Options &options = std::get<Options>(parsed);
    if (options.help) {
        PrintHelp(streams.out);
        return 0;
    }
    if (options.version) {
        streams.out << "tarvelin-cli " << TARVELIN_VERSION << '\n';
        return 0;
    }
    return Convert(options, streams);
}

}  // namespace tarvelin
