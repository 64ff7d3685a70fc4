#include "conversion/maildir_writer.h"

#include "conversion/sha256.h"
#include "platform/directory_lister.h"
#include "platform/file_ops.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

constexpr const char *kSuffix = ".tarvelin";
constexpr std::size_t kHexDigits = 16;
constexpr int kNumberAttempts = 10000;

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Ours: the staged copy's hidden temporary name.
bool IsOurTemporary(std::string_view name) { return name.starts_with(".tarvelin-") && name.ends_with(".part"); }

std::string Numbered(const std::string &base, int number) {
    return number < 2 ? base : base + "-" + std::to_string(number);
}

// The first of "H<hex>", "H<hex>-2", "H<hex>-3", ... that no file of the mailbox has.
std::string FreeToken(const std::set<std::string> &taken, const std::string &base) {
    int number = 1;
    while (number < kNumberAttempts && taken.count(Numbered(base, number))) ++number;
    return Numbered(base, number);
}

}  // namespace

std::string MaildirFileName(std::int64_t unixSeconds, std::string_view token) {
    return std::to_string(unixSeconds) + "." + std::string(token) + kSuffix;
}

std::string MaildirToken(std::string_view relativePath) {
    return "H" + Sha256Hex(relativePath).substr(0, kHexDigits);
}

std::string TokenOfMaildirName(std::string_view name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    for (std::size_t i = 0; i < dot; ++i)
        if (!IsDigit(name[i]) && !(i == 0 && name[i] == '-')) return {};
    std::string_view rest = name.substr(dot + 1);
    if (rest.size() < 1 + kHexDigits || rest[0] != 'H') return {};
    std::size_t end = 1;
    for (; end <= kHexDigits; ++end)
        if (!IsHex(rest[end])) return {};
    if (end < rest.size() && rest[end] == '-') {
        std::size_t digits = end + 1;
        while (digits < rest.size() && IsDigit(rest[digits])) ++digits;
        if (digits == end + 1) return {};
        end = digits;
    }
    if (!rest.substr(end).starts_with(kSuffix)) return {};
    return std::string(rest.substr(0, end));
}

MaildirWriter::Mailbox &MaildirWriter::Open(const std::string &folder) {
    auto [found, added] = mailboxes_.try_emplace(folder);
    Mailbox &mailbox = found->second;
    if (!added) return mailbox;
    for (const char *part : {"cur", "new", "tmp"}) {
        const std::string path = folder + part + kNativeSeparator;
        mailbox.ready = dryRun_ ? CheckFolderCreatable(path) : EnsureFolder(path);
        if (!mailbox.ready) return mailbox;
    }
    if (!dryRun_) {
        const DirectoryListing tmp = NativeDirectoryLister().List(folder + "tmp" + kNativeSeparator);
        for (const DirectoryEntry &entry : tmp.entries)
            if (!entry.isFolder && IsOurTemporary(entry.name))
                RemoveFile(folder + "tmp" + kNativeSeparator + entry.name);
    }
    // A server may have moved a message to new/ or cur/ and added flags to its name.
    for (const char *part : {"cur", "new"}) {
        const std::string path = folder + part + kNativeSeparator;
        const DirectoryListing listing = NativeDirectoryLister().List(path);
        for (const DirectoryEntry &entry : listing.entries) {
            const std::string token = TokenOfMaildirName(entry.name);
            if (entry.isFolder || token.empty()) continue;
            Record(mailbox, token.substr(0, 1 + kHexDigits), token, path + entry.name);
        }
    }
    return mailbox;
}

void MaildirWriter::Record(Mailbox &mailbox, const std::string &base, const std::string &token,
                           const std::string &path) {
    mailbox.takenTokens.insert(token);
    mailbox.filesOfToken[base].push_back(path);
}

bool MaildirWriter::WaitingWithToken(const std::string &mailboxFolder, const std::string &base) const {
    for (const Waiting &waiting : waiting_)
        if (waiting.base == base && waiting.mailboxFolder == mailboxFolder) return true;
    return false;
}

