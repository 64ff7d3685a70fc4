#include "conversion/naming/naming.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iterator>

#include "conversion/naming/utf16_text.h"
#include "platform/ascii_case.h"
#include "platform/path_split.h"
#include "platform/system.h"

namespace tarvelin {

namespace {

// The part of a source folder that names its root: it is left out of the mirrored folder.
std::size_t MirroredRootLength(std::string_view folder, char separator) {
    if (separator != '\\') {
        std::size_t n = 0;
        while (n < folder.size() && folder[n] == separator) ++n;
        return n;
    }
    const auto isDrive = [](std::string_view s) { return s.size() >= 2 && IsAsciiLetter(s[0]) && s[1] == ':'; };
    if (folder.starts_with(R"(\\?\UNC\)")) return 8;
    if (folder.starts_with(R"(\\?\)") && isDrive(folder.substr(4)))
        return folder.size() >= 7 && folder[6] == '\\' ? 7 : 6;
    if (folder.starts_with(R"(\\)")) return 2;   // \\server\share\ keeps its server name
    if (isDrive(folder)) return folder.size() >= 3 && folder[2] == '\\' ? 3 : 2;
    if (folder.starts_with("\\")) return 1;
    return 0;
}

// The bytes of the character starting at pos; a character outside the BMP is the only kind
// that Utf16Prefix cannot take as one unit, and it is always four bytes long.
std::size_t CharBytesAt(std::string_view text, std::size_t pos) {
    const std::string_view one = Utf16Prefix(text.substr(pos), 1);
    return one.empty() ? 4 : one.size();
}

// A match must cover whole characters, or a stray byte could be "found" inside another one.
bool MatchesWholeCharsAt(std::string_view text, std::size_t pos, std::string_view pattern) {
    return text.compare(pos, pattern.size(), pattern) == 0 &&
           Utf8PrefixBytes(text.substr(pos), pattern.size()).size() == pattern.size();
}

bool IsDeletedFromNames(unsigned char c) {
    switch (c) {
    case ':': case '?': case '\\': case '/': case '*': case '"': case '<': case '>': case '|':
        return true;
    default:
        // NUL goes too: no file system can hold it, and it would end the name early.
        return c < 0x20;
    }
}

// The bytes of the bidirectional control that ends the text (U+061C, U+200E, U+200F, U+202A to
// U+202E, U+2066 to U+2069), or 0. They reorder what a file manager shows: "Invoice\u202Efdp.eml"
// shows as "Invoicelme.pdf".
std::size_t BidiControlBytesAtEnd(std::string_view text) {
    const auto last = [&](std::size_t i) { return static_cast<unsigned char>(text[text.size() - i]); };
    if (text.size() >= 2 && last(2) == 0xD8 && last(1) == 0x9C) return 2;
    if (text.size() < 3 || last(3) != 0xE2) return 0;
    const unsigned char second = last(2), third = last(1);
    if (second == 0x80 && (third == 0x8E || third == 0x8F || (third >= 0xAA && third <= 0xAE))) return 3;
    if (second == 0x81 && third >= 0xA6 && third <= 0xA9) return 3;
    return 0;
}

// Shortens the name so that name + tail fits one file-name component of the platform.
std::string_view FitFileName(std::string_view name, std::string_view tail) {
    if (!FileNameLimitInBytes() || name.size() + tail.size() <= kMaxFileNameBytes) return name;
    const std::size_t room = tail.size() < kMaxFileNameBytes ? kMaxFileNameBytes - tail.size() : 0;
    return Utf8PrefixBytes(name, room);
}

// What MakeEmlPath replaces: the path's last four characters.
std::string_view ReplacedEnding(std::string_view sourcePath) { return Utf16Suffix(sourcePath, 4); }

}  // namespace

std::string MakeEmlPath(std::string_view sourcePath) {
    if (sourcePath.empty()) return {};
    const std::string_view tail = ReplacedEnding(sourcePath);
    std::string result;
    result.reserve(sourcePath.size());
    for (std::size_t pos = 0; pos < sourcePath.size();) {
        if (MatchesWholeCharsAt(sourcePath, pos, tail)) {
            result += ".eml";
            pos += tail.size();
        } else {
            const std::size_t bytes = CharBytesAt(sourcePath, pos);
            result.append(sourcePath.substr(pos, bytes));
            pos += bytes;
        }
    }
    return result;
}

std::string OutputFolderFor(std::string_view outputRoot, std::string_view sourceFolder, char separator) {
    std::string folder(outputRoot);
    folder += sourceFolder.substr(MirroredRootLength(sourceFolder, separator));
    return folder;
}

// The name part never changes what the folder part becomes, unless the ending replaced holds a
// separator (a name shorter than it): a replacement never takes in or gives a separator.
const std::string &OutputFolderOfRows::For(std::string_view sourcePath) {
    const std::string_view folder = sourcePath.substr(0, sourcePath.rfind(kNativeSeparator) + 1);
    const std::string_view ending = ReplacedEnding(sourcePath);
    const bool nameApart = ending.find(kNativeSeparator) == std::string_view::npos;
    if (known_ && nameApart && folder == sourceFolder_ && ending == ending_) return outputFolder_;
    sourceFolder_ = folder;
    ending_ = ending;
    outputFolder_ = OutputFolderFor(outputRoot_, FolderFromPath(MakeEmlPath(sourcePath)));
    known_ = true;
    return outputFolder_;
}

std::string FormatDate(CalendarDate date, std::string_view pattern) {
    if (!date.known()) return {};
    std::string result;
    char digits[16];
    for (std::size_t pos = 0; pos < pattern.size();) {
        const std::string_view rest = pattern.substr(pos);
        if (rest.starts_with("yyyy")) {
            std::snprintf(digits, sizeof digits, "%04d", date.year);
            result += digits;
            pos += 4;
        } else if (rest.starts_with("mm") || rest.starts_with("dd")) {
            std::snprintf(digits, sizeof digits, "%02d", rest[0] == 'm' ? date.month : date.day);
            result += digits;
            pos += 2;
        } else {
            result += rest[0];
            ++pos;
        }
    }
    return result;
}

std::string ComposeOutputName(NamingOption option, CalendarDate date, std::string_view subject,
                              std::string_view from, std::string_view sourcePath, char separator) {
    const auto join = [](std::initializer_list<std::string_view> parts) {
        std::string text;
        for (const auto part : parts) text += part;
        return text;
    };
    switch (option) {
    case NamingOption::OptOriginal:
        // Keeps the inner ".eml": abc.msg becomes abc.eml, and the file abc.eml.eml.
        return FileNameFromPath(MakeEmlPath(sourcePath), separator);
    case NamingOption::OptSD:
        return join({subject, " ", FormatDate(date, "dd-mm-yyyy")});
    case NamingOption::OptFSD:
        return join({from, " ", subject, " ", FormatDate(date, "dd-mm-yyyy")});
    case NamingOption::OptFSD_YMD:
        return join({from, " ", subject, " ", FormatDate(date, "yyyy-mm-dd")});
    case NamingOption::OptDFS:
        return join({FormatDate(date, "dd-mm-yyyy"), " ", from, " ", subject});
    case NamingOption::OptDFS_YMD: {
        const std::string subjectFrom = join({subject, " ", from});
        return join({FormatDate(date, "yyyy-mm-dd"), " ", Utf16Prefix(subjectFrom, kSubjectFromUnits)});
    }
    case NamingOption::OptDFS_YMD2:
        // No space between sender and subject, one after the subject: the names this scheme has
        // always given, kept so that converted archives stay alike.
        return join({FormatDate(date, "yyyy-mm-dd"), " ", from, subject, " "});
    case NamingOption::OptDFS_MYD:
        return join({FormatDate(date, "mm-dd-yyyy"), " ", subject, " ", from});
    }
    return {};
}

bool IsReservedDeviceName(std::string_view name) {
    std::string_view stem = name.substr(0, std::min(name.find('.'), name.size()));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    for (const std::string_view reserved : {"CON", "PRN", "AUX", "NUL"})
        if (EqualsIgnoringAsciiCase(stem, reserved)) return true;
    if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') {
        const std::string_view prefix = stem.substr(0, 3);
        return EqualsIgnoringAsciiCase(prefix, "COM") || EqualsIgnoringAsciiCase(prefix, "LPT");
    }
    return false;
}

