// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::cli {

// What ends a run of corvane-cli before its last file: SIGINT, SIGTERM or SIGHUP, or a report that can
// no longer be written (a closed pipe, a full disk). Either way the file in progress finishes, the run
// takes no further file and ends properly (temporary files gone, written folders synced, the closing
// line printed), and the process exits with interruptionExitStatus(). Process-wide state: the signal
// handler only notes the signal; everything else runs on the thread that drives the run.

// From now on SIGINT, SIGTERM and SIGHUP are noted rather than obeyed; a second one of them ends the
// process at once, as its default action does. SIGPIPE is ignored, so a closed output pipe shows as a
// failed write (EPIPE) and ends the run the same way.
void catchInterruptions();

// Writes the text to standard output, at once unless gatherReport() was called: then texts are gathered
// and written in blocks of up to 64 KiB; a block goes out with the first text that comes a second or more
// after the previous block. Gathered text is out once flushReport()
// returns, as soon as a signal has asked the run to stop, and before a second signal ends the process. A write that fails is
// noted as an interruption, with its cause; later writes are not attempted.
void writeReport(std::string_view text);

// From now on writeReport gathers its texts: for a report read by a program or kept in a file, where a
// write call per row costs more than the row.
void gatherReport();

// Writes out what writeReport has gathered; a failure is noted as writeReport's are.
void flushReport();

// Whether a signal or a failed write asks the run to stop.
bool interruptionRequested();

// 128 + the signal's number for a signal, and for a closed output pipe (as SIGPIPE would); 1 when the
// report failed otherwise. Absent while nothing asked the run to stop.
std::optional<int> interruptionExitStatus();

// The line that says why the run stopped and how far it got, for standard error: "corvane-cli:
// interrupted by SIGINT after 3 of 10 files", "corvane-cli: cannot write the report (No space left on
// device): stopped after 3 of 10 files". Empty while nothing asked the run to stop.
std::string interruptionMessage(size_t processed, int64_t total);

}  // namespace corvane::cli
