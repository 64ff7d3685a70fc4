#include "conversion/mailbox/mailbox_tree.h"

#include "platform/ascii_case.h"

namespace tarvelin {

namespace {

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

MailboxPath MailboxFor(MailboxFormat format, std::string_view root, std::string_view source, char separator) {
    MailboxPath mailbox;
    std::vector<std::string_view> names = Names(BelowRoot(root, source, separator), separator);
    if (!names.empty()) names.pop_back();  // the message's own file name
    bool changed = false;
    for (std::size_t i = 0; i < names.size(); ++i) {
        mailbox.names.push_back(TargetMailboxName(format, names[i], i == 0));
        changed = changed || mailbox.names.back() != names[i];
    }
    if (changed) mailbox.changedFrom.assign(names.begin(), names.end());
    return mailbox;
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