std::string CleanOutputName(std::string_view rawName) {
    // An ASCII byte is never part of a longer UTF-8 sequence, so deleting these bytes deletes
    // whole characters. A bidi control is taken off the end as soon as it is complete there, so
    // none is left even where invalid bytes around a deleted one join into it.
    std::string kept;
    kept.reserve(rawName.size());
    for (const char c : rawName) {
        if (IsDeletedFromNames(static_cast<unsigned char>(c))) continue;
        kept += c;
        kept.resize(kept.size() - BidiControlBytesAtEnd(kept));
    }
    std::string name(Utf16Prefix(kept, kMaxNameUnits));
    if (ReservesDeviceNames() && IsReservedDeviceName(name)) name = std::string(Utf16Prefix("_" + name, kMaxNameUnits));
    return name;
}

namespace {

std::string OutputPath(std::string_view outputDir, std::string_view cleanedName, std::string_view tail) {
    std::string path(outputDir);
    path += FitFileName(cleanedName, tail);
    path += tail;
    return path;
}

}  // namespace

std::string PlainOutputPath(std::string_view outputDir, std::string_view cleanedName) {
    return OutputPath(outputDir, cleanedName, ".eml");
}

std::string NumberedOutputPath(std::string_view outputDir, std::string_view cleanedName, DuplicateCounter number) {
    return OutputPath(outputDir, cleanedName, " (" + std::to_string(number) + ").eml");
}

