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
                (void)RemoveFile(folder + "tmp" + kNativeSeparator + entry.name);
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

MaildirWriter::Placement MaildirWriter::Write(const std::string &source, const std::string &mailboxFolder,
                                              std::string_view relativePath, std::int64_t unixSeconds,
                                              WorkHooks &hooks) {
    Mailbox &mailbox = Open(mailboxFolder);
    if (!mailbox.ready) return {mailbox.ready, {}, false};
    const std::string base = MaildirToken(relativePath);
    if (skipIdentical_) {
        if (auto files = mailbox.filesOfToken.find(base); files != mailbox.filesOfToken.end()) {
            for (const std::string &existing : files->second)
                if (SameContent(source, existing)) return {Status::Ok(), existing, true};
        }
    }
    const std::string cur = mailboxFolder + "cur" + kNativeSeparator;
    int number = 1;
    while (number < kNumberAttempts && mailbox.takenTokens.count(Numbered(base, number))) ++number;

    if (dryRun_) {
        const std::string path = cur + MaildirFileName(unixSeconds, Numbered(base, number));
        if (Status usable = CheckStaging(source, mailboxFolder); !usable) return {usable, {}, false};
        Record(mailbox, base, Numbered(base, number), path);
        return {Status::Ok(), path, false};
    }

    StagedCopy copy;
    if (Status staged = StageCopy(source, mailboxFolder + "tmp" + kNativeSeparator, copy, RealSysCalls(), &hooks);
        !staged) {
        return {staged, {}, false};
    }
    // The file's time is the server's received date.
    if (Status timed = copy.SetModified(unixSeconds); !timed) return {timed, {}, false};
    for (; number < kNumberAttempts; ++number) {
        const std::string token = Numbered(base, number);
        if (mailbox.takenTokens.count(token)) continue;
        const std::string path = cur + MaildirFileName(unixSeconds, token);
        Status claimed = copy.ClaimAs(path);
        if (claimed.kind() == ErrorKind::AlreadyExists) {
            mailbox.takenTokens.insert(token);
            continue;
        }
        if (!claimed) return {claimed, {}, false};
        Record(mailbox, base, token, path);
        return {Status::Ok(), path, false};
    }
    return {Status::Failure(ErrorKind::Other, "cannot name the copy: no free name"), {}, false};
}

}  // namespace tarvelin
