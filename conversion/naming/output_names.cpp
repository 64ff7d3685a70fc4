#include "conversion/naming/output_names.h"

#include <functional>
#include <utility>
#include <vector>

#include "messagelist/name_order.h"
#include "platform/file_ops.h"

namespace tarvelin {

namespace {

// A name that keeps being refused is given up after this many names rather than tried forever.
constexpr int kMaxClaimAttempts = 1000;

OutputNames::Placement Failed(Status status) { return {std::move(status), {}}; }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// "<stem> (n).eml" as NumberedOutputPath writes it: n in decimal, without sign or leading zero.
bool SplitNumbered(std::string_view name, std::string_view &stem, DuplicateCounter &number) {
    constexpr std::string_view kTail = ").eml";
    if (!name.ends_with(kTail)) return false;
    const std::string_view body = name.substr(0, name.size() - kTail.size());
    const std::size_t open = body.rfind(" (");
    if (open == std::string_view::npos) return false;
    const std::string_view digits = body.substr(open + 2);
    if (digits.empty() || digits.size() > 18 || (digits.size() > 1 && digits.front() == '0')) return false;
    DuplicateCounter n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    stem = body.substr(0, open);
    number = n;
    return true;
}

// The stems a numbered name of `cleanedName` can have: one, unless the name is cut to fit, where
// a number of more digits leaves less of it.
std::vector<std::string> NumberedStems(const std::string &cleanedName) {
    std::vector<std::string> stems;
    DuplicateCounter first = 1;
    for (int digits = 1; digits <= 18; ++digits, first *= 10) {
        const std::string path = NumberedOutputPath("", cleanedName, first);
        std::string stem = path.substr(0, path.size() - (std::to_string(first).size() + 7));
        if (stems.empty() || stems.back() != stem) stems.push_back(std::move(stem));
    }
    return stems;
}

std::string_view FileNameIn(const std::string &outputDir, const std::string &path) {
    return std::string_view(path).substr(outputDir.size());
}

// The chain of a name in the order one job looks at it: the plain name, then each numbered one
// by its number; `taken` tells which are there, `numbers` adds the known numbers of a stem.
std::optional<OutputNames::Identical> FirstIdentical(
    const std::string &outputDir, const std::string &cleanedName, const std::function<bool(const std::string &)> &taken,
    const std::function<void(const std::string &, std::set<DuplicateCounter> &)> &numbers,
    const std::function<bool(const std::string &)> &same) {
    if (std::string plain = PlainOutputPath(outputDir, cleanedName); taken(plain) && same(plain))
        return OutputNames::Identical{std::move(plain), 1};
    std::set<DuplicateCounter> known;
    for (const std::string &stem : NumberedStems(cleanedName)) numbers(stem, known);
    for (const DuplicateCounter n : known) {
        std::string numbered = NumberedOutputPath(outputDir, cleanedName, n);
        if (taken(numbered) && same(numbered)) return OutputNames::Identical{std::move(numbered), n + 1};
    }
    return std::nullopt;
}

}  // namespace

std::u16string FoldedPath(std::string_view path) {
    std::u16string folded;
    folded.reserve(path.size());
    std::size_t start = 0;
    for (;;) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        std::string_view part = path.substr(start, end - start);
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.remove_suffix(1);
        // Most names are ASCII, whose only folding is a to z.
        std::size_t ascii = 0;
        for (; ascii < part.size() && static_cast<unsigned char>(part[ascii]) < 0x80; ++ascii) {
            const char c = part[ascii];
            folded.push_back(static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c));
        }
        if (ascii < part.size()) folded += NtfsUpperCased(part.substr(ascii));
        if (end == path.size()) return folded;
        folded.push_back(u'/');
        start = end + 1;
    }
}

FolderNames::FolderNames(const DirectoryListing &listing) {
    names_.reserve(listing.entries.size());
    for (const DirectoryEntry &entry : listing.entries) Add(entry.name);
}

bool FolderNames::HasFolded(std::string_view name) const { return folded_.count(FoldedPath(name)) > 0; }

void FolderNames::Add(const std::string &name) {
    if (!names_.insert(name).second) return;
    folded_.insert(FoldedPath(name));
    std::string_view stem;
    DuplicateCounter number = 0;
    if (SplitNumbered(name, stem, number)) numbered_[std::string(stem)].insert(number);
}

void FolderNames::NumbersOf(const std::string &stem, std::set<DuplicateCounter> &numbers) const {
    if (const auto found = numbered_.find(stem); found != numbered_.end())
        numbers.insert(found->second.begin(), found->second.end());
}

OutputNames::Folder &OutputNames::FolderOf(const std::string &outputDir) {
    Folder &folder = folders_[SameFileKey(outputDir)];
    if (!folder.listed) folder.listed = std::make_shared<const FolderNames>();
    return folder;
}

const OutputNames::Folder *OutputNames::FindFolder(const std::string &outputDir) const {
    const auto found = folders_.find(SameFileKey(outputDir));
    return found != folders_.end() ? &found->second : nullptr;
}

void OutputNames::FolderReady(const std::string &outputDir, bool made) {
    const auto [at, first] = folders_.try_emplace(SameFileKey(outputDir));
    if (!first) return;
    Folder &folder = at->second;
    if (made) {
        folder.listed = std::make_shared<const FolderNames>();
        return;
    }
    // A folder that cannot be listed is known empty: what is there shows as refused claims.
    const DirectoryListing listing = files_.ListFolder(outputDir);
    folder.listed = listing.status ? std::make_shared<const FolderNames>(listing) : std::make_shared<const FolderNames>();
}

