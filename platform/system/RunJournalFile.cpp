// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/RunJournalFile.h"

#include "platform/system/PosixFile.h"
#include "platform/system/RunJournalStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace corvane {
namespace {

// The room a journal makes when it is made, and the most it adds at once: a journal grows by what it has,
// from 64 KiB up to steps of 4 MiB (multiples of 64 KiB).
constexpr uint64_t firstRoom = 64 * 1024;
constexpr uint64_t largestRoomStep = 4 * 1048576;

Status syncFolder(const std::filesystem::path& folder) {
    const Descriptor dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) return posixError(errno, "Cannot open the folder", folder);
    if (::fsync(dir.fd) != 0 && errno != EINVAL) return posixError(errno, "Cannot sync the folder", folder);
    return {};
}

}  // namespace

RunJournalFile::RunJournalFile(RunJournalStore& store, RunDescription description)
    : store_(store), description_(std::move(description)) {}

RunJournalFile::~RunJournalFile() { finish(); }

Status RunJournalFile::open() {
    std::lock_guard lock(mutex_);
    return openLocked();
}

Status RunJournalFile::fail(Error error) {
    failure_ = std::move(error);
    changed_.notify_all();
    return *failure_;
}

Status RunJournalFile::openLocked() {
    if (opened_) return failure_ ? Status(*failure_) : Status{};
    opened_ = true;
    if (finished_) return fail(Error{"Journal", 3, "The run has ended"});
    const auto created = store_.create();
    if (!created) return fail(created.error());
    name_ = created.value().name;
    path_ = created.value().path;
    fd_ = created.value().fd;
    // The journal's beginning, and its name in the folder, last from before the run's first replacement.
    if (Status written = append(encodeJournalStart(description_)); !written) return fail(written.error());
    if (::fdatasync(fd_) != 0) return fail(posixError(errno, "Cannot sync", path_));
    if (Status synced = syncFolder(path_.parent_path()); !synced) return fail(synced.error());
    thread_ = std::thread([this] { writeAhead(); });
    return {};
}

Expected<RunJournal::Ticket> RunJournalFile::record(ReplacedSidecar sidecar) {
    std::lock_guard lock(mutex_);
    if (Status opened = openLocked(); !opened) return opened.error();
    const Ticket ticket = nextTicket_++;
    queue_.push_back({Pending::Kind::record, ticket, std::move(sidecar)});
    changed_.notify_all();
    return ticket;
}

Status RunJournalFile::waitUntilDurable(Ticket ticket) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return durable_ > ticket || failure_; });
    if (durable_ > ticket) return {};
    return *failure_;
}

void RunJournalFile::cancel(Ticket ticket) {
    std::lock_guard lock(mutex_);
    ++cancelled_;
    if (!thread_.joinable() || stopping_ || failure_) return;
    queue_.push_back({Pending::Kind::cancel, ticket, {}});
    changed_.notify_all();
}

std::optional<Error> RunJournalFile::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

std::string RunJournalFile::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

// Takes what is queued, all of it at once, and writes it with one sync: the records that came while
// the previous sync ran share the next one.
void RunJournalFile::writeAhead() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return !queue_.empty() || stopping_; });
        if (queue_.empty()) return;
        std::deque<Pending> batch = std::exchange(queue_, {});
        if (failure_) continue;  // nothing more is written once the journal has failed
        lock.unlock();
        std::string frames;
        std::optional<Ticket> lastRecord;
        for (Pending& pending : batch) {
            switch (pending.kind) {
                case Pending::Kind::record:
                    frames += encoder_.frame(pending.ticket, pending.record);
                    lastRecord = pending.ticket;
                    break;
                case Pending::Kind::cancel: frames += encodeCancelFrame(pending.ticket); break;
                case Pending::Kind::end: frames += encodeEndFrame(); break;
            }
        }
        Status written = append(frames);
        if (written && lastRecord && ::fdatasync(fd_) != 0) written = posixError(errno, "Cannot sync", path_);
        lock.lock();
        if (!written) failure_ = written.error();
        else if (lastRecord) durable_ = *lastRecord + 1;
        changed_.notify_all();
    }
}

Status RunJournalFile::append(const std::string& frames) {
    const auto writeAt = [this](const char* data, size_t size, uint64_t offset) -> Status {
        for (size_t done = 0; done < size;) {
            const ssize_t count = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) return posixError(count < 0 ? errno : EIO, "Cannot write", path_);
            done += static_cast<size_t>(count);
        }
        return {};
    };
    const uint64_t end = used_ + frames.size();
    // Room is made by writing zeros, not by fallocate(2): a record written over blocks that hold data
    // already is synced with the data alone, while one written into reserved but unwritten blocks would
    // need the file system's own journal committed as well, on every sync.
    static const std::string zeros(firstRoom, '\0');
    while (reserved_ < end) {
        const uint64_t step = std::clamp(reserved_, firstRoom, largestRoomStep);
        for (uint64_t at = reserved_; at < reserved_ + step; at += zeros.size())
            if (Status made = writeAt(zeros.data(), zeros.size(), at); !made) return made;
        reserved_ += step;
    }
    if (Status written = writeAt(frames.data(), frames.size(), used_); !written) return written;
    used_ = end;
    return {};
}

void RunJournalFile::finish() {
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        finished_ = stopping_ = true;
        if (thread_.joinable() && !failure_) queue_.push_back({Pending::Kind::end, 0, {}});
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    if (fd_ < 0) return;
    // The records are durable already: the end mark and the trimmed room are only tidiness, and a
    // failure of either loses nothing.
    if (nextTicket_ == cancelled_) {
        ::unlink(path_.c_str());
    } else if (!failure_ && ::ftruncate(fd_, static_cast<off_t>(used_)) == 0) {
        (void)::fsync(fd_);
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace corvane
