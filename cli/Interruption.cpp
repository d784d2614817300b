// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Interruption.h"

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace corvane::cli {
namespace {

volatile std::sig_atomic_t caughtSignal = 0;
std::atomic<int> reportError{0};  // errno of the first failed write of standard output

constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Runs with the three stop signals blocked, so a second one waits for it to return.
void noteSignal(int number) {
    if (caughtSignal != 0) {
        // The second: its default action, at once. Raised while blocked, it ends the process as
        // soon as this handler returns.
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
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        const int error = errno;
        reportError = error != 0 ? error : EIO;
    }
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
