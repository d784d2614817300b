// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/WriteQueue.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

namespace corvane {

struct WriteQueue::Impl {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> pending;
    std::thread worker;

    void run() {
        while (true) {
            std::function<void()> next;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return !pending.empty(); });
                next = std::move(pending.front());
                pending.pop_front();
            }
            next();
        }
    }
};

WriteQueue::WriteQueue() : impl_(new Impl) {
    impl_->worker = std::thread([impl = impl_] { impl->run(); });
    // The queue lives as long as the process; its thread never holds anything that must be released.
    impl_->worker.detach();
}

WriteQueue& WriteQueue::xmpWriteQueue() {
    static WriteQueue* queue = new WriteQueue();  // never destroyed, like the process's other queues
    return *queue;
}

void WriteQueue::runSync(const std::function<void()>& work) {
    std::promise<void> done;
    auto finished = done.get_future();
    {
        std::lock_guard lock(impl_->mutex);
        impl_->pending.push_back([&] {
            try {
                work();
                done.set_value();
            } catch (...) {
                done.set_exception(std::current_exception());
            }
        });
    }
    impl_->wake.notify_one();
    finished.get();
}

}  // namespace corvane
