// Properties of whole runs over seeded random archives: colliding names, paths listed twice,
// blank and missing rows, and an output folder that already holds files of the names the run
// wants. Whatever the mix, every message converted has exactly one byte-identical output, nothing
// that existed is changed, and outputs plus failures account for every non-empty row.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "conversion/conversion_run.h"
#include "conversion/header/mail_message.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::Snapshot;
using testing::TempDir;
using testing::WriteFile;

// Chooses the naming option at random for every message, and records what the run reports.
class RandomOptionObserver : public RunObserver {
public:
    explicit RandomOptionObserver(std::mt19937 &engine) : engine_(engine) {}
    NamingOption SelectedNamingOption() override {
        return kNamingSchemes[engine_() % kNamingSchemes.size()].option;
    }
    void MessageWritten(const std::string &source, const std::string &output, std::size_t, const MessageFacts &) override {
        converted.emplace_back(source, output);
    }
    void MessageFailed(const std::string &source, const std::string &reason, const MessageFacts &) override {
        failed.insert(source);
        EXPECT_FALSE(reason.empty()) << source;
    }

    std::vector<std::pair<std::string, std::string>> converted;
    std::multiset<std::string> failed;

private:
    std::mt19937 &engine_;
};

class RandomArchive {
public:
    explicit RandomArchive(unsigned seed) : engine_(seed) {
        const std::vector<std::string> folders = {"", "a/", "a/b/", "in.msg/", "c/"};
        const std::vector<std::string> subjects = {
            "Same", "Same", "Re: Same?", "", "Ünïcode 漢字 😀", "a/b|c", std::string(300, 'L') + "\xF0\x9F\x98\x80",
        };
        const std::vector<std::string> dates = {"Sun, 1 Jul 2012 10:00:00 +0000", "broken", ""};

        std::vector<std::string> rows;
        const int files = 8 + static_cast<int>(engine_() % 12);
        for (int i = 0; i < files; ++i) {
            const std::string path = src / (Pick(folders) + "m" + std::to_string(i) + ".msg");
            std::string bytes = "From: " + Pick(subjects) + " <x@y.org>\r\nSubject: " + Pick(subjects) +
                                "\r\nDate: " + Pick(dates) + "\r\n\r\n";
            const std::size_t body = engine_() % 4000;
            for (std::size_t b = 0; b < body; ++b) bytes += static_cast<char>(engine_() & 0xff);
            WriteFile(path, bytes);
            sources[path] = bytes;
            for (unsigned copies = 1 + engine_() % 3; copies > 0; --copies) rows.push_back(path);
            if (engine_() % 3 == 0) TakeNameOf(path);
        }
        for (unsigned missing = engine_() % 3; missing > 0; --missing)
            rows.push_back(src / ("gone" + std::to_string(missing) + ".msg"));
        for (unsigned blank = engine_() % 3; blank > 0; --blank) rows.push_back(blank == 1 ? "" : "   ");
        std::shuffle(rows.begin(), rows.end(), engine_);
        for (const std::string &row : rows) {
            const bool padded = !row.empty() && row.front() != ' ' && engine_() % 4 == 0;
            list.AddFileToList(padded ? "  " + row + " " : row);
            if (row.find_first_not_of(' ') == std::string::npos) {
                ++emptyRows;
            } else if (!sources.count(row)) {
                missingRows.insert(row);
            }
        }
    }

    std::mt19937 &engine() { return engine_; }

    TempDir src, out;
    MessageList list;
    std::map<std::string, std::string> sources;
    std::multiset<std::string> missingRows;
    std::int64_t emptyRows = 0;

private:
    const std::string &Pick(const std::vector<std::string> &items) { return items[engine_() % items.size()]; }

    // Puts files in the output under the plain and a numbered name that some scheme gives the
    // message, so that the run meets them.
    void TakeNameOf(const std::string &source) {
        MailMessage message;
        (void)message.LoadFromFile(source);
        const NamingOption option = kNamingSchemes[engine_() % kNamingSchemes.size()].option;
        const std::string name = CleanOutputName(
            ComposeOutputName(option, message.Date(), message.Subject(), message.From(), source));
        const std::string folder =
            OutputFolderFor(out / "", FolderFromPath(MakeEmlPath(source)));
        DuplicateCounter counter = 0;
        const std::string plain = ResolveOutputPath(folder, name, counter, [](const std::string &) { return false; });
        WriteFile(plain, "taken before the run: " + source);
        counter = static_cast<DuplicateCounter>(engine_() % 3);
        WriteFile(ResolveOutputPath(folder, name, counter, [&](const std::string &p) { return p == plain; }),
                  "numbered, before the run");
    }

    std::mt19937 engine_;
};

