#include "conversion/mailbox/mailbox_tree.h"

#include "platform/ascii_case.h"

namespace tarvelin {

namespace {

constexpr std::string_view kImapEnding = ".IMAP";

// The part of source below root, or empty when root is empty or does not hold it.
std::string_view BelowRoot(std::string_view root, std::string_view source, char separator) {
    if (root.empty()) return {};
    while (!root.empty() && root.back() == separator) root.remove_suffix(1);
    if (source.size() <= root.size() + 1 || !source.starts_with(root) || source[root.size()] != separator) return {};
    return source.substr(root.size() + 1);
}

std::vector<std::string_view> Names(std::string_view path, char separator) {
    std::vector<std::string_view> names;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find(separator, start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

}  // namespace

MailboxNaming::MailboxNaming()
    : mappings_{{"Inbox", std::string(kInboxName), true},
                {"Sent Items", "Sent", true},
                {"Deleted Items", "Trash", true},
                // Servers mark "Drafts" only in this case.
                {"Drafts", "Drafts", true}} {}

void MailboxNaming::Map(std::string_view from, std::string_view to) {
    from = WithoutImapEnding(from);
    const std::string target = EqualsIgnoringAsciiCase(to, kInboxName) ? std::string(kInboxName) : std::string(to);
    for (Mapping &mapping : mappings_) {
        if (!EqualsIgnoringAsciiCase(mapping.from, from)) continue;
        mapping = {std::string(from), target, false};
        return;
    }
    mappings_.push_back({std::string(from), target, false});
}

std::optional<std::string> MailboxNaming::Mapped(std::string_view name, bool imapFolder) const {
    for (const Mapping &mapping : mappings_)
        if ((imapFolder || !mapping.builtIn) && EqualsIgnoringAsciiCase(mapping.from, name)) return mapping.to;
    return std::nullopt;
}

std::string_view WithoutImapEnding(std::string_view name, bool *hadEnding) {
    const bool strip = name.size() > kImapEnding.size() && EndsWithIgnoringAsciiCase(name, kImapEnding);
    if (hadEnding) *hadEnding = strip;
    return strip ? name.substr(0, name.size() - kImapEnding.size()) : name;
}

std::string TargetMailboxName(MailboxFormat format, std::string_view name, bool topLevel) {
    std::string shown(name);
    if (format == MailboxFormat::Maildir) {
        if (shown.starts_with('~')) shown.insert(0, "_");
        if (shown == "cur" || shown == "new" || shown == "tmp") shown += '_';
    } else {
        if (shown.starts_with('.') || shown.starts_with('#')) shown.insert(0, "_");
        if (shown.ends_with('~')) shown += '_';
        for (const std::string_view ending : {".msf", ".sbd", ".snm", ".toc"})
            if (EndsWithIgnoringAsciiCase(shown, ending)) shown += '_';
    }
    if (topLevel && EqualsIgnoringAsciiCase(shown, "inbox")) shown += '_';
    return shown;
}

MailboxPath MailboxFor(MailboxFormat format, std::string_view root, std::string_view source, char separator,
                       const MailboxNaming &naming) {
    MailboxPath mailbox;
    std::vector<std::string_view> folders = Names(BelowRoot(root, source, separator), separator);
    if (!folders.empty()) folders.pop_back();  // the message's own file name
    for (std::size_t i = 0; i < folders.size(); ++i) {
        mailbox.folders.emplace_back(folders[i]);
        bool imapFolder = false;
        std::string wanted(WithoutImapEnding(folders[i], &imapFolder));
        if (i == 0) {
            if (std::optional<std::string> mapped = naming.Mapped(wanted, imapFolder)) wanted = std::move(*mapped);
            if (wanted == kInboxName) {
                mailbox.names.push_back(std::move(wanted));
                mailbox.refused.push_back(false);
                continue;
            }
        }
        const bool topLevel = mailbox.names.empty();
        mailbox.names.push_back(TargetMailboxName(format, wanted, topLevel));
        mailbox.refused.push_back(mailbox.names.back() != wanted);
    }
    // The messages lying in the folder that is INBOX.
    if (mailbox.names.size() == 1 && mailbox.names[0] == kInboxName) {
        mailbox.names.clear();
        mailbox.refused.clear();
    }
    return mailbox;
}

std::string ImapMailboxName(const std::vector<std::string> &names) {
    if (names.empty()) return std::string(kInboxName);
    std::string name = names[0];
    for (std::size_t i = 1; i < names.size(); ++i) name += '/' + names[i];
    return name;
}

std::string RelativeSourcePath(std::string_view root, std::string_view source, char separator) {
    std::string_view below = BelowRoot(root, source, separator);
    if (below.empty()) {
        const std::size_t last = source.rfind(separator);
        below = last == std::string_view::npos ? source : source.substr(last + 1);
    }
    std::string relative(below);
    for (char &c : relative)
        if (c == separator) c = '/';
    return relative;
}

}  // namespace tarvelin
