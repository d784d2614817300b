// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>

namespace corvane {

// The engine's four switches, one instance per process. A front end writes them (also during a run);
// the engine reads each at the moment a step needs it, so a change applies to the steps that follow.
// Every flag is atomic, so a reader on a worker thread and a writer on the UI thread need no lock.
struct RunSettings {
    std::atomic<bool> dryRun{true};
    std::atomic<bool> alwaysOverwrite{false};
    std::atomic<bool> appleOnly{true};
    std::atomic<bool> silentlyIgnoreSkipped{false};

    // The switches as they are at this moment, for steps that must all see the same ones.
    RunSettings snapshot() const {
        return RunSettings{{dryRun.load()}, {alwaysOverwrite.load()}, {appleOnly.load()}, {silentlyIgnoreSkipped.load()}};
    }

    // The process-wide instance.
    static RunSettings& shared();
};

}  // namespace corvane
