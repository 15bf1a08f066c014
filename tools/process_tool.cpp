// process.exe: lists and ends processes on Linux, for srvwarden.
//
//   process.exe          writes the process table to standard output
//   process.exe -k PID   ends process PID: SIGTERM, then SIGKILL after a grace period
//
// The table: a header line, then one row per running process, in the order
// of the process identifiers. Every column is ended by a space and every
// line by "\r\n", as in the Windows tools srvwarden was written for:
//
//   Image-Name PID Priority CPU-Time CPU% Mem(KiB) \r\n
//   map-server.exe 812 Normal 0:00:05 73 5120 \r\n
//
// CPU% is the usage over a sampling window, in percent of one core.
//
// Environment:
//   SRVWARDEN_SAMPLE_MS      the sampling window in milliseconds (10..60000, default 1000)
//   SRVWARDEN_KILL_GRACE_MS  how long -k waits after SIGTERM (0..60000, default 3000)
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "proc_parse.h"

namespace {

const char header[] = "Image-Name PID Priority CPU-Time CPU% Mem(KiB) \r\n";

// How long -k waits for the process to go after SIGKILL.
const long after_kill_ms = 2000;

void say(const std::string &text) {
    if (fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    }
}

void complain(const std::string &message) {
    std::string line = "process.exe: " + message + "\n";
    if (write(2, line.data(), line.size()) < 0) {
    }
}

// Reads a setting in milliseconds from the environment. Returns false after
// saying what is wrong.
bool setting_ms(const char *name, long long low, long long high, long long *value) {
    const char *text = getenv(name);
    if (text == nullptr) return true;
    if (parse_decimal(text, low, high, value)) return true;
    complain(std::string(name) + " must be a whole number of milliseconds from " + std::to_string(low) + " to " +
             std::to_string(high) + ", not '" + text + "'");
    return false;
}

// The whole content of a small /proc file, or false when it cannot be read
// (most often: the process has gone).
bool read_whole(const std::string &path, std::string *content) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    content->clear();
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            close(fd);
            return false;
        }
        if (got == 0) break;
        content->append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return true;
}

bool read_stat(long long pid, proc_stat *stat) {
    std::string text;
    return read_whole("/proc/" + std::to_string(pid) + "/stat", &text) &&
           parse_proc_stat(text.data(), text.size(), stat);
}

// A zombie has ended and only waits to be reaped: it is not running.
bool is_running(const proc_stat &stat) { return stat.state != 'Z' && stat.state != 'X'; }

