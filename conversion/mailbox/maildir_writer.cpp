#include "conversion/mailbox/maildir_writer.h"

#include <algorithm>

#include "conversion/mailbox/imap_utf7.h"
#include "conversion/mailbox/sha256.h"
#include "platform/directory_lister.h"
#include "platform/path_split.h"
#include "platform/temporary_name.h"

namespace tarvelin {

namespace {

constexpr const char *kSuffix = ".tarvelin";
constexpr std::size_t kHexDigits = 16;
constexpr int kNumberAttempts = 10000;

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

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

std::string MaildirFileName(std::int64_t unixSeconds, std::string_view token, bool seen) {
    // The servers read the leading digits as the time: a date before 1970 would start the name
    // with "-", which they read as 0 anyway.
    return std::to_string(std::max<std::int64_t>(unixSeconds, 0)) + "." + std::string(token) + kSuffix + (seen ? ":2,S" : "");
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

std::string MaildirFolderOf(const std::string &root, const std::vector<std::string> &names, std::size_t levels) {
    std::string folder = root;
    for (std::size_t i = 0; i < levels; ++i) folder += ImapUtf7FromUtf8(names[i]) + kNativeSeparator;
    return folder;
}

Status MaildirMailboxes::Open(const std::string &folder) {
    auto [found, added] = mailboxes_.try_emplace(folder);
    Mailbox &mailbox = found->second;
    if (!added) return mailbox.ready;
    for (const char *part : {"cur", "new", "tmp"}) {
        const std::string path = folder + part + kNativeSeparator;
        mailbox.ready = files_.EnsureFolderExists(path);
        if (!mailbox.ready) return mailbox.ready;
    }
    const std::string tmp = folder + "tmp" + kNativeSeparator;
    for (const DirectoryEntry &entry : files_.ListFolder(tmp).entries)
        if (!entry.isFolder && IsTemporaryName(entry.name)) files_.RemoveFile(tmp + entry.name);
    for (const char *part : {"cur", "new"}) {
        const std::string path = folder + part + kNativeSeparator;
        const DirectoryListing listing = files_.ListFolder(path);
        for (const DirectoryEntry &entry : listing.entries) {
            const std::string token = TokenOfMaildirName(entry.name);
            if (entry.isFolder || token.empty()) continue;
            Record(mailbox, token.substr(0, 1 + kHexDigits), token, path + entry.name);
        }
    }
    return mailbox.ready;
}

const std::vector<std::string> &MaildirMailboxes::FilesOf(const std::string &folder, const std::string &base) const {
    static const std::vector<std::string> kNone;
    const auto mailbox = mailboxes_.find(folder);
    if (mailbox == mailboxes_.end()) return kNone;
    const auto files = mailbox->second.filesOfToken.find(base);
    return files == mailbox->second.filesOfToken.end() ? kNone : files->second;
}

void MaildirMailboxes::Record(Mailbox &mailbox, const std::string &base, const std::string &token,
                              const std::string &path) {
    mailbox.takenTokens.insert(token);
    mailbox.filesOfToken[base].push_back(path);
}

Status MaildirMailboxes::Name(const std::string &folder, const std::string &base, std::int64_t unixSeconds,
                              StagedFile &copy, std::string &path) {
    Mailbox &mailbox = mailboxes_[folder];
    const std::string cur = folder + "cur" + kNativeSeparator;
    for (int attempt = 0; attempt < kNumberAttempts; ++attempt) {
        const std::string token = FreeToken(mailbox.takenTokens, base);
        const std::string wanted = cur + MaildirFileName(unixSeconds, token, seen_);
        // Taken by someone else meanwhile: the next free number.
        const Status claimed = copy.ClaimAs(wanted);
        if (claimed.kind() == ErrorKind::AlreadyExists) {
            mailbox.takenTokens.insert(token);
            continue;
        }
        if (!claimed) return claimed;
        Record(mailbox, base, token, wanted);
        path = wanted;
        return claimed;
    }
    return Status::Failure(ErrorKind::Other, "cannot name the copy: no free name");
}

}  // namespace tarvelin
