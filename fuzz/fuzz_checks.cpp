#include "fuzz/fuzz_checks.h"

#ifdef _WIN32
#include <filesystem>
#include <fstream>
#include <random>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

#include "conversion/conversion_run.h"
#include "conversion/header/mail_message.h"
#include "conversion/naming/naming.h"

namespace tarvelin::fuzz {

namespace {

constexpr char kOutputDir[] = "/out/";
constexpr char kSourcePath[] = "/in/2012/message.msg";

// The UTF-8 decoding that names are measured with, written out from the table of well-formed
// byte sequences, apart from the code under test. A byte that starts no well-formed sequence is
// a character of one unit.
struct LeadForm {
    unsigned char leadFrom, leadTo;
    unsigned char secondFrom, secondTo;
    std::size_t bytes;
};
constexpr LeadForm kLeadForms[] = {
    {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3}, {0xE1, 0xEC, 0x80, 0xBF, 3},
    {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3}, {0xF0, 0xF0, 0x90, 0xBF, 4},
    {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
};

std::size_t BytesOfCharAt(std::string_view text, std::size_t pos) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    for (const LeadForm &form : kLeadForms) {
        if (at(0) < form.leadFrom || at(0) > form.leadTo) continue;
        if (text.size() - pos < form.bytes) return 1;
        if (at(1) < form.secondFrom || at(1) > form.secondTo) return 1;
        for (std::size_t i = 2; i < form.bytes; ++i)
            if (at(i) < 0x80 || at(i) > 0xBF) return 1;
        return form.bytes;
    }
    return 1;
}

std::size_t UnitsOfCharAt(std::string_view text, std::size_t pos) {
    return BytesOfCharAt(text, pos) == 4 ? 2 : 1;  // four bytes: a surrogate pair
}

std::size_t Units(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t pos = 0; pos < text.size(); pos += BytesOfCharAt(text, pos))
        units += UnitsOfCharAt(text, pos);
    return units;
}

bool IsBoundary(std::string_view text, std::size_t at) {
    std::size_t pos = 0;
    while (pos < at) pos += BytesOfCharAt(text, pos);
    return pos == at;
}

std::string Cut(std::string_view text, std::size_t maxUnits) {
    std::size_t pos = 0, units = 0;
    while (pos < text.size() && units + UnitsOfCharAt(text, pos) <= maxUnits) {
        units += UnitsOfCharAt(text, pos);
        pos += BytesOfCharAt(text, pos);
    }
    return std::string(text.substr(0, pos));
}

bool IsRemovedFromNames(char c) {
    return std::string_view(":?\\/*\"<>|").find(c) != std::string_view::npos ||
           static_cast<unsigned char>(c) < 0x20;
}

// The bidirectional controls, which the cleaning removes as whole characters.
constexpr std::string_view kBidiControls[] = {"\u061C", "\u200E", "\u200F", "\u202A", "\u202B", "\u202C",
                                              "\u202D", "\u202E", "\u2066", "\u2067", "\u2068", "\u2069"};

// The raw name without what the cleaning removes, before the cut: the removed bytes, then bidi
// controls until none is left (invalid bytes around one may join into another).
[[maybe_unused]] std::string Filtered(std::string_view raw) {
    std::string filtered;
    for (const char c : raw)
        if (!IsRemovedFromNames(c)) filtered += c;
    for (bool found = true; found;) {
        found = false;
        for (const std::string_view control : kBidiControls) {
            if (const std::size_t at = filtered.find(control); at != std::string::npos) {
                filtered.erase(at, control.size());
                found = true;
            }
        }
    }
    return filtered;
}

std::string Quoted(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text.substr(0, 300)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '\\' && c != '"') {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out + (text.size() > 300 ? "\"..." : "\"");
}

std::string ExpectedRawName(NamingOption option, CalendarDate date, std::string_view subject,
                            std::string_view from) {
    const std::string s(subject), f(from);
    const std::string dmy = FormatDate(date, "dd-mm-yyyy"), ymd = FormatDate(date, "yyyy-mm-dd"),
                      mdy = FormatDate(date, "mm-dd-yyyy");
    switch (option) {
    case NamingOption::OptOriginal: return {};
    case NamingOption::OptSD: return s + " " + dmy;
    case NamingOption::OptFSD: return f + " " + s + " " + dmy;
    case NamingOption::OptFSD_YMD: return f + " " + s + " " + ymd;
    case NamingOption::OptDFS: return dmy + " " + f + " " + s;
    case NamingOption::OptDFS_YMD: return ymd + " " + Cut(s + " " + f, kSubjectFromUnits);
    case NamingOption::OptDFS_YMD2: return ymd + " " + f + s + " ";
    case NamingOption::OptDFS_MYD: return mdy + " " + s + " " + f;
    }
    return {};
}

std::string CheckComposed(NamingOption option, CalendarDate date, std::string_view subject,
                          std::string_view from, std::string_view source, const std::string &raw) {
    if (option != NamingOption::OptOriginal) {
        const std::string expected = ExpectedRawName(option, date, subject, from);
        if (raw != expected) return "composed " + Quoted(raw) + ", expected " + Quoted(expected);
        return {};
    }
    if (raw.find('/') != std::string::npos) return "the file's own name holds a separator: " + Quoted(raw);
    if (source.ends_with(".msg")) {
        const std::string eml = MakeEmlPath(source);
        if (!eml.ends_with(".eml") || eml.size() != source.size() ||
            eml.find(".msg") != std::string::npos) {
            return "MakeEmlPath(" + Quoted(source) + ") gave " + Quoted(eml);
        }
    }
    return {};
}

std::string CheckCleaned([[maybe_unused]] const std::string &raw, const std::string &cleaned) {
    for (const char c : cleaned)
        if (IsRemovedFromNames(c)) return "cleaned name keeps a removed character: " + Quoted(cleaned);
    for (const std::string_view control : kBidiControls)
        if (cleaned.find(control) != std::string::npos) return "cleaned name keeps a bidi control: " + Quoted(cleaned);
    if (Units(cleaned) > kMaxNameUnits) return "cleaned name is over 220 units: " + Quoted(cleaned);
    if (CleanOutputName(cleaned) != cleaned) return "cleaning twice changes " + Quoted(cleaned);
#ifndef _WIN32
    const std::string filtered = Filtered(raw);
    if (!filtered.starts_with(cleaned)) {
        return "cleaned name " + Quoted(cleaned) + " is not the start of " + Quoted(filtered);
    }
    if (!IsBoundary(filtered, cleaned.size())) {
        return "the cut splits a character (or a surrogate pair): " + Quoted(filtered) + " cut to " +
               Quoted(cleaned);
    }
    if (cleaned.size() < filtered.size() &&
        Units(cleaned) + UnitsOfCharAt(filtered, cleaned.size()) <= kMaxNameUnits) {
        return "cut shorter than 220 units needs: " + Quoted(filtered) + " cut to " + Quoted(cleaned);
    }
#endif
    return {};
}

// The file name of a resolved path: a whole-character start of the cleaned name, then the tail,
// together within the platform's byte limit, shortened only where the limit demands it.
std::string CheckFileName(const std::string &path, const std::string &cleaned, const std::string &tail) {
    const std::string_view dir = kOutputDir;
    if (!path.starts_with(dir)) return "resolved path " + Quoted(path) + " left the output folder";
    const std::string name = path.substr(dir.size());
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
        return "file name holds a separator or NUL: " + Quoted(name);
    if (!name.ends_with(tail)) return "file name " + Quoted(name) + " does not end in " + Quoted(tail);
#ifndef _WIN32
    if (name.size() > kMaxFileNameBytes) return "file name over 255 bytes: " + Quoted(name);
#endif
    const std::string stem = name.substr(0, name.size() - tail.size());
    if (!cleaned.starts_with(stem) || !IsBoundary(cleaned, stem.size()))
        return "file name " + Quoted(name) + " is no whole-character start of " + Quoted(cleaned);
    if (stem.size() < cleaned.size() &&
        stem.size() + BytesOfCharAt(cleaned, stem.size()) + tail.size() <= kMaxFileNameBytes) {
        return "file name " + Quoted(name) + " cut shorter than the byte limit needs";
    }
    return {};
}

std::string CheckResolved(const std::string &cleaned, const std::vector<std::string_view> &takenNames,
                          DuplicateCounter counterStart) {
    // In an empty folder: the plain name, and the counter becomes 1.
    DuplicateCounter counter = counterStart;
    const std::string plain = ResolveOutputPath(kOutputDir, cleaned, counter, [](const std::string &) {
        return false;
    });
    if (std::string error = CheckFileName(plain, cleaned, ".eml"); !error.empty()) return error;
    if (counter != 1) return "a free plain name left the counter at " + std::to_string(counter);

    // With the plain name and the given names taken: numbered names, each new, counting on.
    std::set<std::string> taken{plain};
    for (const std::string_view name : takenNames) taken.insert(kOutputDir + std::string(name));
    counter = counterStart;
    for (int round = 0; round < 3; ++round) {
        const DuplicateCounter before = counter;
        const std::string path = ResolveOutputPath(kOutputDir, cleaned, counter,
                                                   [&](const std::string &p) { return taken.count(p) > 0; });
        if (taken.count(path) > 0) return "resolved to a taken path: " + Quoted(path);
        const DuplicateCounter number = counter - 1;
        if (number < std::max<DuplicateCounter>(before, 0))
            return "number " + std::to_string(number) + " below the counter " + std::to_string(before);
        const std::string tail = " (" + std::to_string(number) + ").eml";
        if (std::string error = CheckFileName(path, cleaned, tail); !error.empty()) return error;
        taken.insert(path);
    }
    return {};
}

std::string CheckName(NamingOption option, CalendarDate date, std::string_view subject,
                      std::string_view from, std::string_view source,
                      const std::vector<std::string_view> &takenNames, DuplicateCounter counter) {
    const std::string raw = ComposeOutputName(option, date, subject, from, source, '/');
    std::string error = CheckComposed(option, date, subject, from, source, raw);
    const std::string cleaned = CleanOutputName(raw);
    if (error.empty()) error = CheckCleaned(raw, cleaned);
    if (error.empty()) error = CheckResolved(cleaned, takenNames, counter);
    if (error.empty()) return {};
    return std::string(kNamingSchemes[static_cast<std::size_t>(option)].name) + ": " + error;
}

// A file of this process's own that the message bytes are written to, removed at exit.
class ScratchFile {
public:
#ifdef _WIN32
    ScratchFile()
        : path_((std::filesystem::temp_directory_path() /
                 ("tarvelin-fuzz-" + std::to_string(std::random_device{}())))
                    .string()) {}
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    bool Write(std::string_view bytes) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return static_cast<bool>(out.flush());
    }
#else
    ScratchFile() {
        struct stat info {};
        const char *tmp = std::getenv("TMPDIR");
        std::string dir = ::stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm"
                          : tmp != nullptr && *tmp != '\0'                          ? tmp
                                                                                    : "/tmp";
        path_ = dir + "/tarvelin-fuzz-XXXXXX";
        const int fd = ::mkstemp(path_.data());
        if (fd < 0) std::abort();
        ::close(fd);
    }
    ~ScratchFile() { ::unlink(path_.c_str()); }
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    bool Write(std::string_view bytes) const {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) return false;
        bool ok = true;
        while (ok && !bytes.empty()) {
            const ssize_t written = ::write(fd, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR) continue;
            ok = written > 0;
            if (ok) bytes.remove_prefix(static_cast<std::size_t>(written));
        }
        return ::close(fd) == 0 && ok;
    }
