// Output file naming: the eight schemes, the cleaning, the cuts and the numbering of taken names.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "conversion/header/calendar_date.h"
#include "conversion/naming/naming_schemes.h"
#include "platform/path_split.h"

namespace tarvelin {

// Grows past 32767; starts at 0 with the window and is never reset.
using DuplicateCounter = std::int64_t;

inline constexpr std::size_t kMaxNameUnits = 220;
inline constexpr std::size_t kSubjectFromUnits = 235;  // OptDFS_YMD only, before cleaning
inline constexpr std::size_t kMaxFileNameBytes = 255;  // POSIX NAME_MAX

// Every occurrence of the path's last four characters replaced by ".eml".
std::string MakeEmlPath(std::string_view sourcePath);

// The output folder for a message: outputRoot followed by the message's folder without its root
// ("C:\", "\\" of a UNC path, the leading "/" on POSIX).
std::string OutputFolderFor(std::string_view outputRoot, std::string_view sourceFolder,
                            char separator = kNativeSeparator);

// OutputFolderFor(outputRoot, FolderFromPath(MakeEmlPath(path))) for the rows of a list, one
// after another: most rows share their folder with the row before, and so their output folder.
class OutputFolderOfRows {
public:
    explicit OutputFolderOfRows(std::string outputRoot) : outputRoot_(std::move(outputRoot)) {}
    const std::string &For(std::string_view sourcePath);

private:
    const std::string outputRoot_;
    std::string sourceFolder_, ending_, outputFolder_;
    bool known_ = false;
};

// "dd-mm-yyyy", "yyyy-mm-dd" or "mm-dd-yyyy"; an unknown date gives the empty text.
std::string FormatDate(CalendarDate date, std::string_view pattern);

// The raw name by the scheme. sourcePath is the trimmed list row.
std::string ComposeOutputName(NamingOption option, CalendarDate date, std::string_view subject,
                              std::string_view from, std::string_view sourcePath,
                              char separator = kNativeSeparator);

// Deletes : ? \ / * " < > |, the control characters 0-31 and the bidirectional controls (U+061C,
// U+200E, U+200F, U+202A-U+202E, U+2066-U+2069), then cuts to 220 UTF-16 units without splitting a
// surrogate pair. On Windows a reserved device name gets a leading "_".
std::string CleanOutputName(std::string_view rawName);

// Pure helper behind the Windows rule above, testable on every platform.
bool IsReservedDeviceName(std::string_view name);

// outputDir + name + ".eml", shortened as below: what ResolveOutputPath gives when it is free.
std::string PlainOutputPath(std::string_view outputDir, std::string_view cleanedName);
// outputDir + name + " (n).eml", shortened likewise.
std::string NumberedOutputPath(std::string_view outputDir, std::string_view cleanedName, DuplicateCounter number);

// The numbers a run knows to be taken for each plain output path. A run never deletes a file, so
// a number once taken stays taken, and a name shared by many messages need not test the same
// numbered paths again for every one of them (the counter restarts at 1 after every free name).
class TakenNumbers {
public:
    // The first number from `from` on that is not known to be taken.
    DuplicateCounter FirstNotKnown(const std::string &plainPath, DuplicateCounter from) const;
    // Once the file of a number is there (written, or found written by someone else).
    void Add(const std::string &plainPath, DuplicateCounter number);

private:
    // Per plain path: runs of taken numbers, first -> last, never touching each other.
    std::unordered_map<std::string, std::map<DuplicateCounter, DuplicateCounter>> runs_;
};

// outputDir + name + ".eml" when free (the counter becomes 1); otherwise
// outputDir + name + " (" + n + ").eml" for the first free n from the counter on (the counter then
// becomes n + 1). The file name is shortened at a character boundary where it would pass the
// platform's byte limit. With `known`, numbers known to be taken are passed over without a test
// (the same n results), and numbers found taken are added to it; the number given is added by
// the caller once its file is there.
std::string ResolveOutputPath(std::string_view outputDir, std::string_view cleanedName,
                              DuplicateCounter &duplicateCounter,
                              const std::function<bool(const std::string &)> &fileExist,
                              TakenNumbers *known = nullptr);

// ResolveOutputPath's second step, for a caller that found the plain path taken by other means
// (a refused claim): the numbered path, tested and counted the same way.
std::string ResolveNumberedOutputPath(std::string_view outputDir, std::string_view cleanedName,
                                      DuplicateCounter &duplicateCounter,
                                      const std::function<bool(const std::string &)> &fileExist,
                                      TakenNumbers *known = nullptr);

}  // namespace tarvelin
