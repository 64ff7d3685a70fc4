// Runs that copy several messages at once: a slow message, a stop at any moment, and what the
// observer hears, which must all be as when one message is copied at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "conversion/claims_out.h"
#include "conversion/conversion_run.h"
#include "conversion/ordered_workers.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::Message;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class OrderObserver : public RunObserver {
public:
    NamingOption SelectedNamingOption() override { return NamingOption::OptSD; }
    void MessageWritten(const std::string &source, const std::string &output, std::size_t, const MessageFacts &) override {
        converted.emplace_back(source, output);
    }
    std::vector<std::pair<std::string, std::string>> converted;
};

// Holds the copy of one message until the others have had time to go on, and counts the copies
// begun meanwhile.
class SlowFirstCopy : public NativeFileService {
public:
    explicit SlowFirstCopy(std::string slow) : slow_(std::move(slow)) {}
    Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                     std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified,
                     SourceHead *head) override {
        if (source == slow_) {
            slowUnderWay = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            slowUnderWay = false;
        } else if (slowUnderWay) {
            ++begunMeanwhile;
        }
        return NativeFileService::StageCopy(source, folder, hooks, staged, modified, head);
    }
    std::atomic<bool> slowUnderWay{false};
    std::atomic<int> begunMeanwhile{0};

private:
    std::string slow_;
};

TEST(ParallelRun, SlowFirstMessageLetsOthersOnAsFarAsTheBoundAndNamesInOrder) {
    TempDir src, out;
    MessageList list;
    std::vector<std::string> sources;
    for (int i = 0; i < 60; ++i) {
        sources.push_back(src / ("m" + std::to_string(i) + ".msg"));
        WriteFile(sources.back(), Message(i % 3 == 0 ? "Same" : "S" + std::to_string(i)));
        list.AddFileToList(sources.back());
    }
    SlowFirstCopy files(sources[0]);
    OrderObserver observer;
    DuplicateCounter counter = 0;
    RunOptions options;
    options.jobs = 3;
    const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files, options);
    EXPECT_TRUE(report.AllConverted());
    EXPECT_GT(files.begunMeanwhile, 0);
    EXPECT_LT(files.begunMeanwhile, static_cast<int>(kAheadPerJob * options.jobs));
    ASSERT_EQ(observer.converted.size(), sources.size());
    for (std::size_t i = 0; i < sources.size(); ++i) EXPECT_EQ(observer.converted[i].first, sources[i]);
    // "Same" comes every third message: plain first, then numbered in list order.
    EXPECT_EQ(fs::path(observer.converted[3].second).filename(), "Same 01-07-2012 (1).eml");
    EXPECT_EQ(fs::path(observer.converted[57].second).filename(), "Same 01-07-2012 (19).eml");
}

// Asks to stop at a set moment, from whichever thread looks.
class StopAt : public OrderObserver {
public:
    explicit StopAt(std::chrono::steady_clock::time_point when) : when_(when) {}
    bool StopRequested() const override { return std::chrono::steady_clock::now() >= when_; }

private:
    std::chrono::steady_clock::time_point when_;
};

// Whenever the stop comes, the messages named are the first ones of the list, each under its
// final name with all its bytes, and no temporary file is left.
TEST(ParallelRun, StopAtAnyMomentNamesOnlyTheFinishedFrontOfTheList) {
    TempDir src;
    MessageList list;
    std::vector<std::string> sources;
    for (int i = 0; i < 40; ++i) {
        sources.push_back(src / ("f" + std::to_string(i % 3) + "/m" + std::to_string(i) + ".msg"));
        // Copied in two slices, so a stop can end its copy half-way.
        const bool big = i == 6;
        WriteFile(sources.back(), Message("M" + std::to_string(i)) + std::string(big ? 5 << 20 : 100 * i, 'x'));
        list.AddFileToList(sources.back());
    }
    std::mt19937 engine(20);
    for (int trial = 0; trial < 16; ++trial) {
        const auto delay = std::chrono::microseconds(engine() % 60000);
        SCOPED_TRACE("stop after " + std::to_string(delay.count()) + " us");
        TempDir out;
        StopAt observer(std::chrono::steady_clock::now() + delay);
        DuplicateCounter counter = 0;
        NativeFileService files;
        RunOptions options;
        options.jobs = 1 + engine() % 8;
        const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files, options);
        EXPECT_EQ(report.converted, static_cast<std::int64_t>(observer.converted.size()));
        EXPECT_TRUE(report.failures.empty());
        std::size_t files_found = 0;
        for (const auto &entry : fs::recursive_directory_iterator(out.path())) {
            if (!entry.is_regular_file()) continue;
            ++files_found;
            EXPECT_EQ(entry.path().filename().string().find(".tarvelin-"), std::string::npos) << entry.path();
        }
        EXPECT_EQ(files_found, observer.converted.size());
        for (std::size_t i = 0; i < observer.converted.size(); ++i) {
            EXPECT_EQ(observer.converted[i].first, sources[i]);
            if (i == 6) {
                EXPECT_EQ(fs::file_size(observer.converted[i].second), fs::file_size(sources[i]));
            } else {
                EXPECT_EQ(ReadFile(observer.converted[i].second), ReadFile(sources[i]));
            }
        }
    }
}

