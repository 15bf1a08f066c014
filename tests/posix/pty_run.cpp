#include "pty_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

extern char **environ;

namespace {

long now_ms() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

[[noreturn]] void exec_child(const pty_options &options, int out_fd, int err_fd) {
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) _exit(126);
    std::vector<char *> argv;
    for (const std::string &a : options.argv) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> env;
    for (const std::string &e : options.environment) env.push_back(const_cast<char *>(e.c_str()));
    env.push_back(nullptr);
    execve(argv[0], argv.data(), env.data());
    _exit(127);
}

void drain(int fd, std::string &into) {
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
            continue;
        }
        return;
    }
}

}  // namespace

pty_result run_on_pty(const pty_options &options) {
    pty_result result;
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return result;

    int master = -1;
    pid_t child;
    if (options.with_terminal) {
        struct termios raw;
        memset(&raw, 0, sizeof raw);
        cfmakeraw(&raw);
        if (options.signals) raw.c_lflag |= ISIG;
        raw.c_cc[VINTR] = 3;
        raw.c_cc[VMIN] = 1;
        child = forkpty(&master, nullptr, &raw, nullptr);
        if (child == 0) {
            // Standard input stays the terminal; output and error go to pipes.
            exec_child(options, out_pipe[1], err_pipe[1]);
        }
    } else {
        child = fork();
        if (child == 0) {
            setsid();  // a new session: no controlling terminal
            int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, 0);
            exec_child(options, out_pipe[1], err_pipe[1]);
        }
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (child < 0) return result;
    fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
    fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);
    if (master >= 0) fcntl(master, F_SETFL, O_NONBLOCK);

    long deadline = now_ms() + options.timeout_ms;
    bool typed = false;
    int status = 0;
    for (;;) {
        struct pollfd fds[3] = {{master, POLLIN, 0}, {out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
        poll(fds, 3, 20);
        if (master >= 0) drain(master, result.terminal);
        drain(out_pipe[0], result.out);
        drain(err_pipe[0], result.err);
        if (!typed && options.type_when) {
            std::string keys = options.type_when(result.terminal);
            if (!keys.empty()) {
                typed = true;
                if (write(master, keys.data(), keys.size()) < 0) {
                }
            }
        }
        if (options.stop_when && options.stop_when(result.terminal)) kill(child, SIGKILL);
        if (now_ms() > deadline) {
            result.timed_out = true;
            kill(child, SIGKILL);
        }
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
    }
    // What was written before the end is still in the terminal and the pipes.
    if (master >= 0) {
        drain(master, result.terminal);
        close(master);
    }
    drain(out_pipe[0], result.out);
    drain(err_pipe[0], result.err);
    close(out_pipe[0]);
    close(err_pipe[0]);
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

std::vector<std::string> environment_with(const std::vector<std::string> &overrides) {
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; e++) env.push_back(*e);
    for (const std::string &o : overrides) {
        std::string name = o.substr(0, o.find('='));
        std::vector<std::string> kept;
        for (const std::string &e : env) {
            std::string entry_name = e.substr(0, e.find('='));
            if (strcasecmp(entry_name.c_str(), name.c_str()) != 0) kept.push_back(e);
        }
        env = kept;
        if (o.find('=') != std::string::npos) env.push_back(o);
    }
    return env;
}

std::string mask_stamps(const std::string &text) {
    static const std::regex stamp(R"(\[\d\d/\d\d/\d\d @ \d\d:\d\d\])");
    return std::regex_replace(text, stamp, "[stamp]");
}

std::string make_temp_directory() {
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/srvwarden-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) return "";
    return buffer.data();
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

std::string read_file(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

void remove_tree(const std::string &path) {
    if (path.empty() || path == "/") return;
    std::string command = "rm -rf '" + path + "'";
    if (system(command.c_str()) != 0) {
    }
}
