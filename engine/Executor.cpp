// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Executor.h"

namespace corvane {

void InlineExecutor::post(std::function<void()> work) {
    queue_.push_back(std::move(work));
    if (draining_) return;
    // Reset on every way out, so that a piece that throws does not leave the executor deaf to the
    // pieces posted after it.
    struct Draining {
        bool& flag;
        explicit Draining(bool& f) : flag(f) { flag = true; }
        ~Draining() { flag = false; }
    } draining(draining_);
    while (!queue_.empty()) {
        auto next = std::move(queue_.front());
        queue_.pop_front();
        next();
    }
}

}  // namespace corvane
