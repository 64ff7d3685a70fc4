// The record that both runs keep of a run alike: the observer's events, the progress and the
// report they end with, and the copies waiting for their names.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "conversion/header/mail_message.h"
#include "conversion/run_observer.h"
#include "platform/file_service.h"

namespace tarvelin {

// Complete copies wait for their names in groups of up to this many when one job does all the
// work: flushed one after the other, a group costs the disk about one journal commit instead of
// one per message, and a power cut loses at most the group (as hidden temporary files).
inline constexpr std::size_t kClaimGroup = 32;

// Runs one message's work; memory that runs out on the way fails that message (the work's own
// owners have let go of what it made), and the run goes on.
template <typename Work>
Status WithinMemory(Work &&work) {
    try {
        work();
        return Status::Ok();
    } catch (const std::bad_alloc &) {
        return Status::OutOfMemory();
    }
}

// Says each temporary file that the run's copies could not remove, once the run is over.
void TellLeftBehind(RunObserver &observer, FileService &files);

// What a run learns of a message from its header.
MessageFacts FactsOf(const MailMessage &message);

// Says in the facts when the copy keeps its source's time because the file system refused the
// message's.
void NoteTimeKept(const StagedFile &copy, MessageFacts &facts);

class RunLedger {
public:
    RunLedger(RunObserver &observer, std::size_t rows) : observer_(observer), rows_(rows) {
        MailMessage::PrepareReader();
    }

    RunObserver &observer() { return observer_; }
    // Yields to the observer, and tells whether the run must stop.
    bool StopsNow() { return observer_.YieldAndCheckStop(); }

    void Written(const std::string &source, const std::string &output, std::size_t numberInFile,
                 const MessageFacts &facts);
    void AlreadyThere(const std::string &source, const std::string &output, MessageFacts facts);
    void Failed(const std::string &source, std::string reason, const MessageFacts &facts);
    void Skipped(const std::string &row);
    void NameChanged(const std::string &wanted, const std::string &written) { observer_.NameChanged(wanted, written); }
    // After each message, whatever became of it.
    void Progressed();

    // The report, complete or ended at a stop.
    ConversionReport Finish(bool complete);

private:
    RunObserver &observer_;
    const std::size_t rows_;
    std::size_t done_ = 0;
    ConversionReport report_;
};

// Complete copies waiting for their names, in list order: all flushed first, then each named, so
// that a group shares one commit of the disk. Each waiting entry has `copy` (a StagedFile) and
// `flushed` (the Flush's status once it was done, by its worker or here).
template <typename Waiting>
class WaitingClaims {
public:
    // With a group of 1 every copy is named at once: copies flushed by their workers have nothing
    // to share a commit with.
    explicit WaitingClaims(std::size_t group) : group_(std::max<std::size_t>(group, 1)) {}

    // True when the group is full and should be settled.
    bool Add(Waiting waiting) {
        // The disk starts on each copy while the group fills; alone, a copy is flushed at once.
        if (group_ > 1 && waiting.copy) waiting.copy->StartWriteback();
        waiting_.push_back(std::move(waiting));
        return waiting_.size() >= group_;
    }
    template <typename Predicate>
    bool Any(Predicate predicate) const {
        return std::any_of(waiting_.begin(), waiting_.end(), predicate);
    }
    // Flushes each copy not flushed yet, yielding after each, then hands each to `name` in order.
    template <typename Name>
    void Settle(WorkHooks &hooks, Name name) {
        for (Waiting &waiting : waiting_) {
            if (waiting.flushed) continue;
            waiting.flushed = waiting.copy->Flush();
            hooks.Yield();
        }
        for (Waiting &waiting : waiting_) name(waiting);
        waiting_.clear();
    }

private:
    const std::size_t group_;
    std::vector<Waiting> waiting_;
};

}  // namespace tarvelin
