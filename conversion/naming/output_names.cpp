#include "conversion/naming/output_names.h"

#include <memory>
#include <unordered_set>
#include <utility>

namespace tarvelin {

namespace {

// A name that keeps being taken between the existence test and the claim is given up after this
// many numbers rather than looping forever.
constexpr int kMaxClaimAttempts = 1000;

// Numbered names of a chain can have gaps (a counter carried over from an earlier run starts
// high); this many missing numbers in a row end the chain.
constexpr DuplicateCounter kChainGap = 8;

OutputNames::Placement Failed(Status status) { return {std::move(status), {}}; }

}  // namespace

void OutputNames::NameOnly(const std::string &outputDir, const std::string &cleanedName) {
    ResolveOutputPath(outputDir, cleanedName, counter_, [this](const std::string &path) { return files_.FileExist(path); },
                      &taken_);
}

OutputNames::Placement OutputNames::Claim(StagedFile &copy, const std::string &outputDir,
                                          const std::string &cleanedName) {
    // Most names are free: the claim is then the existence test, one call fewer per message (a
    // round trip on a network disk). The counter moves as if the plain path had been tested first.
    const std::string plain = PlainOutputPath(outputDir, cleanedName);
    Status claimed = copy.ClaimAs(plain);
    if (claimed) {
        counter_ = 1;
        return {Status::Ok(), plain};
    }
    if (claimed.kind() != ErrorKind::AlreadyExists) {
        // The failure does not depend on the name (a numbered one would have failed alike).
        NameOnly(outputDir, cleanedName);
        return Failed(std::move(claimed));
    }
    // The refused claim found the plain name taken. A name the claim refused is taken, even where
    // the existence test does not see it (a share that answers the two differently); otherwise the
    // same name would be tried again and again.
    std::unordered_set<std::string> refused;
    const auto taken = [this, &refused](const std::string &path) {
        return refused.count(path) > 0 || files_.FileExist(path);
    };
    for (int attempt = 0; attempt < kMaxClaimAttempts; ++attempt) {
        const std::string output = ResolveNumberedOutputPath(outputDir, cleanedName, counter_, taken, &taken_);
        claimed = copy.ClaimAs(output);
        if (claimed || claimed.kind() == ErrorKind::AlreadyExists) taken_.Add(plain, counter_ - 1);
        if (claimed) return {Status::Ok(), output};
        if (claimed.kind() != ErrorKind::AlreadyExists) return Failed(std::move(claimed));
        refused.insert(output);
    }
    return Failed(Status::Failure(ErrorKind::Other, "no free output name for \"" + cleanedName + "\" in " + outputDir));
}

std::optional<OutputNames::Identical> OutputNames::LookForIdentical(FileService &files, const std::string &source,
                                                                    const std::string &outputDir,
                                                                    const std::string &cleanedName,
                                                                    const std::string &knownIdentical) {
    const auto same = [&](const std::string &path) {
        return (!knownIdentical.empty() && path == knownIdentical) || files.SameContent(source, path);
    };
    // Numbered names are only ever given while the plain one is there, so without it the chain
    // is empty, and a new message costs one test.
    std::string plain = PlainOutputPath(outputDir, cleanedName);
    if (!files.FileExist(plain)) return std::nullopt;
    if (same(plain)) return Identical{std::move(plain), 1};
    DuplicateCounter missingInARow = 0;
    for (DuplicateCounter n = 0; missingInARow < kChainGap; ++n) {
        std::string numbered = NumberedOutputPath(outputDir, cleanedName, n);
        if (!files.FileExist(numbered)) {
            ++missingInARow;
            continue;
        }
        missingInARow = 0;
        if (same(numbered)) return Identical{std::move(numbered), n + 1};
    }
    return std::nullopt;
}

}  // namespace tarvelin
