// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RunScope.h"

#include <atomic>
#include <mutex>

namespace corvane {
namespace {

struct Runs {
    std::mutex mutex;
    uint64_t last = 0;
    int active = 0;
    // What current() answers, kept up to date under the mutex and read without it: every diagnostic
    // line and every file asks.
    std::atomic<uint64_t> current{0};
};

Runs& runs() {
    static Runs state;
    return state;
}

}  // namespace

uint64_t RunScope::begin() {
    Runs& state = runs();
    std::lock_guard lock(state.mutex);
    ++state.active;
    state.current.store(++state.last, std::memory_order_release);
    return state.last;
}

void RunScope::end() {
    Runs& state = runs();
    std::lock_guard lock(state.mutex);
    if (state.active > 0) --state.active;
    state.current.store(state.active > 0 ? state.last : 0, std::memory_order_release);
}

uint64_t RunScope::current() { return runs().current.load(std::memory_order_acquire); }

}  // namespace corvane
