#include "conversion/header/plain_sender.h"

#include <cstring>

#include "platform/ascii_case.h"

namespace tarvelin {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// GMime's ASCII atom characters less '=': with no '=' no encoded word can start, so neither
// GMime's phrase decoding nor the joining of encoded words changes a byte of the value.
bool IsPlainAtomChar(char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c) || (c != '\0' && std::strchr("!#$%&'*+-/?^_`{|}~", c) != nullptr);
}

// A domain of these alone (and no "xn--" label) is one that GMime's IDN conversions, both ways,
// leave as it is written.
bool IsHostnameChar(char c) { return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '-'; }

// The characters for which GMime writes a display name in quotes.
bool IsSpecial(char c) { return c != '\0' && std::strchr("()<>@,;:\\\".[]", c) != nullptr; }

// Inside quotes: printable ASCII but the quote, the backslash (no escapes to undo) and '='.
bool IsPlainQuotedChar(char c) { return (c >= ' ' && c < 0x7f && c != '"' && c != '\\' && c != '=') || c == '\t'; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsLinearSpace(char c) { return IsBlank(c) || c == '\r' || c == '\n'; }

std::size_t SkipWhile(std::string_view text, std::size_t at, bool (*keep)(char)) {
    while (at < text.size() && keep(text[at])) ++at;
    return at;
}

// The end of the runs of `isChar` joined by single dots that start at `at`, or kNone when a run is
// empty or `acceptRun` refuses one.
template <typename AcceptRun>
std::size_t DottedRunsEnd(std::string_view text, std::size_t at, bool (*isChar)(char), AcceptRun acceptRun) {
    for (;;) {
        const std::size_t end = SkipWhile(text, at, isChar);
        if (end == at || !acceptRun(text.substr(at, end - at))) return kNone;
        if (end == text.size() || text[end] != '.') return end;
        at = end + 1;
    }
}

// The end of the plain domain that starts at `at`, or kNone. GMime turns an "xn--" label to
// Unicode when it reads the address and back when it writes it.
std::size_t DomainEnd(std::string_view text, std::size_t at) {
    return DottedRunsEnd(text, at, IsHostnameChar, [](std::string_view label) {
        return label.size() < 4 || !EqualsIgnoringAsciiCase(label.substr(0, 4), "xn--");
    });
}

// The end of the plain addr-spec that starts at `at`, or kNone.
std::size_t AddrSpecEnd(std::string_view text, std::size_t at) {
    const std::size_t localEnd = DottedRunsEnd(text, at, IsPlainAtomChar, [](std::string_view) { return true; });
    if (localEnd == kNone || localEnd == text.size() || text[localEnd] != '@') return kNone;
    return DomainEnd(text, localEnd + 1);
}

// The display name as GMime writes it: a run of atoms as it stands (the blanks between them
// kept), one quoted string trimmed of its outer blanks and quoted again only when it holds a
// special. Nothing for an empty name or any other phrase.
std::optional<std::string> DisplayName(std::string_view phrase) {
    if (phrase.size() >= 2 && phrase.front() == '"' && phrase.back() == '"') {
        std::string_view name = phrase.substr(1, phrase.size() - 2);
        if (SkipWhile(name, 0, IsPlainQuotedChar) != name.size()) return std::nullopt;
        while (!name.empty() && IsBlank(name.front())) name.remove_prefix(1);
        while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
        if (name.empty()) return std::nullopt;
        for (const char c : name)
            if (IsSpecial(c)) return "\"" + std::string(name) + "\"";
        return std::string(name);
    }
    for (std::size_t at = 0;;) {
        const std::size_t end = SkipWhile(phrase, at, IsPlainAtomChar);
        if (end == at) return std::nullopt;
        if (end == phrase.size()) return std::string(phrase);
        at = SkipWhile(phrase, end, IsBlank);
    }
}

}  // namespace

std::optional<std::string> PlainSenderText(std::string_view raw) {
    std::string_view value = raw.substr(SkipWhile(raw, 0, IsLinearSpace));
    while (!value.empty() && IsLinearSpace(value.back())) value.remove_suffix(1);
    if (value.empty()) return std::nullopt;
    if (AddrSpecEnd(value, 0) == value.size()) return std::string(value);

    if (value.back() != '>') return std::nullopt;
    const std::size_t open = value.rfind('<');
    if (open == kNone || AddrSpecEnd(value, open + 1) != value.size() - 1) return std::nullopt;
    std::string_view phrase = value.substr(0, open);
    while (!phrase.empty() && IsBlank(phrase.back())) phrase.remove_suffix(1);
    std::optional<std::string> name = DisplayName(phrase);
    if (!name) return std::nullopt;
    *name += " ";
    name->append(value.substr(open));
    return name;
}

bool DomainWrittenAsIs(std::string_view address) {
    // A domain literal may hold an '@', but then what follows the last one is no plain domain.
    const std::size_t at = address.rfind('@');
    return at != kNone && DomainEnd(address, at + 1) == address.size();
}

}  // namespace tarvelin
