// map-server.exe: a stand-in for the game server srvwarden watches, for the
// tests and the demonstration.
//
//   map-server.exe CONFIG_FILE
//
// The configuration holds "name: value" lines; "//" starts a comment:
//
//   cpu_percent: 100          // share of one core to keep busy, 0..100 (default 0)
//   busy_after: 8             // seconds after start before it gets busy (default 0)
//   exit_after: 0             // seconds after start to exit by itself; 0: never (default)
//   start_log: map-server.log // file appended with a line on every start and end
//
// Log lines: "pid 1234 started at 2026-12-11 16:05:04", then "pid 1234
// stopped at ... on SIGTERM" (or SIGINT), or "pid 1234 exited at ... after
// 30 s". SIGTERM and SIGINT end it cleanly with status 0. A configuration it
// cannot read ends it with a message on standard error and status 2.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

volatile sig_atomic_t stop_signal = 0;

void on_stop(int signal_number) { stop_signal = signal_number; }

struct settings {
    long cpu_percent = 0;
    long busy_after = 0;
    long exit_after = 0;
    std::string start_log = "map-server.log";
};

int fail(const std::string &message) {
    std::string line = "map-server.exe: " + message + "\n";
    if (write(2, line.data(), line.size()) < 0) {
    }
    return 2;
}

std::string trimmed(const std::string &text) {
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool read_number(const std::string &text, long high, long *value) {
    if (text.empty() || text.size() > 9) return false;
    long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + (c - '0');
    }
    if (result > high) return false;
    *value = result;
    return true;
}

// Returns "" once `path` is read into `out`, else the message to give.
std::string read_settings(const char *path, settings *out) {
    std::ifstream file(path);
    if (!file) return std::string("cannot read '") + path + "': " + strerror(errno);
    std::string line;
    for (int number = 1; std::getline(file, line); number++) {
        std::string where = std::string(path) + ":" + std::to_string(number) + ": ";
        size_t comment = line.find("//");
        if (comment != std::string::npos) line.resize(comment);
        line = trimmed(line);
        if (line.empty()) continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos) return where + "expected 'name: value'";
        std::string name = trimmed(line.substr(0, colon));
        std::string value = trimmed(line.substr(colon + 1));
        bool good = true;
        if (name == "cpu_percent")
            good = read_number(value, 100, &out->cpu_percent);
        else if (name == "busy_after")
            good = read_number(value, 999999999, &out->busy_after);
        else if (name == "exit_after")
            good = read_number(value, 999999999, &out->exit_after);
        else if (name == "start_log")
            good = !(out->start_log = value).empty();
        else
            return where + "unknown setting '" + name + "'";
        if (!good) return where + "bad value '" + value + "' for " + name;
    }
    return "";
}

// Appends "pid N <event> at <local time><tail>" to the start log.
void log_line(const settings &config, const char *event, const std::string &tail) {
    char when[32];
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    std::ofstream log(config.start_log, std::ios::app);
    log << "pid " << getpid() << " " << event << " at " << when << tail << "\n";
}

long long now_ms() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void sleep_ms(long long milliseconds) {
    if (milliseconds <= 0) return;
    struct timespec rest;
    rest.tv_sec = static_cast<time_t>(milliseconds / 1000);
    rest.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    // A stop signal cuts the sleep short, which is what is wanted.
    nanosleep(&rest, nullptr);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) return fail("usage: map-server.exe CONFIG_FILE");
    settings config;
    std::string error = read_settings(argv[1], &config);
    if (!error.empty()) return fail(error);

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_stop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    log_line(config, "started", "");
    long long started = now_ms();
    const long long period_ms = 100;
    while (stop_signal == 0) {
        long long period_start = now_ms();
        long long age = period_start - started;
        if (config.exit_after > 0 && age >= config.exit_after * 1000) {
            log_line(config, "exited", " after " + std::to_string(config.exit_after) + " s");
            return 0;
        }
        // Busy for cpu_percent of every period, asleep for the rest.
        long long busy_ms = age >= config.busy_after * 1000 ? config.cpu_percent * period_ms / 100 : 0;
        while (stop_signal == 0 && now_ms() - period_start < busy_ms) {
        }
        if (stop_signal == 0) sleep_ms(period_start + period_ms - now_ms());
    }
    log_line(config, "stopped", stop_signal == SIGTERM ? " on SIGTERM" : " on SIGINT");
    return 0;
}