std::vector<MaildirWriter::Placement> MaildirWriter::Write(std::size_t item, const std::string &source,
                                                           const std::string &mailboxFolder,
                                                           std::string_view relativePath, std::int64_t unixSeconds,
                                                           WorkHooks &hooks) {
    std::vector<Placement> placements;
    // Settles the waiting copies first, so that the placements stay in the order of the calls.
    const auto settled = [&](Status status, std::string path = {}, bool alreadyThere = false) {
        for (Placement &placement : Finish()) placements.push_back(std::move(placement));
        placements.push_back({item, std::move(status), std::move(path), alreadyThere});
        return std::move(placements);
    };
    Mailbox &mailbox = Open(mailboxFolder);
    if (!mailbox.ready) return settled(mailbox.ready);
    const std::string base = MaildirToken(relativePath);
    if (skipIdentical_) {
        // A copy of the same token still waiting must be in place before the bytes are compared.
        if (WaitingWithToken(mailboxFolder, base)) placements = Finish();
        if (auto files = mailbox.filesOfToken.find(base); files != mailbox.filesOfToken.end()) {
            for (const std::string &existing : files->second)
                if (SameContent(source, existing)) return settled(Status::Ok(), existing, true);
        }
    }
    const std::string token = FreeToken(mailbox.takenTokens, base);
    if (dryRun_) {
        if (Status usable = CheckStaging(source, mailboxFolder); !usable) return settled(usable);
        const std::string path = mailboxFolder + "cur" + kNativeSeparator + MaildirFileName(unixSeconds, token);
        Record(mailbox, base, token, path);
        return settled(Status::Ok(), path);
    }

    Waiting waiting{item, mailboxFolder, base, token, unixSeconds, StagedCopy()};
    if (Status staged = StageCopy(source, mailboxFolder + "tmp" + kNativeSeparator, waiting.copy, RealSysCalls(), &hooks);
        !staged) {
        return settled(staged);
    }
    // The file's time is the server's received date.
    if (Status timed = waiting.copy.SetModified(unixSeconds); !timed) return settled(timed);
    mailbox.takenTokens.insert(token);  // reserved for this copy
    waiting_.push_back(std::move(waiting));
    if (waiting_.size() >= kClaimGroup)
        for (Placement &placement : Finish()) placements.push_back(std::move(placement));
    return placements;
}

std::vector<MaildirWriter::Placement> MaildirWriter::Finish() {
    std::vector<Status> flushed;
    flushed.reserve(waiting_.size());
    for (Waiting &waiting : waiting_) flushed.push_back(waiting.copy.Flush());
    std::vector<Placement> placements;
    placements.reserve(waiting_.size());
    for (std::size_t i = 0; i < waiting_.size(); ++i) placements.push_back(Claim(waiting_[i], flushed[i]));
    waiting_.clear();
    return placements;
}

MaildirWriter::Placement MaildirWriter::Claim(Waiting &waiting, const Status &flushed) {
    Mailbox &mailbox = mailboxes_[waiting.mailboxFolder];
    if (!flushed) {
        mailbox.takenTokens.erase(waiting.token);
        return {waiting.item, flushed, {}, false};
    }
    const std::string cur = waiting.mailboxFolder + "cur" + kNativeSeparator;
    std::string token = waiting.token;
    for (int attempt = 0; attempt < kNumberAttempts; ++attempt) {
        const std::string path = cur + MaildirFileName(waiting.unixSeconds, token);
        Status claimed = waiting.copy.ClaimAs(path);
        if (claimed.kind() == ErrorKind::AlreadyExists) {
            // Taken by someone else meanwhile: the next free number.
            token = FreeToken(mailbox.takenTokens, waiting.base);
            mailbox.takenTokens.insert(token);
            continue;
        }
        if (!claimed) return {waiting.item, claimed, {}, false};
        mailbox.filesOfToken[waiting.base].push_back(path);
        return {waiting.item, Status::Ok(), path, false};
    }
    return {waiting.item, Status::Failure(ErrorKind::Other, "cannot name the copy: no free name"), {}, false};
}

}  // namespace tarvelin
