// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace corvane {

// One process-wide serial writer: every sidecar save runs on its thread, one at a time, while the
// caller waits. Created on first use, thread-safely, and never destroyed.
class WriteQueue {
public:
    // The queue for sidecar saves.
    static WriteQueue& xmpWriteQueue();

    // Runs `work` on the queue's thread after the work queued before it, and returns when it is done.
    // Must not be called from work running on the queue itself.
    void runSync(const std::function<void()>& work);

    WriteQueue(const WriteQueue&) = delete;
    WriteQueue& operator=(const WriteQueue&) = delete;

private:
    WriteQueue();
    struct Impl;
    Impl* impl_;
};

}  // namespace corvane
