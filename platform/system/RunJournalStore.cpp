// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/RunJournalStore.h"

#include "platform/system/PosixFile.h"
#include "platform/system/RunJournalFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

namespace corvane {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

constexpr std::string_view journalExtension = ".journal";

// "20261207T140312.345Z" for that moment in UTC.
std::string runNameFor(Clock::time_point moment) {
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(moment.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &utc);
    const auto fraction = static_cast<int>(milliseconds % 1000);
    return std::string(text) + "." + static_cast<char>('0' + fraction / 100) + static_cast<char>('0' + fraction / 10 % 10) +
           static_cast<char>('0' + fraction % 10) + "Z";
}

// The moment a run's name gives, and the number of its suffix ("-2": 2; none: 1); absent for other names.
std::optional<std::pair<Clock::time_point, int>> parseRunName(std::string_view name) {
    std::tm utc{};
    int milliseconds = 0, suffix = 1, length = 0;
    const std::string text(name);
    if (std::sscanf(text.c_str(), "%4d%2d%2dT%2d%2d%2d.%3dZ%n", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                    &utc.tm_min, &utc.tm_sec, &milliseconds, &length) != 7 || length != 20)
        return std::nullopt;
    // Fields out of range, or a year the clock cannot count to, make no run's name.
    const bool inRange = utc.tm_year >= 1970 && utc.tm_year <= 2200 && utc.tm_mon >= 1 && utc.tm_mon <= 12 &&
                         utc.tm_mday >= 1 && utc.tm_mday <= 31 && utc.tm_hour >= 0 && utc.tm_hour <= 23 &&
                         utc.tm_min >= 0 && utc.tm_min <= 59 && utc.tm_sec >= 0 && utc.tm_sec <= 60 && milliseconds >= 0;
    if (!inRange) return std::nullopt;
    if (text.size() > 20 && (std::sscanf(text.c_str() + 20, "-%d%n", &suffix, &length) != 1 ||
                             static_cast<size_t>(length) != text.size() - 20 || suffix < 2))
        return std::nullopt;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    const std::time_t seconds = ::timegm(&utc);
    return std::pair{Clock::from_time_t(seconds) + std::chrono::milliseconds(milliseconds), suffix};
}

fs::path journalPath(const fs::path& folder, std::string_view name) {
    return folder / (std::string(name) + std::string(journalExtension));
}

// Whether a run's process still holds its journal.
bool heldByItsRun(const fs::path& path) {
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return false;
    return ::flock(file.fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

Expected<std::string> readWholeFile(const fs::path& path) {
    const Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return posixError(errno, "Cannot open", path);
    std::string bytes;
    char buffer[65536];
    while (true) {
        const ssize_t count = ::read(file.fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return posixError(errno, "Cannot read", path);
        if (count == 0) return bytes;
        bytes.append(buffer, static_cast<size_t>(count));
    }
}

// Makes the folder and those above it that are missing, each for the user alone.
Status makeFolders(const fs::path& folder) {
    fs::path made;
    for (const fs::path& part : folder) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) return posixError(errno, "Cannot make the folder", made);
    }
    return {};
}

// The store's own lock, held while a journal is made or journals are removed, so that a removal never
// takes a journal that is made but not yet held.
Expected<int> lockFolder(const fs::path& folder) {
    Descriptor lock{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (lock.fd < 0) return posixError(errno, "Cannot open the folder", folder);
    if (lockExclusive(lock.fd) != 0) return posixError(errno, "Cannot lock the folder", folder);
    return lock.release();
}

}  // namespace

fs::path RunJournalStore::defaultFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return fs::path(state) / "corvane" / "runs";
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* user = ::getpwuid(::getuid());
        home = user && user->pw_dir ? user->pw_dir : "/";
    }
    return fs::path(home) / ".local" / "state" / "corvane" / "runs";
}

std::unique_ptr<RunJournalFile> RunJournalStore::prepare(RunDescription description) {
    return std::make_unique<RunJournalFile>(*this, std::move(description));
}

Expected<std::vector<std::string>> RunJournalStore::names() const {
    std::vector<std::pair<std::pair<Clock::time_point, int>, std::string>> found;
    DIR* dir = ::opendir(folder_.c_str());
    if (!dir && errno == ENOENT) return std::vector<std::string>{};
    if (!dir) return posixError(errno, "Cannot list the folder", folder_);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view file = entry->d_name;
        if (!file.ends_with(journalExtension)) continue;
        const std::string_view name = file.substr(0, file.size() - journalExtension.size());
        if (const auto when = parseRunName(name)) found.emplace_back(*when, std::string(name));
    }
    ::closedir(dir);
    std::ranges::sort(found);
    std::vector<std::string> names;
    for (auto& [when, name] : found) names.push_back(std::move(name));
    return names;
}

