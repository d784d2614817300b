// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/WriteQueue.h"

#include <mutex>

namespace corvane {

struct WriteQueue::Impl {
    // Waiters are let in one at a time; an uncontended lock costs no system call.
    std::mutex turn;
};

WriteQueue::WriteQueue() : impl_(new Impl) {}

WriteQueue& WriteQueue::xmpWriteQueue() {
    static WriteQueue* queue = new WriteQueue();  // never destroyed, like the process's other queues
    return *queue;
}

void WriteQueue::runSync(const std::function<void()>& work) {
    const std::lock_guard turn(impl_->turn);
    work();
}

}  // namespace corvane
