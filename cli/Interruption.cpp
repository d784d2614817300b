// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Interruption.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace corvane::cli {
namespace {

volatile std::sig_atomic_t caughtSignal = 0;
std::atomic<int> reportError{0};  // errno of the first failed write of standard output

// The gathered report: filled by the thread that drives the run, written out by it, or by the signal
// handler just before a second signal ends the process. Whichever of the two takes `writingOut` first
// writes the gathered bytes, so no row is written twice.
constexpr size_t gatheredCapacity = 64 * 1024;
char gathered[gatheredCapacity];
std::atomic<size_t> gatheredSize{0};
std::atomic<bool> writingOut{false};
bool gathering = false;
std::chrono::steady_clock::time_point lastWrittenOut;  // when gathered rows last went out
// A row that comes this long after the last block goes out with the rows gathered since: a reader of the
// report sees the run advance, and one that has gone away is noticed.
constexpr auto gatheringPeriod = std::chrono::seconds(1);

// Writes all of it to standard output; 0, or the errno of the failure. Async-signal-safe.
int writeOut(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t count = ::write(STDOUT_FILENO, data, size);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return count < 0 ? errno : EIO;
        data += count;
        size -= static_cast<size_t>(count);
    }
    return 0;
}

constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Runs with the three stop signals blocked, so a second one waits for it to return.
void noteSignal(int number) {
    if (caughtSignal != 0) {
        // The second: its default action, at once. Raised while blocked, it ends the process as
        // soon as this handler returns; the rows gathered so far go out first.
        const int savedErrno = errno;
        if (!writingOut.exchange(true)) (void)writeOut(gathered, gatheredSize.load());
        errno = savedErrno;
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    caughtSignal = number;
}

std::string signalName(int number) {
    const char* abbreviation = ::sigabbrev_np(number);
    return abbreviation ? std::string("SIG") + abbreviation : "signal " + std::to_string(number);
}

}  // namespace

void catchInterruptions() {
    struct sigaction action {};
    action.sa_handler = noteSignal;
    // Interrupted system calls resume: a signal must not turn a read or a write into a failure.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : stopSignals) sigaddset(&action.sa_mask, number);
    for (int number : stopSignals) ::sigaction(number, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void writeReport(std::string_view text) {
    if (reportError != 0) return;
    if (!gathering) {
        if (const int error = writeOut(text.data(), text.size()); error != 0) reportError = error;
        return;
    }
    if (gatheredSize.load() + text.size() > gatheredCapacity) flushReport();
    if (reportError != 0) return;
    if (text.size() > gatheredCapacity) {
        if (const int error = writeOut(text.data(), text.size()); error != 0) reportError = error;
    } else {
        const size_t size = gatheredSize.load();
        std::memcpy(gathered + size, text.data(), text.size());
        gatheredSize.store(size + text.size());  // only now may the signal handler write these bytes
    }
    if (caughtSignal != 0 || std::chrono::steady_clock::now() - lastWrittenOut >= gatheringPeriod) flushReport();
}

void gatherReport() {
    gathering = true;
    lastWrittenOut = std::chrono::steady_clock::now();
}

void flushReport() {
    const size_t size = gatheredSize.load();
    if (size == 0) return;
    // Taken by the signal handler: the process is ending, and the handler writes these rows out.
    if (writingOut.exchange(true)) return;
    if (reportError == 0) {
        if (const int error = writeOut(gathered, size); error != 0) reportError = error;
    }
    gatheredSize.store(0);
    writingOut.store(false);
    lastWrittenOut = std::chrono::steady_clock::now();
}

bool interruptionRequested() { return caughtSignal != 0 || reportError != 0; }

std::optional<int> interruptionExitStatus() {
    if (caughtSignal != 0) return 128 + caughtSignal;
    if (reportError == EPIPE) return 128 + SIGPIPE;
    if (reportError != 0) return 1;
    return std::nullopt;
}

std::string interruptionMessage(size_t processed, int64_t total) {
    const std::string progress = " after " + std::to_string(processed) + " of " + std::to_string(total) + " files";
    if (caughtSignal != 0) return "corvane-cli: interrupted by " + signalName(caughtSignal) + progress;
    if (reportError == EPIPE) return "corvane-cli: the report's reader has gone: stopped" + progress;
    if (reportError != 0) return "corvane-cli: cannot write the report (" + std::string(std::strerror(reportError)) + "): stopped" + progress;
    return {};
}

}  // namespace corvane::cli