#endif
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

std::vector<std::string_view> SplitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\xff'), text.size());
        fields.push_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return fields;
}

}  // namespace

std::string CheckMessageBytes(std::string_view bytes) {
    static const ScratchFile file;
    if (!file.Write(bytes)) return "cannot write the scratch file " + file.path();

    MailMessage first, second;
    // Whatever the bytes, two loads must agree, whether they read a header or not.
    (void)first.LoadFromFile(file.path());
    (void)second.LoadFromFile(file.path());
    if (first.Subject() != second.Subject() || first.From() != second.From() || !(first.Date() == second.Date()))
        return "two loads of one file gave different fields";
    const CalendarDate date = first.Date();
    if (date.known() && (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31)) {
        return "impossible date " + std::to_string(date.year) + "-" + std::to_string(date.month) + "-" +
               std::to_string(date.day);
    }
    for (const NamingScheme &scheme : kNamingSchemes) {
        std::string error = CheckName(scheme.option, date, first.Subject(), first.From(), kSourcePath, {}, 0);
        if (!error.empty()) return error;
    }
    return {};
}

std::string CheckNamingInput(std::string_view bytes) {
    const auto byteAt = [&](std::size_t i) -> int {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0;
    };
    const NamingOption option = kNamingSchemes[byteAt(0) % kNamingSchemes.size()].option;
    const int year = ((byteAt(1) << 8) | byteAt(2)) % 10000, month = byteAt(3) % 13, day = byteAt(4) % 32;
    const CalendarDate date = year > 0 && month > 0 && day > 0 ? CalendarDate{year, month, day} : CalendarDate{};
    const DuplicateCounter counter = (byteAt(5) << 8) | byteAt(6);

    std::vector<std::string_view> fields = SplitFields(bytes.size() > 7 ? bytes.substr(7) : std::string_view());
    fields.resize(std::max<std::size_t>(fields.size(), 3));
    const std::vector<std::string_view> taken(fields.begin() + 3, fields.end());
    return CheckName(option, date, fields[0], fields[1], fields[2], taken, counter);
}

}  // namespace tarvelin::fuzz