TEST(RunProperties, EveryMessageHasOneExactOutputAndNothingExistingChanges) {
    for (unsigned seed = 1; seed <= 16; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomArchive archive(seed);
        const auto sourcesBefore = Snapshot(archive.src.path());
        auto expectedOutput = Snapshot(archive.out.path());
        DuplicateCounter counter = static_cast<DuplicateCounter>(archive.engine()() % 4);
        NativeFileService files;
        const std::int64_t nonEmptyRows = static_cast<std::int64_t>(archive.list.RowCount()) - archive.emptyRows;

        // Twice into the same output folder: the second run must not touch the first one's files.
        for (int round = 1; round <= 2; ++round) {
            SCOPED_TRACE("run " + std::to_string(round));
            RandomOptionObserver observer(archive.engine());
            const ConversionReport report =
                RunConversion(archive.list, archive.out.path().string(), counter, observer, files);

            EXPECT_EQ(report.skipped, archive.emptyRows);
            EXPECT_EQ(report.converted + static_cast<std::int64_t>(report.failures.size()), nonEmptyRows);
            EXPECT_EQ(report.converted, static_cast<std::int64_t>(observer.converted.size()));
            EXPECT_TRUE(observer.failed == archive.missingRows);
            for (const auto &[source, output] : observer.converted) {
                EXPECT_EQ(expectedOutput.count(output), 0u) << output << " written twice or overwritten";
                ASSERT_EQ(archive.sources.count(source), 1u) << source;
                expectedOutput[output] = archive.sources.at(source);
            }
            EXPECT_TRUE(Snapshot(archive.out.path()) == expectedOutput);
            EXPECT_TRUE(Snapshot(archive.src.path()) == sourcesBefore);
        }
    }
}

// However the copies are grouped for the disk and however many are made at once, the names, the
// failures and the bytes are those of one message at a time; parallel runs again and again, since
// their workers finish in a different order each time.
TEST(RunProperties, NamesDoNotDependOnGroupingOrParallelCopies) {
    struct Way {
        std::size_t group;
        unsigned jobs;
        int repeats;
    };
    const Way ways[] = {{1, 1, 1}, {3, 1, 1}, {32, 1, 1}, {32, 2, 2}, {32, 8, 4}, {32, 16, 2}};
    for (unsigned seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        RandomArchive archive(seed);
        std::vector<std::pair<std::string, std::string>> firstNamed;
        std::multiset<std::string> firstFailed;
        std::map<std::string, std::string> firstBytes;
        bool first = true;
        for (const Way &way : ways) {
            for (int repeat = 0; repeat < way.repeats; ++repeat) {
                SCOPED_TRACE("group " + std::to_string(way.group) + ", jobs " + std::to_string(way.jobs));
                TempDir out;
                // File by file: MinGW's fs::copy takes any two folders of a drive for the same one.
                const std::size_t root = testing::Utf8(archive.out.path()).size();
                for (const auto &[path, bytes] : Snapshot(archive.out.path()))
                    WriteFile(testing::Utf8(out.path()) + path.substr(root), bytes);
                std::mt19937 engine(seed);  // the same naming options in the same order
                RandomOptionObserver observer(engine);
                DuplicateCounter counter = 2;
                NativeFileService files;
                RunOptions options;
                options.claimGroup = way.group;
                options.jobs = way.jobs;
                options.skipIdentical = seed % 2 == 0;
                RunConversion(archive.list, out.path().string(), counter, observer, files, options);
                std::vector<std::pair<std::string, std::string>> named;
                for (const auto &[source, output] : observer.converted)
                    named.emplace_back(source, output.substr(out.path().string().size()));
                std::map<std::string, std::string> bytes;
                const std::size_t outRoot = testing::Utf8(out.path()).size();
                for (const auto &[path, content] : Snapshot(out.path())) bytes[path.substr(outRoot)] = content;
                if (first) {
                    firstNamed = named;
                    firstFailed = observer.failed;
                    firstBytes = bytes;
                    first = false;
                    continue;
                }
                EXPECT_EQ(named, firstNamed);
                EXPECT_TRUE(observer.failed == firstFailed);
                EXPECT_TRUE(bytes == firstBytes);
            }
        }
    }
}

class FixedOption : public RunObserver {
public:
    explicit FixedOption(NamingOption option) : option_(option) {}
    NamingOption SelectedNamingOption() override { return option_; }
    void MessageWritten(const std::string &source, const std::string &output, std::size_t, const MessageFacts &) override {
        outputs.emplace_back(source, output);
    }
    std::vector<std::pair<std::string, std::string>> outputs;

private:
    NamingOption option_;
};

// The fuzzers' seed messages, odd ones among them: each is converted, and its name depends on
// nothing but the message and the list.
TEST(RunProperties, CorpusMessagesGetTheSameNamesInTwoFreshRuns) {
    MessageList list;
    std::vector<fs::path> corpus;
    for (const auto &entry : fs::directory_iterator(fs::path(TARVELIN_FUZZ_DIR) / "corpus/mail_message")) {
        // Under Wine a name lands on the host's file system, which holds 255 bytes where Windows
        // holds 255 UTF-16 units; this message's names are longer than that in UTF-8.
        if (testing::UnderWine() && entry.path().filename() == "long_emoji_subject.eml") continue;
        corpus.push_back(entry.path());
    }
    std::sort(corpus.begin(), corpus.end());
    ASSERT_GE(corpus.size(), 10u);
    for (const fs::path &path : corpus) list.AddFileToList(testing::Utf8(path));

    for (const NamingScheme &scheme : kNamingSchemes) {
        const NamingOption option = scheme.option;
        SCOPED_TRACE(std::string(kNamingSchemes[static_cast<std::size_t>(option)].name));
        std::vector<std::string> names[2];
        for (auto &runNames : names) {
            TempDir out;
            FixedOption observer(option);
            DuplicateCounter counter = 0;
            NativeFileService files;
            const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files);
            EXPECT_TRUE(report.AllConverted());
            EXPECT_EQ(observer.outputs.size(), corpus.size());
            for (const auto &[source, output] : observer.outputs) {
                EXPECT_EQ(ReadFile(output), ReadFile(source));
                runNames.push_back(output.substr(out.path().string().size()));
            }
        }
        EXPECT_EQ(names[0], names[1]);
    }
}

}  // namespace
}  // namespace tarvelin
