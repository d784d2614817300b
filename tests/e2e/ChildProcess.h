#pragma once

// Runs the built corvane-cli (or any program) as a real child process for the end-to-end suites: with
// its output captured, a time limit, and a settings folder of the test's own so that no run reads or
// writes the user's folder grants.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace corvane::test {

inline std::string cliPath() { return CORVANE_CLI_PATH; }

struct ProcessResult {
    int exitCode = -1;       // the exit status, or -1 when the process ended by a signal
    int signal = 0;          // the signal that ended it, 0 when it exited
    bool timedOut = false;   // it was killed for running past the time limit
    std::string out;
    std::string err;
};

// The environment of a child: this process's own, with XDG_CONFIG_HOME and HOME pointing at `home`.
class ChildEnvironment {
public:
    explicit ChildEnvironment(const std::filesystem::path& home) {
        for (char** entry = environ; *entry; ++entry) {
            const std::string_view text(*entry);
            if (text.starts_with("XDG_CONFIG_HOME=") || text.starts_with("HOME=")) continue;
            texts_.emplace_back(text);
        }
        texts_.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
        texts_.push_back("HOME=" + home.string());
        for (std::string& text : texts_) pointers_.push_back(text.data());
        pointers_.push_back(nullptr);
    }
    char** get() { return pointers_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

inline std::vector<char*> argumentPointers(std::vector<std::string>& arguments) {
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts the program with standard output and error thrown away; returns its pid.
inline pid_t spawnQuietly(std::vector<std::string> arguments, ChildEnvironment& environment) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    auto argv = argumentPointers(arguments);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environment.get());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(error));
    return pid;
}

inline void recordStatus(int status, ProcessResult& result) {
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

// Runs the program to its end (or kills it after `limit`), capturing both output streams.
inline ProcessResult runProgram(std::vector<std::string> arguments, const std::filesystem::path& home,
                                std::chrono::seconds limit = std::chrono::seconds(120)) {
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ChildEnvironment environment(home);
    auto argv = argumentPointers(arguments);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environment.get());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (error != 0) throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(error));

    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ::kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[65536];
            const ssize_t count = ::read(fds[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds)
        if (fd.fd >= 0) ::close(fd.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    recordStatus(status, result);
    return result;
}

// corvane-cli with the given arguments.
inline ProcessResult runCli(const std::vector<std::string>& arguments, const std::filesystem::path& home,
                            std::chrono::seconds limit = std::chrono::seconds(120)) {
    std::vector<std::string> all{cliPath()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runProgram(std::move(all), home, limit);
}

}  // namespace corvane::test