std::shared_ptr<const FolderNames> OutputNames::FirstListing(const std::string &outputDir) const {
    const Folder *folder = FindFolder(outputDir);
    return folder != nullptr ? folder->listed : std::make_shared<const FolderNames>();
}

bool OutputNames::Taken(const Folder *folder, const std::string &outputDir, const std::string &path) const {
    if (folder == nullptr) return false;
    const std::string name(FileNameIn(outputDir, path));
    return folder->listed->Has(name) || folder->added.Has(name);
}

bool OutputNames::PlainTaken(const std::string &outputDir, const std::string &cleanedName) const {
    return Taken(FindFolder(outputDir), outputDir, PlainOutputPath(outputDir, cleanedName));
}

OutputNames::Choice OutputNames::Choose(const std::string &outputDir, const std::string &cleanedName) {
    const Folder *folder = FindFolder(outputDir);
    std::string plain = PlainOutputPath(outputDir, cleanedName);
    if (!Taken(folder, outputDir, plain)) return {std::move(plain), std::nullopt};
    std::string numbered = ResolveNumberedOutputPath(
        outputDir, cleanedName, counter_, [&](const std::string &path) { return Taken(folder, outputDir, path); },
        &taken_);
    return {std::move(numbered), counter_ - 1};
}

OutputNames::Placement OutputNames::Settle(const std::string &outputDir, const std::string &cleanedName, Choice choice,
                                           Status claimed,
                                           const std::function<Status(const std::string &)> &claimAgain) {
    const std::string plain = PlainOutputPath(outputDir, cleanedName);
    for (int attempt = 1;; ++attempt) {
        if (choice.number && (claimed || claimed.kind() == ErrorKind::AlreadyExists))
            taken_.Add(plain, *choice.number);
        if (claimed) {
            FolderOf(outputDir).added.Add(std::string(FileNameIn(outputDir, choice.path)));
            // A numbered choice moved the counter when it was made.
            if (!choice.number) counter_ = 1;
            return {Status::Ok(), std::move(choice.path)};
        }
        if (claimed.kind() != ErrorKind::AlreadyExists) {
            // The failure does not depend on the name (a numbered one would have failed alike).
            if (!choice.number) NameOnly(outputDir, cleanedName);
            return Failed(std::move(claimed));
        }
        Refused(outputDir, choice.path);
        if (attempt == kMaxClaimAttempts) break;
        choice = Choose(outputDir, cleanedName);
        claimed = claimAgain(choice.path);
    }
    return Failed(Status::Failure(ErrorKind::Other, "no free output name for \"" + cleanedName + "\" in " + outputDir));
}

void OutputNames::Refused(const std::string &outputDir, const std::string &path) {
    Folder &folder = FolderOf(outputDir);
    const std::string name(FileNameIn(outputDir, path));
    const bool folding = folder.listed->HasFolded(name) || folder.added.HasFolded(name);
    folder.added.Add(name);
    if (folding || !folder.listable) return;
    const DirectoryListing listing = files_.ListFolder(outputDir);
    if (!listing.status) {
        folder.listable = false;
        return;
    }
    for (const DirectoryEntry &entry : listing.entries)
        if (!folder.listed->Has(entry.name)) folder.added.Add(entry.name);
}

bool OutputNames::MayEndOn(const std::string &outputDir, const std::string &cleanedName, const std::string &path,
                           const std::u16string &foldedPath) {
    if (FoldedPath(PlainOutputPath(outputDir, cleanedName)) == foldedPath) return true;
    std::string_view stem;
    DuplicateCounter number = 0;
    return SplitNumbered(path, stem, number) &&
           FoldedPath(NumberedOutputPath(outputDir, cleanedName, number)) == foldedPath;
}

std::optional<OutputNames::Identical> OutputNames::FindIdentical(const std::string &source, const std::string &outputDir,
                                                                 const std::string &cleanedName,
                                                                 const LookedAhead *ahead) {
    const Folder *folder = FindFolder(outputDir);
    if (folder == nullptr) return std::nullopt;
    return FirstIdentical(
        outputDir, cleanedName, [&](const std::string &path) { return Taken(folder, outputDir, path); },
        [&](const std::string &stem, std::set<DuplicateCounter> &numbers) {
            folder->listed->NumbersOf(stem, numbers);
            folder->added.NumbersOf(stem, numbers);
        },
        [&](const std::string &path) {
            if (ahead != nullptr) {
                if (path == ahead->found) return true;
                // Looked at before, and found to hold other bytes.
                if (ahead->listing && ahead->listing->Has(std::string(FileNameIn(outputDir, path)))) return false;
            }
            return files_.SameContent(source, path);
        });
}

std::optional<OutputNames::Identical> OutputNames::LookForIdentical(FileService &files, const FolderNames &listing,
                                                                    const std::string &source,
                                                                    const std::string &outputDir,
                                                                    const std::string &cleanedName) {
    return FirstIdentical(
        outputDir, cleanedName,
        [&](const std::string &path) { return listing.Has(std::string(FileNameIn(outputDir, path))); },
        [&](const std::string &stem, std::set<DuplicateCounter> &numbers) { listing.NumbersOf(stem, numbers); },
        [&](const std::string &path) { return files.SameContent(source, path); });
}

void OutputNames::NameOnly(const std::string &outputDir, const std::string &cleanedName) {
    // Asking the file system too: a name it folds onto a known one is taken, as a claim would find.
    const Folder *folder = FindFolder(outputDir);
    ResolveOutputPath(
        outputDir, cleanedName, counter_,
        [&](const std::string &path) { return Taken(folder, outputDir, path) || files_.FileExist(path); }, &taken_);
}

}  // namespace tarvelin
