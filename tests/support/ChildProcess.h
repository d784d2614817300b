// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs a program (the built corvane-cli, xmllint, ...) as a real child process: in a working folder of
// the caller's choice, with a home, settings and state folder of the test's own so that no run reads or
// writes the user's folder grants or undo journals, and with its output captured or thrown away.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace corvane::test {

struct ProcessResult {
    int exitCode = -1;      // the exit status, or -1 when the process did not exit by itself
    int signal = 0;         // the signal that ended it, when one did
    bool timedOut = false;  // it was killed for running past the time limit
    std::string out, err;
};

// Starts the program with HOME at `home` and XDG_CONFIG_HOME and XDG_STATE_HOME below it (set in this
// process's environment, which the child inherits), in `workDir` (empty: this process's working folder);
// its output goes to `outFd`/`errFd` (or /dev/null), its input is /dev/null.
inline pid_t spawnChild(std::vector<std::string> arguments, const std::filesystem::path& home,
                        const std::filesystem::path& workDir = {}, int outFd = -1, int errFd = -1) {
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    for (const auto& [fd, target] : {std::pair{outFd, STDOUT_FILENO}, std::pair{errFd, STDERR_FILENO}}) {
        if (fd >= 0) posix_spawn_file_actions_adddup2(&actions, fd, target);
        else posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_WRONLY, 0);
    }
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + arguments[0] + ": error " + std::to_string(error));
    return pid;
}

// The program's arguments preceded by strace's, with `options` (-e inject=..., -P PATH) to make its system
// calls fail, or signals arrive, when the test says. LeakSanitizer cannot work under ptrace: it is off there.
inline std::vector<std::string> underStrace(std::vector<std::string> options, const std::vector<std::string>& program) {
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    options.insert(options.begin(), {"/usr/bin/env", std::string("ASAN_OPTIONS=") + (sanitizer ? sanitizer : "") + ":detect_leaks=0",
                                     "/usr/bin/strace", "-f", "-qq", "-o", "/dev/null"});
    options.insert(options.end(), program.begin(), program.end());
    return options;
}

// A program started with its output going to memory files, read once it has ended, so that no pipe
// can fill up and stall it; `outFd` replaces standard output's (a pipe, /dev/full).
struct RunningProgram {
    pid_t pid = -1;
    int out = -1, err = -1;
};

inline RunningProgram startProgram(const std::vector<std::string>& arguments, const std::filesystem::path& home,
                                   const std::filesystem::path& workDir = {}, int outFd = -1) {
    const int out = ::memfd_create("stdout", MFD_CLOEXEC), err = ::memfd_create("stderr", MFD_CLOEXEC);
    return {spawnChild(arguments, home, workDir, outFd >= 0 ? outFd : out, err), out, err};
}

// Waits for the program to end, or kills it after `limit`, and collects its output.
inline ProcessResult finishProgram(const RunningProgram& program, std::chrono::seconds limit = std::chrono::seconds(120)) {
    ProcessResult result;
    int status = 0;
    for (const auto deadline = std::chrono::steady_clock::now() + limit; ::waitpid(program.pid, &status, WNOHANG) == 0;) {
        if ((result.timedOut = std::chrono::steady_clock::now() > deadline)) ::kill(program.pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (WIFEXITED(status) && !result.timedOut) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    for (const auto& [fd, text] : {std::pair{program.out, &result.out}, std::pair{program.err, &result.err}}) {
        char buffer[65536];
        for (ssize_t count; (count = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text->size()))) > 0;)
            text->append(buffer, static_cast<size_t>(count));
        ::close(fd);
    }
    return result;
}

// Runs the program to its end, or kills it after `limit`.
inline ProcessResult runProgram(const std::vector<std::string>& arguments, const std::filesystem::path& home,
                                const std::filesystem::path& workDir = {}, std::chrono::seconds limit = std::chrono::seconds(120),
                                int outFd = -1) {
    return finishProgram(startProgram(arguments, home, workDir, outFd), limit);
}

}  // namespace corvane::test
