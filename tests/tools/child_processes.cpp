#include "child_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

void become_subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1); }

pid_t start_program(const std::vector<std::string> &argv, const std::string &directory, int nice_value) {
    pid_t child = fork();
    if (child == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
        if (nice_value != 0) setpriority(PRIO_PROCESS, 0, nice_value);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return child;
}

pid_t start_child(const std::function<void()> &body) {
    pid_t child = fork();
    if (child == 0) {
        body();
        _exit(0);
    }
    return child;
}

static std::vector<pid_t> children_of(pid_t parent) {
    std::vector<pid_t> children;
    DIR *proc = opendir("/proc");
    if (proc == nullptr) return children;
    while (struct dirent *entry = readdir(proc)) {
        long long pid;
        proc_stat stat;
        if (parse_decimal(entry->d_name, 1, INT_MAX, &pid) && stat_of(static_cast<pid_t>(pid), &stat) &&
            stat.ppid == parent)
            children.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return children;
}

void stop_all_children() {
    wait_until(
        [] {
            for (pid_t child : children_of(getpid())) kill(child, SIGKILL);
            while (waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            return children_of(getpid()).empty();
        },
        5000);
}

bool stat_of(pid_t pid, proc_stat *stat) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::stringstream content;
    content << file.rdbuf();
    std::string text = content.str();
    return !text.empty() && parse_proc_stat(text.data(), text.size(), stat);
}

bool is_running(pid_t pid) {
    proc_stat stat;
    return stat_of(pid, &stat) && stat.state != 'Z' && stat.state != 'X';
}

std::vector<pid_t> processes_running_from(const std::string &directory) {
    std::vector<pid_t> found;
    DIR *proc = opendir("/proc");
    if (proc == nullptr) return found;
    std::string prefix = directory + "/";
    while (struct dirent *entry = readdir(proc)) {
        long long pid;
        if (!parse_decimal(entry->d_name, 1, INT_MAX, &pid)) continue;
        char target[PATH_MAX];
        ssize_t length = readlink(("/proc/" + std::string(entry->d_name) + "/exe").c_str(), target, sizeof target);
        if (length <= 0 || std::string(target, static_cast<size_t>(length)).compare(0, prefix.size(), prefix) != 0)
            continue;
        if (is_running(static_cast<pid_t>(pid))) found.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return found;
}

bool wait_until(const std::function<bool()> &condition, int timeout_ms) {
    for (int waited = 0;; waited += 10) {
        if (condition()) return true;
        if (waited >= timeout_ms) return false;
        struct timespec pause = {0, 10 * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

void write_executable(const std::string &path, const std::string &content) {
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << content;
    }
    chmod(path.c_str(), 0755);
}

void copy_program(const std::string &from, const std::string &to) {
    std::ifstream source(from, std::ios::binary);
    std::stringstream content;
    content << source.rdbuf();
    write_executable(to, content.str());
}
