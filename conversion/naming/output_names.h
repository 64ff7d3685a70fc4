// Where each message lands: the plain name when it is free, else the next free " (n)" from the
// duplicate counter on, decided from what the run knows of each output folder (one listing when
// it first writes there, and every name it has claimed or seen refused since) rather than by
// asking the file system name by name. The claim itself is a rename that never replaces, done by
// whoever holds the copy (a worker, or the caller); a name the file system takes for a known one
// (letter case on NTFS and SMB) shows only as a refused claim, which then takes the next name,
// so the names given are those a test of every name before its claim would give.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "conversion/naming/naming.h"
#include "platform/directory_lister.h"
#include "platform/file_service.h"
#include "platform/status.h"

namespace tarvelin {

// The names known in one folder: exactly as listed or claimed, with what a folding file system
// could take for each, and the numbers known of each numbered name.
class FolderNames {
public:
    FolderNames() = default;
    explicit FolderNames(const DirectoryListing &listing);

    bool Has(const std::string &name) const { return names_.count(name) > 0; }
    // Whether a name that a folding file system takes for `name` (letter case, trailing dots and
    // blanks) is known.
    bool HasFolded(std::string_view name) const;
    void Add(const std::string &name);
    // The n of each known "<stem> (n).eml", added to `numbers`.
    void NumbersOf(const std::string &stem, std::set<DuplicateCounter> &numbers) const;

private:
    std::unordered_set<std::string> names_;
    std::unordered_set<std::u16string> folded_;
    std::unordered_map<std::string, std::set<DuplicateCounter>> numbered_;
};

// A path as a file system that folds names would compare it: upper case (NTFS's table), and
// each part without trailing dots and blanks. Two paths such a file system takes for one give
// the same key; on others, different paths may too, which only makes a caller wait.
std::u16string FoldedPath(std::string_view path);

class OutputNames {
public:
    // The counter belongs to the caller and carries over between runs.
    OutputNames(DuplicateCounter &duplicateCounter, FileService &files)
        : counter_(duplicateCounter), files_(files) {}

    // Once for each output folder, when the run first uses it: made by the run it holds nothing;
    // otherwise it is listed now. Either way, what it holds is known from here on.
    void FolderReady(const std::string &outputDir, bool made);
    // What the folder held when first used (empty when made, not listable or never used): for a
    // look on another thread, which the later knowledge of the run does not reach.
    std::shared_ptr<const FolderNames> FirstListing(const std::string &outputDir) const;

    // A name chosen for a copy: the plain one, or number `number`.
    struct Choice {
        std::string path;
        std::optional<DuplicateCounter> number;
    };

    // Whether the plain path is known taken: then the name depends on the counter.
    bool PlainTaken(const std::string &outputDir, const std::string &cleanedName) const;
    // The name to claim: the plain one when not known taken, else the first number from the counter
    // on that is not known taken (the counter then moves on past it). Only the outcomes of the
    // messages before this one decide it, so with a numbered name all of them must be in.
    Choice Choose(const std::string &outputDir, const std::string &cleanedName);

    struct Placement {
        Status status;
        std::string path;  // the name the copy took
    };

    // The outcome of claiming `choice` for a copy, heard in list order: the counter moves and the
    // name is known taken. A name refused as taken is known taken too, and `claimAgain` claims the
    // next one (the outcomes of the messages before it are all in by now). A failure still moves
    // the counter as naming the message would.
    Placement Settle(const std::string &outputDir, const std::string &cleanedName, Choice choice, Status claimed,
                     const std::function<Status(const std::string &)> &claimAgain);

    // Whether a message whose claim is still out, named `cleanedName` in `outputDir`, could end
    // up on the path (compared folded, FoldedPath(path) given): on its plain name or on any of its
    // numbered ones.
    static bool MayEndOn(const std::string &outputDir, const std::string &cleanedName, const std::string &path,
                         const std::u16string &foldedPath);

    // Where a message's bytes are already: the name, and the counter as naming it there leaves it.
    struct Identical {
        std::string path;
        DuplicateCounter counterAfter;
    };
    // What another thread's look (LookForIdentical) found of a name before: every name of the
    // first listing before `found` (all of them, without) holds other bytes.
    struct LookedAhead {
        std::shared_ptr<const FolderNames> listing;
        std::string found;
    };

    // The plain name, or a numbered name of its chain, that holds the source's bytes already (for
    // a rerun that skips what is there): every name of the chain known now, in order. Only looks:
    // the counter moves when the message is named so, by TakeIdentical.
    std::optional<Identical> FindIdentical(const std::string &source, const std::string &outputDir,
                                           const std::string &cleanedName, const LookedAhead *ahead = nullptr);
    // The same look in a folder's first listing alone, for any thread.
    static std::optional<Identical> LookForIdentical(FileService &files, const FolderNames &listing,
                                                     const std::string &source, const std::string &outputDir,
                                                     const std::string &cleanedName);
    void TakeIdentical(const Identical &found) { counter_ = found.counterAfter; }

    // For a message that fails before its claim: the counter moves as if it had been named.
    void NameOnly(const std::string &outputDir, const std::string &cleanedName);

private:
    struct Folder {
        std::shared_ptr<const FolderNames> listed;
        FolderNames added;  // claimed and refused since, and what later listings showed
        bool listable = true;
    };

    Folder &FolderOf(const std::string &outputDir);
    const Folder *FindFolder(const std::string &outputDir) const;
    bool Taken(const Folder *folder, const std::string &outputDir, const std::string &path) const;
    // A refused name that nothing known explains (no known name folds onto it) was taken by
    // another program meanwhile: the folder is looked at afresh.
    void Refused(const std::string &outputDir, const std::string &path);

    DuplicateCounter &counter_;
    FileService &files_;
    TakenNumbers taken_;
    std::unordered_map<std::string, Folder> folders_;  // by SameFileKey of the folder
};

}  // namespace tarvelin
