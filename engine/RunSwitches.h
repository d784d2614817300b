// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace corvane {

// The switches of a run, as one value: what every front end fills, what each file's steps follow, and
// what the report's header names. The defaults are those of every launch: a dry run of Apple photos.
struct RunSwitches {
    bool dryRun = true;
    bool alwaysOverwrite = false;
    bool appleOnly = true;
    bool silentlyIgnoreSkipped = false;

    friend bool operator==(const RunSwitches&, const RunSwitches&) = default;
};

}  // namespace corvane
