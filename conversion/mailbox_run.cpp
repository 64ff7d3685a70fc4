#include "conversion/mailbox_run.h"

#include <map>
#include <set>
#include <utility>

#include "conversion/imap_utf7.h"
#include "conversion/mail_message.h"
#include "conversion/maildir_writer.h"
#include "conversion/mbox_writer.h"
#include "platform/file_ops.h"
#include "platform/input_file.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

constexpr const char *kInboxFile = "Inbox";
constexpr std::size_t kReadChunk = 256 * 1024;

// The date the naming and the server's received date use: Date, else the newest Received, else
// the file's own.
std::int64_t MessageInstant(const std::string &source) {
    MailMessage message;
    (void)message.LoadFromFile(source);
    return message.Instant().unixSeconds;
}

Status ReadWhole(const std::string &source, std::string &bytes, WorkHooks &hooks) {
    InputFile file(source);
    if (!file.status()) return file.status();
    if (file.kind() == InputFile::Kind::Folder)
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is a folder");
    if (file.kind() != InputFile::Kind::Regular)
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is not a regular file");
    bytes.clear();
    for (;;) {
        const std::size_t before = bytes.size();
        bytes.resize(before + kReadChunk);
        const std::ptrdiff_t got = file.Read(bytes.data() + before, kReadChunk);
        if (got < 0) return Status::Failure(ErrorKind::Other, "cannot read the message");
        bytes.resize(before + static_cast<std::size_t>(got));
        if (got == 0) return Status::Ok();
        hooks.Yield();
        if (hooks.StopRequested()) return Status::Failure(ErrorKind::Stopped, "stopped");
    }
}

struct Placed {
    const MailboxSource *source;
    MailboxPath mailbox;
};

class MailboxRun {
public:
    MailboxRun(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
               MailboxRunObserver &observer, MailboxRunOptions options)
        : sources_(sources), root_(AddSeparator(outputFolder)), observer_(observer), options_(options) {}

    ConversionReport Execute() {
        std::vector<Placed> placed;
        placed.reserve(sources_.size());
        for (const MailboxSource &source : sources_)
            placed.push_back({&source, MailboxFor(options_.format, source.root, source.path, kNativeSeparator)});
        if (YieldStops()) return Stopped();
        const bool complete = options_.format == MailboxFormat::Maildir ? WriteMaildir(placed) : WriteMboxes(placed);
        if (!complete) return Stopped();
        return std::move(report_);
    }

private:
    bool WriteMaildir(const std::vector<Placed> &placed) {
        MaildirWriter writer(options_.skipIdentical, options_.dryRun);
        for (std::size_t i = 0; i < placed.size(); ++i) {
            const Placed &item = placed[i];
            if (YieldStops()) {
                Report(placed, writer.Finish());
                return false;
            }
            const std::string &source = item.source->path;
            ReportChangedNames(item);
            for (std::size_t level = 0; level < item.mailbox.names.size(); ++level)
                (void)writer.Prepare(MaildirFolder(item.mailbox, level));  // its own message tells a failure
            const std::int64_t instant = MessageInstant(source);
            std::vector<MaildirWriter::Placement> settled =
                writer.Write(i, source, MaildirFolder(item.mailbox, item.mailbox.names.size()),
                             RelativeSourcePath(item.source->root, source, kNativeSeparator), instant, observer_);
            const bool stopped = !settled.empty() && settled.back().status.kind() == ErrorKind::Stopped;
            if (stopped) settled.pop_back();
            Report(placed, settled);
            if (stopped) return false;
            ShowProgress();
        }
        Report(placed, writer.Finish());
        return true;
    }

    void Report(const std::vector<Placed> &placed, const std::vector<MaildirWriter::Placement> &settled) {
        for (const MaildirWriter::Placement &placement : settled) {
            const std::string &source = placed[placement.item].source->path;
            if (!placement.status) {
                Fail(source, placement.status.reason());
            } else if (placement.alreadyThere) {
                ++report_.alreadyThere;
                observer_.MessageAlreadyThere(source, placement.path, {});
            } else {
                ++report_.converted;
                observer_.MessageWritten(source, placement.path, 0);
            }
        }
    }

    // One file per mailbox, in the order of each mailbox's first message; inside a file, list order.
    bool WriteMboxes(const std::vector<Placed> &placed) {
        std::vector<std::vector<const Placed *>> groups;
        std::map<std::vector<std::string>, std::size_t> groupOf;
        for (const Placed &item : placed) {
            auto [found, added] = groupOf.try_emplace(item.mailbox.names, groups.size());
            if (added) groups.emplace_back();
            groups[found->second].push_back(&item);
        }
        for (const auto &group : groups)
            if (!WriteMbox(group)) return false;
        // A parent without a file of its own (no message, or none that could be read) still needs
        // one, or its .sbd folder is never read.
        std::set<std::vector<std::string>> parents;
        for (const auto &[names, index] : groupOf)
            for (std::size_t level = 1; level < names.size(); ++level)
                parents.emplace(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(level));
        for (const auto &parent : parents) {
            if (mboxesWritten_.count(parent) || options_.dryRun) continue;
            const std::string folder = MboxFolder(parent, parent.size() - 1);
            const std::string path = folder + parent.back();
            if (FileExist(path)) continue;
            MboxFile file;
            std::string written;
            Status made = EnsureFolder(folder);
            if (made) made = file.Start(folder);
            if (made) made = file.Finish(folder, parent.back(), written);
            if (!made) Fail(path, made.reason());
        }
        return true;
    }