Expected<RunInfo> RunJournalStore::read(const std::string& name, std::optional<JournalContents>* withOldTexts) const {
    const fs::path path = journalPath(folder_, name);
    const auto bytes = readWholeFile(path);
    if (!bytes) return bytes.error();
    auto contents = decodeJournal(bytes.value(), withOldTexts != nullptr);
    if (!contents) {
        RunInfo run{name, parseRunName(name)->first, {}, 0, false, heldByItsRun(path), true, 0, true};
        if (withOldTexts) return Error{"Journal", 2, "the journal of run " + name + " is damaged"};
        return run;
    }
    RunInfo run{name,
                parseRunName(name)->first,
                contents.value().description,
                contents.value().records.size(),
                contents.value().finished,
                heldByItsRun(path),
                contents.value().damaged,
                contents.value().unreadable,
                false};
    if (withOldTexts) *withOldTexts = std::move(contents).value();
    return run;
}

Expected<std::vector<RunInfo>> RunJournalStore::list() const {
    const auto all = names();
    if (!all) return all.error();
    std::vector<RunInfo> runs;
    for (const std::string& name : all.value())
        if (auto run = read(name)) runs.push_back(std::move(run).value());
    return runs;
}

Expected<std::optional<RunInfo>> RunJournalStore::lastRun() const {
    const auto all = names();
    if (!all) return all.error();
    for (auto name = all.value().rbegin(); name != all.value().rend(); ++name) {
        auto run = read(*name);
        if (!run) return run.error();
        if (run.value().replaced > 0 || run.value().lost > 0 || run.value().unreadable) return std::optional(std::move(run).value());
    }
    return std::optional<RunInfo>();
}

Expected<std::optional<RunInfo>> RunJournalStore::find(std::string_view name) const {
    const auto all = names();
    if (!all) return all.error();
    if (std::ranges::find(all.value(), name) == all.value().end()) return std::optional<RunInfo>();
    auto run = read(std::string(name));
    if (!run) return run.error();
    return std::optional(std::move(run).value());
}

Expected<std::vector<ReplacedSidecar>> RunJournalStore::records(RunInfo& run) const {
    std::optional<JournalContents> contents;
    const auto read = this->read(run.name, &contents);
    if (!read) return read.error();
    run.damaged = read.value().damaged;
    run.lost = read.value().lost;
    return std::move(contents->records);
}

Expected<size_t> RunJournalStore::forget() {
    const auto all = names();
    if (!all || all.value().empty()) return all ? Expected<size_t>(0) : all.error();
    const auto locked = lockFolder(folder_);
    if (!locked) return locked.error();
    const Descriptor lock{locked.value()};
    size_t removed = 0;
    for (const std::string& name : all.value()) {
        const fs::path path = journalPath(folder_, name);
        if (heldByItsRun(path)) continue;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) return posixError(errno, "Cannot remove", path);
        ++removed;
    }
    return removed;
}

Expected<RunJournalStore::Created> RunJournalStore::create() {
    if (Status made = makeFolders(folder_); !made) return made.error();
    const auto locked = lockFolder(folder_);
    if (!locked) return locked.error();
    const Descriptor lock{locked.value()};
    const std::string moment = runNameFor(Clock::now());
    std::string name = moment;
    Descriptor file;
    for (int suffix = 2; (file.fd = ::open(journalPath(folder_, name).c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600)) < 0; ++suffix) {
        if (errno != EEXIST || suffix > 1000) return posixError(errno, "Cannot create a journal in", folder_);
        name = moment + "-" + std::to_string(suffix);
    }
    if (lockExclusive(file.fd) != 0) return posixError(errno, "Cannot lock", journalPath(folder_, name));

    // The journals beyond the newest `runsKept` go once they are older than `daysKept` days.
    if (const auto all = names()) {
        const auto oldestKept = Clock::now() - std::chrono::hours(24 * daysKept);
        for (size_t index = 0; index + runsKept < all.value().size(); ++index) {
            const fs::path path = journalPath(folder_, all.value()[index]);
            if (parseRunName(all.value()[index])->first < oldestKept && !heldByItsRun(path)) ::unlink(path.c_str());
        }
    }
    return Created{name, journalPath(folder_, name), file.release()};
}

}  // namespace corvane