// Another program writes a file under the name chosen for one message between the choice and
// its claim, as a second writer in the output folder can.
class ForeignWriter : public NativeFileService {
public:
    explicit ForeignWriter(std::string name) : name_(std::move(name)) {}
    Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                     std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified,
                     SourceHead *head) override {
        Status status = NativeFileService::StageCopy(source, folder, hooks, staged, modified, head);
        if (staged) staged = std::make_unique<Claim>(*this, std::move(staged));
        return status;
    }
    std::atomic<bool> wrote{false};

private:
    class Claim : public StagedFile {
    public:
        Claim(ForeignWriter &writer, std::unique_ptr<StagedFile> copy) : writer_(writer), copy_(std::move(copy)) {}
        Status Flush() override { return copy_->Flush(); }
        Status ClaimAs(const std::string &destination) override {
            if (fs::path(destination).filename() == writer_.name_ && !writer_.wrote.exchange(true))
                WriteFile(destination, "foreign");
            return copy_->ClaimAs(destination);
        }
        bool LeftToRemove() const override { return copy_->LeftToRemove(); }

    private:
        ForeignWriter &writer_;
        std::unique_ptr<StagedFile> copy_;
    };
    std::string name_;
};

// The message whose name was taken gets the next free one, from a fresh look at the folder: the
// foreign file is never replaced, no message is lost, and reports come in list order. Every
// message is named as with one job, whether the taken name is the first, a middle or the last
// message's.
TEST(ParallelRun, NameTakenByAnotherWriterBeforeItsClaimIsNamedAgain) {
    TempDir src;
    MessageList list;
    std::vector<std::string> sources;
    for (int i = 0; i < 10; ++i) {
        sources.push_back(src / ("m" + std::to_string(i) + ".msg"));
        WriteFile(sources.back(), Message(i % 3 == 0 ? "Same" : "S" + std::to_string(i)));
        list.AddFileToList(sources.back());
    }
    for (const char *taken : {"Same 01-07-2012.eml", "S5 01-07-2012.eml", "Same 01-07-2012 (3).eml"}) {
        SCOPED_TRACE(taken);
        std::vector<std::pair<std::string, std::string>> oneJob;
        for (const unsigned jobs : {1u, 2u, 8u}) {
            SCOPED_TRACE("jobs " + std::to_string(jobs));
            TempDir out;
            ForeignWriter files(taken);
            OrderObserver observer;
            DuplicateCounter counter = 0;
            RunOptions options;
            options.jobs = jobs;
            const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files, options);
            EXPECT_TRUE(report.AllConverted());
            EXPECT_TRUE(files.wrote);
            ASSERT_EQ(observer.converted.size(), sources.size());
            EXPECT_EQ(ReadFile(fs::path(observer.converted[0].second).parent_path() / taken), "foreign");
            std::vector<std::pair<std::string, std::string>> named;
            for (std::size_t i = 0; i < sources.size(); ++i) {
                EXPECT_EQ(observer.converted[i].first, sources[i]);
                EXPECT_EQ(ReadFile(observer.converted[i].second), ReadFile(sources[i]));
                named.emplace_back(sources[i], fs::path(observer.converted[i].second).filename().string());
            }
            if (jobs == 1) {
                oneJob = named;
            } else {
                EXPECT_EQ(named, oneJob);
            }
        }
    }
}

// Jobs that wait (as on a share) bring every worker in. Every job comes back, in order, also
// while workers join and leave. (How many compute is up to the machine's load: not checked.)
TEST(OrderedWorkers, AsManyWorkAsTheJobsNeed) {
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    for (const bool waits : {true, false}) {
        SCOPED_TRACE(waits ? "waiting jobs" : "computing jobs");
        std::atomic<std::size_t> atOnce = 0, mostAtOnce = 0;
        OrderedWorkers<int> workers(cores + 6, 4 * (cores + 6), [&, waits](int &job, WorkHooks &) {
            if (waits) {
                const std::size_t now = ++atOnce;
                for (std::size_t most = mostAtOnce; now > most && !mostAtOnce.compare_exchange_weak(most, now);) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                --atOnce;
                return;
            }
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
            while (std::chrono::steady_clock::now() < until) job += 0;
        });
        int given = 0, taken = 0;
        while (taken < 300) {
            std::vector<std::pair<int, bool>> batch;
            while (given < 300 && batch.size() < workers.Room()) batch.emplace_back(given++, true);
            workers.GiveAll(batch);
            if (const std::optional<int> job = workers.TakeFinished(std::chrono::milliseconds(1000))) {
                EXPECT_EQ(*job, taken);
                ++taken;
            }
        }
        if (waits) {
            EXPECT_EQ(mostAtOnce, cores + 6);
        }
    }
}

