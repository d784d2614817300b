// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace corvane {

// Marks the stretch of time in which a run is in progress, for the caches that serve one run and must
// not outlive it: a folder's listing, its access and grant, the folders cleaned of abandoned files,
// the folder whose sync is deferred. A cache remembers the run it was filled in and starts afresh when
// another run is current. Outside any run current() is 0 and nothing is cached. The run driver begins
// and ends the scope; thread-safe.
class RunScope {
public:
    // A new run number, current from now on. Runs of several windows may overlap: the number of the
    // run begun last is current until every begun run has ended.
    static uint64_t begin();
    static void end();
    static uint64_t current();
};

}  // namespace corvane
