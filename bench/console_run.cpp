// Runs a program on a console of its own (a new pseudo-terminal, which
// becomes its controlling terminal), keeps that console drained into a log
// file, and reports what the program cost once it is stopped.
//
//   console_run --log FILE [--until TEXT --count N] --seconds S -- program [argument ...]
//
// The program is stopped (SIGTERM, then SIGKILL after two seconds) when TEXT
// has appeared N times on its console, or when S seconds have passed,
// whichever comes first. Just before that it is measured from /proc, and its
// ended child's accounting adds what the children it waited for used.
// Prints one line:
//   marks=M wall_s=W peak_rss_kib=R self_cpu_ms=C children_cpu_ms=D
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace {

double monotonic_seconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

std::string read_text(const std::string &path) {
    std::string text;
    FILE *file = fopen(path.c_str(), "re");
    if (file == nullptr) return text;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
    fclose(file);
    return text;
}

// Peak resident set ("VmHWM") in KiB, or -1.
long peak_rss_kib(pid_t pid) {
    std::string status = read_text("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("VmHWM:");
    return at == std::string::npos ? -1 : atol(status.c_str() + at + 6);
}

// The process's own time on a CPU, in nanoseconds, as the scheduler counts
// it: exact, where /proc/PID/stat has only clock ticks. -1 when unknown.
double own_cpu_ns(pid_t pid) {
    std::string schedstat = read_text("/proc/" + std::to_string(pid) + "/schedstat");
    return schedstat.empty() ? -1 : atof(schedstat.c_str());
}

double seconds_of(const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

void usage() {
    fprintf(stderr,
            "usage: console_run --log FILE [--until TEXT --count N] --seconds S -- program [argument ...]\n");
    exit(2);
}

}  // namespace

int main(int argc, char **argv) {
    const char *log_path = nullptr;
    std::string until;
    long count = 0;
    double seconds = 0;
    int first = 1;
    for (; first < argc; first++) {
        std::string option = argv[first];
        if (option == "--") {
            first++;
            break;
        }
        if (first + 1 >= argc) usage();
        if (option == "--log") log_path = argv[++first];
        else if (option == "--until") until = argv[++first];
        else if (option == "--count") count = atol(argv[++first]);
        else if (option == "--seconds") seconds = atof(argv[++first]);
        else usage();
    }
    if (log_path == nullptr || seconds <= 0 || first >= argc || until.empty() != (count == 0)) usage();

    FILE *log = fopen(log_path, "we");
    if (log == nullptr) {
        perror(log_path);
        return 1;
    }

    const pid_t runner = getpid();
    const double started = monotonic_seconds();
    int console;
    pid_t child = forkpty(&console, nullptr, nullptr, nullptr);
    if (child < 0) {
        perror("forkpty");
        return 1;
    }
    if (child == 0) {
        // Should the runner die, the program goes with it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != runner) _exit(127);
        execvp(argv[first], argv + first);
        perror(argv[first]);
        _exit(127);
    }

    std::string output;
    long marks = 0;
    size_t searched = 0;
    bool ended_early = false;
    while (count == 0 || marks < count) {
        double left = seconds - (monotonic_seconds() - started);
        if (left <= 0) break;
        pollfd wait_for = {console, POLLIN, 0};
        int ready = poll(&wait_for, 1, static_cast<int>(left * 1000) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[4096];
        ssize_t got = read(console, buffer, sizeof buffer);
        if (got <= 0) {
            ended_early = true;  // the console closed: the program has ended
            break;
        }
        fwrite(buffer, 1, static_cast<size_t>(got), log);
        output.append(buffer, static_cast<size_t>(got));
        if (!until.empty()) {
            size_t at;
            while ((at = output.find(until, searched)) != std::string::npos) {
                marks++;
                searched = at + until.size();
            }
            // Keep only what a mark split over two reads still needs.
            if (output.size() > until.size() && searched < output.size() - until.size())
                searched = output.size() - until.size();
            output.erase(0, searched);
            searched = 0;
        }
    }
    const double wall = monotonic_seconds() - started;

    long peak = peak_rss_kib(child);
    double own_ns = own_cpu_ns(child);
    kill(child, SIGTERM);
    int status = 0;
    rusage usage;
    double deadline = monotonic_seconds() + 2;
    pid_t waited;
    while ((waited = wait4(child, &status, WNOHANG, &usage)) == 0) {
        if (monotonic_seconds() > deadline) kill(child, SIGKILL);
        // Keep the console drained so the program cannot block on it.
        char buffer[4096];
        pollfd wait_for = {console, POLLIN, 0};
        if (poll(&wait_for, 1, 10) > 0 && read(console, buffer, sizeof buffer) > 0) {
        }
    }
    fclose(log);
    close(console);
    if (waited < 0 || ended_early) {
        fprintf(stderr, "console_run: %s ended on its own (status %d)\n", argv[first], status);
        return 1;
    }
    double total_ms = (seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime)) * 1000.0;
    double own_ms = own_ns / 1e6;
    printf("marks=%ld wall_s=%.3f peak_rss_kib=%ld self_cpu_ms=%.3f children_cpu_ms=%.3f\n", marks,
           wall, peak, own_ms, total_ms > own_ms ? total_ms - own_ms : 0.0);
    return 0;
}
