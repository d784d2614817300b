// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace corvane {

// One process-wide serial queue for sidecar saves: every save runs under it, one at a time, while the
// caller waits. The work runs on the calling thread, so a save costs no hop to another thread and back;
// callers on other threads wait their turn. Created on first use, thread-safely, and never destroyed.
class WriteQueue {
public:
    // The queue for sidecar saves.
    static WriteQueue& xmpWriteQueue();

    // Runs `work` after the work queued before it, and returns when it is done; an exception of `work`
    // reaches the caller. Must not be called from work running on the queue itself.
    void runSync(const std::function<void()>& work);

    WriteQueue(const WriteQueue&) = delete;
    WriteQueue& operator=(const WriteQueue&) = delete;

private:
    WriteQueue();
    struct Impl;
    Impl* impl_;
};

}  // namespace corvane
