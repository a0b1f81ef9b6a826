#include "tests/support/run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace linograf::test {

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input) {
    CommandResult result;
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0) return result;
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return result;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) return result;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) {
        close(in_pipe[1]);
        close(out_pipe[0]);
        close(err_pipe[0]);
        result.errors = "cannot start " + argv[0];
        return result;
    }

    std::size_t written = 0;
    int in_fd = in_pipe[1];
    if (input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    int open_outputs = 2;
    char buffer[65536];
    while (open_outputs > 0 || in_fd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (out_pipe[0] >= 0) fds[n++] = {out_pipe[0], POLLIN, 0};
        if (err_pipe[0] >= 0) fds[n++] = {err_pipe[0], POLLIN, 0};
        if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == in_fd) {
                ssize_t w = write(in_fd, input.data() + written, input.size() - written);
                if (w > 0) written += static_cast<std::size_t>(w);
                if (w < 0 || written == input.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            ssize_t r = read(fds[i].fd, buffer, sizeof buffer);
            if (r > 0) {
                (fds[i].fd == out_pipe[0] ? result.output : result.errors).append(buffer, r);
            } else if (r == 0 || errno != EINTR) {
                close(fds[i].fd);
                (fds[i].fd == out_pipe[0] ? out_pipe[0] : err_pipe[0]) = -1;
                --open_outputs;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

CommandResult RunPython(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {kPython, "-c", script};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv);
}

bool PythonHasModule(const std::string& module) {
    return RunCommand({kPython, "-c", "import " + module}).exit_code == 0;
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

}  // namespace linograf::test
