// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <deque>
#include <functional>

namespace corvane {

// Where the run driver posts its work: the window posts each piece to its event loop, the CLI runs
// the pieces in place. A piece may post further pieces.
using Executor = std::function<void(std::function<void()>)>;

// Runs posted work at once, on the calling thread. Work posted while a piece runs is queued and run
// after it, in order, so a long run never deepens the stack. Not thread-safe: one thread posts.
class InlineExecutor {
public:
    void post(std::function<void()> work);
    Executor executor() {
        return [this](std::function<void()> work) { post(std::move(work)); };
    }

private:
    std::deque<std::function<void()>> queue_;
    bool draining_ = false;
};

}  // namespace corvane
