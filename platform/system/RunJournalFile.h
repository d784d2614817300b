// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/RunJournal.h"
#include "platform/system/RunJournalFormat.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace corvane {

class RunJournalStore;

// The journal of one run in its file (RunJournalStore prepares it). Records are written and synced on a
// thread of the journal's own, so that a record's sync overlaps the writing and syncing of the
// replacement it protects; a record's ticket is durable once a sync after its write has succeeded. Room
// is made ahead, filled with zeros (a volume too full for the journal is found when it is opened, and a
// record's sync has only its own bytes to write), and the first
// failed write or sync ends the journal: every later record, and every wait for one not yet durable,
// fails with that error. The run's process holds the file until finish().
class RunJournalFile final : public RunJournal {
public:
    RunJournalFile(RunJournalStore& store, RunDescription description);
    ~RunJournalFile() override;  // finish()
    RunJournalFile(const RunJournalFile&) = delete;
    RunJournalFile& operator=(const RunJournalFile&) = delete;

    // Creates the file and makes its beginning durable, with its entry in the folder; the error of the
    // first attempt on every later call. Called by the first record at the latest.
    Status open();
    Expected<Ticket> record(ReplacedSidecar sidecar) override;
    Status waitUntilDurable(Ticket ticket) override;
    void cancel(Ticket ticket) override;

    // Why the journal cannot be written, once it cannot.
    std::optional<Error> failure() const;
    // The run's name; empty until the journal is open.
    std::string name() const;
    // Ends the journal as the run ends: the end is recorded, the unused room given back, the file synced
    // and let go. A journal that holds no record that was not cancelled is removed. Safe to call twice.
    void finish();

private:
    struct Pending {
        enum class Kind { record, cancel, end } kind;
        Ticket ticket = 0;
        ReplacedSidecar record;
    };
    Status openLocked();
    Status fail(Error error);  // under mutex_
    void writeAhead();         // the journal's thread
    Status append(const std::string& frames);

    RunJournalStore& store_;
    const RunDescription description_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool opened_ = false;
    bool stopping_ = false;
    bool finished_ = false;
    std::optional<Error> failure_;
    std::deque<Pending> queue_;
    Ticket nextTicket_ = 0;
    Ticket durable_ = 0;  // records up to this ticket (exclusive) are durable
    size_t cancelled_ = 0;
    std::string name_;
    std::filesystem::path path_;
    int fd_ = -1;
    uint64_t used_ = 0;      // where the next frame goes (the journal's thread alone, once open)
    uint64_t reserved_ = 0;  // the room the file has, used or not
    RecordEncoder encoder_;  // the journal's thread alone
    std::thread thread_;
};

}  // namespace corvane
