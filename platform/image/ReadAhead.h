// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/RunSwitches.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane {

// Has the media files a run will soon reach read ahead, so that the kernel fetches several files' pages
// at once while the run works on one: on a cold disk or a network volume that is slow for each read,
// the run then finds them in the page cache instead of waiting for one read after another. For each
// file it reads what the image metadata reader will read of it (nothing more: the same exact extents),
// and asks the kernel to fetch its sidecar under the run's sidecar naming (under "either", both names). A file
// whose first page is already in the page cache is taken as read and left alone; once many files in a
// row were, only one file in 32 is looked at, until one is found that is not: a run over files already
// cached (a second run over the same folder) costs next to nothing.
//
// Only reads, and only regular files (opened without blocking, so a FIFO never waits); every failure
// is ignored, since the run's own read meets it again and reports it. Results are dropped: the run
// reads every file itself at its turn, so what it finds and reports does not depend on this. The
// threads block every signal, so signals reach the program's own thread. add() may be called from any
// thread; destroying the object drops the files not yet begun and waits for those in progress.
class ReadAhead {
public:
    explicit ReadAhead(SidecarName naming, size_t threads = 8);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Queues a media file; returns at once.
    void add(const std::filesystem::path& mediaFile);

private:
    void work();

    const SidecarName naming_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::filesystem::path> queue_;
    bool stopping_ = false;
    size_t cachedInARow_ = 0;  // files found in the page cache since the last that was not
    size_t passedOver_ = 0;    // files not looked at while they all were
    std::vector<std::thread> threads_;
};

}  // namespace corvane
