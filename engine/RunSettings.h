// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/RunSwitches.h"

#include <mutex>

namespace corvane {

// A run's switches as they are now, for a run whose switches may change while it goes on: a front end
// publishes new switches (also during a run), and each file takes one snapshot when its turn comes, so a
// change applies from the next file on. Safe to publish and read from different threads at once.
class RunSettings {
public:
    RunSettings() = default;
    explicit RunSettings(const RunSwitches& switches) : switches_(switches) {}

    RunSwitches snapshot() const {
        const std::lock_guard lock(mutex_);
        return switches_;
    }
    void publish(const RunSwitches& switches) {
        const std::lock_guard lock(mutex_);
        switches_ = switches;
    }

    // The process-wide settings, which every window publishes its switches to.
    static RunSettings& shared();

private:
    mutable std::mutex mutex_;
    RunSwitches switches_;
};

}  // namespace corvane
