// SPDX-License-Identifier: GPL-3.0-or-later
// corvane-bench-measure: runs one command and reports what it cost: wall-clock seconds, user and system
// CPU seconds, peak resident memory, and the bytes it read (read_bytes: fetched from the disk; rchar:
// passed through read calls, whether cached or not; both from /proc/PID/io, which also counts the
// children the command has waited for). The counters are read once the command has ended but before
// it is reaped (waitid with WNOWAIT), when they are final and the process still exists.
//
//   corvane-bench-measure [--limit SECONDS] REPORT -- COMMAND [ARG...]
//
// REPORT gets one line: "status wall user system peak_kb read_bytes rchar". status is the exit status,
// 128 + the signal's number, or "limit" when the command ran longer than SECONDS and was stopped (it
// and everything it started, as one process group). The wrapper's own exit status is 0 when it could
// measure, whatever the command's.

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

double now() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: corvane-bench-measure [--limit SECONDS] REPORT -- COMMAND [ARG...]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    double limit = 0;
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "--limit") == 0) {
        limit = std::atof(argv[i + 1]);
        i += 2;
    }
    if (i + 2 >= argc || std::strcmp(argv[i + 1], "--") != 0) usage();
    const char* report = argv[i];
    char** command = argv + i + 2;

    const double start = now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("corvane-bench-measure: fork");
        return 1;
    }
    if (child == 0) {
        ::setpgid(0, 0);  // a group of its own, so that a stopped command takes its children along
        ::execvp(command[0], command);
        std::fprintf(stderr, "corvane-bench-measure: cannot run %s: %s\n", command[0], std::strerror(errno));
        ::_exit(127);
    }
    ::setpgid(child, child);

    bool stopped = false;
    if (limit > 0) {
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
        if (pidfd < 0) {
            std::perror("corvane-bench-measure: pidfd_open");
            return 1;
        }
        pollfd waiting{pidfd, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(limit * 1000)) == 0) {
            ::kill(-child, SIGKILL);
            stopped = true;
        }
        ::close(pidfd);
    }
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) != 0) {
        if (errno != EINTR) {
            std::perror("corvane-bench-measure: waitid");
            return 1;
        }
    }
    const double wall = now() - start;
    long long readBytes = -1, rchar = -1;
    {
        std::ifstream io("/proc/" + std::to_string(child) + "/io");
        std::string key;
        long long value = 0;
        while (io >> key >> value) {
            if (key == "read_bytes:") readBytes = value;
            else if (key == "rchar:") rchar = value;
        }
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child) {
        std::perror("corvane-bench-measure: wait4");
        return 1;
    }
    std::string result = stopped             ? "limit"
                         : WIFEXITED(status) ? std::to_string(WEXITSTATUS(status))
                                             : std::to_string(128 + WTERMSIG(status));
    FILE* out = std::fopen(report, "w");
    if (!out) {
        std::perror("corvane-bench-measure: report");
        return 1;
    }
    std::fprintf(out, "%s %.3f %.3f %.3f %ld %lld %lld\n", result.c_str(), wall, seconds(usage.ru_utime),
                 seconds(usage.ru_stime), usage.ru_maxrss, readBytes, rchar);
    std::fclose(out);
    return 0;
}