// First jobs that only wait (a share's first round trips) bring more workers in before any of them
// ends, where the weighing would find it only once they end.
TEST(OrderedWorkers, FirstJobsThatWaitBringWorkersInBeforeTheyEnd) {
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threads = cores + 6;
    std::atomic<std::size_t> started = 0;
    std::atomic<bool> open = false;
    OrderedWorkers<int> workers(threads, 4 * threads, [&](int &, WorkHooks &) {
        ++started;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!open && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::vector<std::pair<int, bool>> batch;
    for (int i = 0; i < static_cast<int>(threads); ++i) batch.emplace_back(i, true);
    workers.GiveAll(batch);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    while (started <= cores && std::chrono::steady_clock::now() < until) {
        EXPECT_FALSE(workers.TakeFinished(std::chrono::milliseconds(20)));
    }
    EXPECT_GT(started, cores);
    open = true;
    for (int taken = 0; taken < static_cast<int>(threads);) {
        if (const std::optional<int> job = workers.TakeFinished(std::chrono::milliseconds(1000))) {
            EXPECT_EQ(*job, taken++);
        }
    }
}

// A claim holds its folder's lock on a share: claims in one folder go out a few at a time, in the
// order given, while those of other folders go on meanwhile.
TEST(ClaimsOut, AFewAtATimePerFolderWhileOtherFoldersGoOn) {
    struct Books {
        std::mutex mutex;
        std::map<std::string, int> now, most;
        int allNow = 0, allMost = 0;
        std::vector<std::string> order;
    } books;
    struct SlowClaim : StagedFile {
        SlowClaim(Books &b, std::string f) : books(b), folder(std::move(f)) {}
        Status Flush() override { return Status::Ok(); }
        Status ClaimAs(const std::string &path) override {
            {
                std::lock_guard lock(books.mutex);
                books.most[folder] = std::max(books.most[folder], ++books.now[folder]);
                books.allMost = std::max(books.allMost, ++books.allNow);
                books.order.push_back(path);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            std::lock_guard lock(books.mutex);
            --books.now[folder];
            --books.allNow;
            return Status::Ok();
        }
        Books &books;
        std::string folder;
    };
    std::vector<std::jthread> workers;
    std::mutex workersMutex;
    ClaimsOut claims(
        [&](std::function<void()> task) {
            std::lock_guard lock(workersMutex);
            workers.emplace_back(std::move(task));
        },
        kClaimsPerFolder);
    std::vector<std::shared_ptr<ClaimOut>> out;
    for (int i = 0; i < 8; ++i)
        for (const std::string folder : {"a", "b"})
            out.push_back(claims.Give(std::make_unique<SlowClaim>(books, folder), folder + std::to_string(i), folder));
    WorkHooks hooks;
    for (const auto &claim : out) {
        claims.Await(*claim, hooks);
        EXPECT_TRUE(claim->status);
    }
    std::vector<std::jthread> done;
    {
        std::lock_guard lock(workersMutex);
        done.swap(workers);
    }
    done.clear();
    EXPECT_EQ(books.most["a"], static_cast<int>(kClaimsPerFolder));
    EXPECT_EQ(books.most["b"], static_cast<int>(kClaimsPerFolder));
    EXPECT_GT(books.allMost, static_cast<int>(kClaimsPerFolder));
    for (const std::string folder : {"a", "b"}) {
        std::vector<std::string> inFolder;
        for (const std::string &path : books.order)
            if (path.starts_with(folder)) inFolder.push_back(path);
        for (std::size_t i = 0; i + 1 < inFolder.size(); ++i)
            EXPECT_LE(std::stoi(inFolder[i].substr(1)), std::stoi(inFolder[i + 1].substr(1)) + 1) << folder;
    }
}

// A window keeps its events while the finished jobs at the end of the list are taken back one
// after another with none left to give: the hooks yield between every two of them.
TEST(OrderedWorkers, YieldsBetweenJobsTakenBackOnceAllAreGiven) {
    struct CountingHooks : WorkHooks {
        void Yield() override { ++yields; }
        int yields = 0;
    } hooks;
    constexpr std::size_t kJobs = 40;
    OrderedWorkers<int> workers(2, kJobs, [](int &, WorkHooks &) {});
    int taken = 0;
    ASSERT_TRUE(GiveAndTakeInOrder(
        workers, kJobs, hooks, [](std::size_t i) { return std::optional<int>(static_cast<int>(i)); },
        [](const int &) { return true; },
        [&](const int &job) {
            EXPECT_EQ(job, taken++);
            return true;
        }));
    EXPECT_EQ(taken, static_cast<int>(kJobs));
    EXPECT_GE(hooks.yields, static_cast<int>(2 * kJobs - 1));
}

}  // namespace
}  // namespace tarvelin