    bool WriteMbox(const std::vector<const Placed *> &group) {
        const MailboxPath &mailbox = group.front()->mailbox;
        const std::string folder = MboxFolder(mailbox.names, mailbox.names.size() - (mailbox.names.empty() ? 0 : 1));
        const std::string name = mailbox.names.empty() ? kInboxFile : mailbox.names.back();
        for (const Placed *item : group) ReportChangedNames(*item);

        Status ready = options_.dryRun ? CheckFolderCreatable(folder) : EnsureFolder(folder);
        MboxFile file;
        if (ready && !options_.dryRun) ready = file.Start(folder);
        std::vector<const Placed *> written;
        std::string bytes;
        for (const Placed *item : group) {
            if (YieldStops()) return false;
            const std::string &source = item->source->path;
            Status added = ready;
            if (added) added = ReadWhole(source, bytes, observer_);
            if (added.kind() == ErrorKind::Stopped) return false;
            if (added && !options_.dryRun) added = file.Add(MessageInstant(source), bytes);
            if (added) {
                written.push_back(item);
            } else {
                Fail(source, added.reason());
            }
            ShowProgress();
        }
        if (written.empty() || !ready) return true;

        std::string path;
        Status named = Status::Ok();
        if (options_.dryRun) {
            path = FreeMboxPath(folder, name);
        } else {
            named = file.Finish(folder, name, path);
        }
        if (!named) {
            for (const Placed *item : written) Fail(item->source->path, named.reason());
            return true;
        }
        mboxesWritten_.insert(mailbox.names);
        if (path != folder + name) observer_.NameChanged(folder + name, path);
        for (std::size_t i = 0; i < written.size(); ++i) {
            ++report_.converted;
            observer_.MessageWritten(written[i]->source->path, path, i + 1);
        }
        return true;
    }

    // The folder of the mailbox made of the first `levels` names.
    std::string MaildirFolder(const MailboxPath &mailbox, std::size_t levels) const {
        std::string folder = root_;
        for (std::size_t i = 0; i < levels; ++i) folder += ImapUtf7FromUtf8(mailbox.names[i]) + kNativeSeparator;
        return folder;
    }

    // The folder that holds the file of the mailbox whose parents are the first `parents` names.
    std::string MboxFolder(const std::vector<std::string> &names, std::size_t parents) const {
        std::string folder = root_;
        for (std::size_t i = 0; i < parents; ++i) folder += names[i] + ".sbd" + kNativeSeparator;
        return folder;
    }

    // Once for each source folder whose name had to change, at the level where it changed.
    void ReportChangedNames(const Placed &item) {
        const MailboxPath &mailbox = item.mailbox;
        if (mailbox.changedFrom.empty()) return;
        std::string sourceFolder = AddSeparator(item.source->root);
        sourceFolder.pop_back();
        for (std::size_t i = 0; i < mailbox.names.size(); ++i) {
            sourceFolder += kNativeSeparator + mailbox.changedFrom[i];
            if (mailbox.names[i] == mailbox.changedFrom[i] || !reportedFolders_.insert(sourceFolder).second) continue;
            std::string written;
            if (options_.format == MailboxFormat::Maildir) {
                written = MaildirFolder(mailbox, i + 1);
            } else {
                written = MboxFolder(mailbox.names, i) + mailbox.names[i];
            }
            observer_.NameChanged(sourceFolder, written);
        }
    }

    void Fail(const std::string &source, std::string reason) {
        observer_.MessageFailed(source, reason, {});
        report_.failures.push_back({source, std::move(reason)});
    }

    void ShowProgress() {
        ++done_;
        const std::size_t rows = sources_.size();
        const double share = static_cast<double>(done_) / static_cast<double>(rows) * 100.0;
        observer_.ShowProgress(static_cast<float>(share), ProgressCaption(done_, rows));
    }

    bool YieldStops() {
        observer_.Yield();
        return observer_.StopRequested();
    }

    ConversionReport Stopped() {
        report_.stopped = true;
        return std::move(report_);
    }

    const std::vector<MailboxSource> &sources_;
    const std::string root_;
    MailboxRunObserver &observer_;
    const MailboxRunOptions options_;
    std::set<std::string> reportedFolders_;
    std::set<std::vector<std::string>> mboxesWritten_;
    std::size_t done_ = 0;
    ConversionReport report_;
};

}  // namespace

ConversionReport RunMailboxConversion(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
                                      MailboxRunObserver &observer, MailboxRunOptions options) {
    return MailboxRun(sources, outputFolder, observer, options).Execute();
}

}  // namespace tarvelin
