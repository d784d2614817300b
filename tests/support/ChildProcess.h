#pragma once

// Runs a program (the built corvane-cli, xmllint, ...) as a real child process: in a working folder of
// the caller's choice, with a home and settings folder of the test's own so that no run reads or writes
// the user's folder grants, and with its output captured or thrown away.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace corvane::test {

struct ProcessResult {
    int exitCode = -1;      // the exit status, or -1 when the process did not exit by itself
    bool timedOut = false;  // it was killed for running past the time limit
    std::string out;
    std::string err;
};

// Starts the program with HOME at `home` (XDG_CONFIG_HOME below it), in `workDir` (empty: this process's
// working folder); its output goes to `outFd`/`errFd` (or /dev/null), its input is /dev/null.
inline pid_t spawnChild(std::vector<std::string> arguments, const std::filesystem::path& home,
                        const std::filesystem::path& workDir = {}, int outFd = -1, int errFd = -1) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (!std::string_view(*entry).starts_with("HOME=") && !std::string_view(*entry).starts_with("XDG_CONFIG_HOME="))
            environment.emplace_back(*entry);
    environment.push_back("HOME=" + home.string());
    environment.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
    auto pointers = [](std::vector<std::string>& texts) {
        std::vector<char*> out;
        for (std::string& text : texts) out.push_back(text.data());
        out.push_back(nullptr);
        return out;
    };
    auto argv = pointers(arguments);
    auto envp = pointers(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    for (const auto& [fd, target] : {std::pair{outFd, STDOUT_FILENO}, std::pair{errFd, STDERR_FILENO}}) {
        if (fd >= 0) posix_spawn_file_actions_adddup2(&actions, fd, target);
        else posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_WRONLY, 0);
    }
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(error));
    return pid;
}

// Runs the program to its end, or kills it after `limit`.
inline ProcessResult runProgram(const std::vector<std::string>& arguments, const std::filesystem::path& home,
                                const std::filesystem::path& workDir = {}, std::chrono::seconds limit = std::chrono::seconds(120)) {
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const pid_t pid = spawnChild(arguments, home, workDir, outPipe[1], errPipe[1]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    for (int open = 2; open > 0 && !result.timedOut;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        result.timedOut = left.count() <= 0 || ::poll(fds, 2, static_cast<int>(left.count())) == 0;
        for (int i = 0; i < 2 && !result.timedOut; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            char buffer[65536];
            const ssize_t count = ::read(fds[i].fd, buffer, sizeof buffer);
            if (count > 0) sinks[i]->append(buffer, static_cast<size_t>(count));
            else if (count == 0 || errno != EINTR) fds[i].fd = (::close(fds[i].fd), -1), --open;
        }
    }
    if (result.timedOut) ::kill(pid, SIGKILL);
    for (const pollfd& fd : fds)
        if (fd.fd >= 0) ::close(fd.fd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

inline std::string cliPath() { return CORVANE_CLI_PATH; }

}  // namespace corvane::test
