#include "engine/Executor.h"

namespace corvane {

void InlineExecutor::post(std::function<void()> work) {
    queue_.push_back(std::move(work));
    if (draining_) return;
    draining_ = true;
    while (!queue_.empty()) {
        auto next = std::move(queue_.front());
        queue_.pop_front();
        next();
    }
    draining_ = false;
}

}  // namespace corvane