long long monotonic_ns() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void sleep_ms(long long milliseconds) {
    struct timespec rest;
    rest.tv_sec = static_cast<time_t>(milliseconds / 1000);
    rest.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

// The identifiers of every process now, in ascending order; false when /proc
// cannot be read.
bool list_pids(std::vector<long long> *pids) {
    DIR *proc = opendir("/proc");
    if (proc == nullptr) return false;
    while (struct dirent *entry = readdir(proc)) {
        long long pid;
        if (parse_decimal(entry->d_name, 1, LLONG_MAX, &pid)) pids->push_back(pid);
    }
    closedir(proc);
    std::map<long long, bool> sorted;
    for (long long pid : *pids) sorted[pid] = true;
    pids->clear();
    for (const auto &entry : sorted) pids->push_back(entry.first);
    return true;
}

struct sample {
    unsigned long long starttime;
    unsigned long long ticks;
};

int list_processes() {
    long long window_ms = 1000;
    if (!setting_ms("SRVWARDEN_SAMPLE_MS", 10, 60000, &window_ms)) return 2;
    long ticks_per_second = sysconf(_SC_CLK_TCK);
    long page_kib = sysconf(_SC_PAGESIZE) / 1024;

    // Usage is the CPU time a process spends between two looks, one window
    // apart. A process that vanishes between them is simply left out.
    std::vector<long long> pids;
    if (!list_pids(&pids)) {
        complain(std::string("cannot read /proc: ") + strerror(errno));
        return 1;
    }
    std::map<long long, sample> before;
    for (long long pid : pids) {
        proc_stat stat;
        if (read_stat(pid, &stat)) before[pid] = {stat.starttime, stat.utime + stat.stime};
    }
    long long first_look = monotonic_ns();
    sleep_ms(window_ms);

    pids.clear();
    if (!list_pids(&pids)) {
        complain(std::string("cannot read /proc: ") + strerror(errno));
        return 1;
    }
    long long elapsed = monotonic_ns() - first_look;
    struct timespec boot;
    clock_gettime(CLOCK_BOOTTIME, &boot);
    unsigned long long now_ticks = static_cast<unsigned long long>(boot.tv_sec) * static_cast<unsigned long long>(ticks_per_second) +
                                   static_cast<unsigned long long>(boot.tv_nsec) / (1000000000ull / static_cast<unsigned long long>(ticks_per_second));

    std::string table = header;
    for (long long pid : pids) {
        proc_stat stat;
        if (!read_stat(pid, &stat) || !is_running(stat)) continue;
        unsigned long long ticks = stat.utime + stat.stime;
        long long usage;
        auto earlier = before.find(pid);
        if (earlier != before.end() && earlier->second.starttime == stat.starttime) {
            usage = cpu_percent(ticks >= earlier->second.ticks ? ticks - earlier->second.ticks : 0,
                                static_cast<unsigned long long>(elapsed), ticks_per_second);
        } else {
            // Started within the window (or a new process under a reused
            // identifier): its usage over its life so far.
            unsigned long long age = now_ticks > stat.starttime ? now_ticks - stat.starttime : 0;
            usage = cpu_percent(ticks, age * (1000000000ull / static_cast<unsigned long long>(ticks_per_second)),
                                ticks_per_second);
        }

        std::string base = "/proc/" + std::to_string(pid);
        std::string exe_link, cmdline;
        if (stat.comm.size() == 15) {
            char target[PATH_MAX];
            ssize_t length = readlink((base + "/exe").c_str(), target, sizeof target);
            if (length > 0) exe_link.assign(target, static_cast<size_t>(length));
            if (read_whole(base + "/cmdline", &cmdline)) cmdline = first_argument(cmdline.data(), cmdline.size());
        }
        table += image_name(stat.comm, exe_link, cmdline) + " " + std::to_string(pid) + " " +
                 priority_class(stat.nice, stat.policy) + " " + format_cpu_time(ticks, ticks_per_second) + " " +
                 std::to_string(usage) + " " + std::to_string(stat.rss * page_kib) + " \r\n";
    }
    say(table);
    if (fflush(stdout) != 0) {
        complain(std::string("cannot write the table: ") + strerror(errno));
        return 1;
    }
    return 0;
}

// Whether the process that had `starttime` is still running; a new process
// under the same identifier does not count.
bool still_there(long long pid, unsigned long long starttime) {
    proc_stat stat;
    return read_stat(pid, &stat) && is_running(stat) && stat.starttime == starttime;
}

bool gone_within(long long pid, unsigned long long starttime, long long milliseconds) {
    long long deadline = monotonic_ns() + milliseconds * 1000000LL;
    for (;;) {
        if (!still_there(pid, starttime)) return true;
        if (monotonic_ns() >= deadline) return false;
        sleep_ms(10);
    }
}

int end_process(const std::string &text) {
    long long grace_ms = 3000;
    if (!setting_ms("SRVWARDEN_KILL_GRACE_MS", 0, 60000, &grace_ms)) return 2;

    long long pid;
    if (!parse_decimal(text, 0, INT_MAX, &pid)) {
        say("'" + text + "' is not a process identifier.\r\n");
        return 2;
    }
    std::string name = "Process " + std::to_string(pid);
    // 0 would signal our own process group, and 1 is the system's init.
    if (pid == 0 || pid == 1 || pid == getpid()) {
        say("Refusing to end process " + std::to_string(pid) + ".\r\n");
        return 2;
    }
    proc_stat stat;
    if (!read_stat(pid, &stat) || !is_running(stat)) {
        say(name + " is not running.\r\n");
        return 0;
    }
    pid_t target = static_cast<pid_t>(pid);
    if (kill(target, SIGTERM) != 0) {
        if (errno == ESRCH) {
            say(name + " is not running.\r\n");
            return 0;
        }
        say(name + " could not be ended: " + strerror(errno) + ".\r\n");
        return 1;
    }
    if (gone_within(pid, stat.starttime, grace_ms)) {
        say(name + " ended after SIGTERM.\r\n");
        return 0;
    }
    if (kill(target, SIGKILL) != 0 && errno != ESRCH) {
        say(name + " could not be ended: " + strerror(errno) + ".\r\n");
        return 1;
    }
    if (gone_within(pid, stat.starttime, after_kill_ms)) {
        say(name + " did not end within " + std::to_string(grace_ms) + " ms of SIGTERM and was killed with SIGKILL.\r\n");
        return 0;
    }
    say(name + " could not be ended: it is still running after SIGKILL.\r\n");
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 1) return list_processes();
    if (argc == 3 && strcmp(argv[1], "-k") == 0) {
        int status = end_process(argv[2]);
        fflush(stdout);
        return status;
    }
    complain("usage: process.exe [-k PID]");
    return 2;
}