DuplicateCounter TakenNumbers::FirstNotKnown(const std::string &plainPath,
                                             DuplicateCounter from) const {
    const auto runs = runs_.find(plainPath);
    if (runs == runs_.end()) return from;
    // The run that starts at or before `from`; runs never touch, so the number after it is free
    // as far as is known.
    auto run = runs->second.upper_bound(from);
    if (run == runs->second.begin()) return from;
    --run;
    return from <= run->second ? run->second + 1 : from;
}

void TakenNumbers::Add(const std::string &plainPath, DuplicateCounter number) {
    auto &runs = runs_[plainPath];
    auto next = runs.upper_bound(number);
    DuplicateCounter first = number;
    DuplicateCounter last = number;
    if (next != runs.begin()) {
        auto previous = std::prev(next);
        if (previous->second >= number) return;  // known already
        if (previous->second + 1 == number) {
            first = previous->first;
            runs.erase(previous);
        }
    }
    if (next != runs.end() && next->first == number + 1) {
        last = next->second;
        runs.erase(next);
    }
    runs.emplace(first, last);
}

std::string ResolveOutputPath(std::string_view outputDir, std::string_view cleanedName,
                              DuplicateCounter &duplicateCounter,
                              const std::function<bool(const std::string &)> &fileExist,
                              TakenNumbers *known) {
    std::string plain = PlainOutputPath(outputDir, cleanedName);
    if (!fileExist(plain)) {
        duplicateCounter = 1;
        return plain;
    }
    return ResolveNumberedOutputPath(outputDir, cleanedName, duplicateCounter, fileExist, known);
}

std::string ResolveNumberedOutputPath(std::string_view outputDir, std::string_view cleanedName,
                                      DuplicateCounter &duplicateCounter,
                                      const std::function<bool(const std::string &)> &fileExist,
                                      TakenNumbers *known) {
    // The numbers are counted per plain path.
    const std::string plain = known != nullptr ? PlainOutputPath(outputDir, cleanedName) : std::string();
    // A numbered path that is taken is passed over, so an earlier output is never overwritten.
    for (DuplicateCounter n = std::max<DuplicateCounter>(duplicateCounter, 0);; ++n) {
        if (known != nullptr) n = known->FirstNotKnown(plain, n);
        std::string numbered = NumberedOutputPath(outputDir, cleanedName, n);
        if (!fileExist(numbered)) {
            duplicateCounter = n + 1;
            return numbered;
        }
        if (known != nullptr) known->Add(plain, n);
    }
}

}  // namespace tarvelin
