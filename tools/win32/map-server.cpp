// map-server.exe for Windows: a stand-in for the game server srvwarden
// watches, for the tests and the demonstration. Reads the same configuration
// as the Linux one:
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
// stopped at ... on Ctrl-C" (or Ctrl-Break, or on closing its console), or
// "pid 1234 exited at ... after 30 s". Those events end it cleanly with
// status 0; TerminateProcess ends it without a word. A configuration it
// cannot read ends it with a message on standard error and status 2.
#include <windows.h>

#include <stdio.h>

#include <fstream>
#include <string>

namespace {

volatile LONG stop_event = -1;  // the console event that asked it to stop

BOOL WINAPI on_console_event(DWORD event) {
    InterlockedCompareExchange(&stop_event, static_cast<LONG>(event), -1);
    // Closing the console ends the process once this handler returns: wait
    // for the main loop to write its line.
    if (event == CTRL_CLOSE_EVENT) Sleep(2000);
    return TRUE;
}

struct settings {
    long cpu_percent = 0;
    long busy_after = 0;
    long exit_after = 0;
    std::string start_log = "map-server.log";
};

int fail(const std::string &message) {
    fprintf(stderr, "map-server.exe: %s\n", message.c_str());
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
    if (!file) return std::string("cannot read '") + path + "'";
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
    SYSTEMTIME now;
    GetLocalTime(&now);
    char when[32];
    snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond);
    std::ofstream log(config.start_log, std::ios::app);
    log << "pid " << GetCurrentProcessId() << " " << event << " at " << when << tail << "\n";
}

long long now_ms() { return static_cast<long long>(GetTickCount64()); }

const char *event_name(LONG event) {
    switch (event) {
    case CTRL_C_EVENT: return " on Ctrl-C";
    case CTRL_BREAK_EVENT: return " on Ctrl-Break";
    default: return " on closing its console";
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) return fail("usage: map-server.exe CONFIG_FILE");
    settings config;
    std::string error = read_settings(argv[1], &config);
    if (!error.empty()) return fail(error);
    SetConsoleCtrlHandler(on_console_event, TRUE);

    log_line(config, "started", "");
    long long started = now_ms();
    const long long period_ms = 100;
    while (stop_event < 0) {
        long long period_start = now_ms();
        long long age = period_start - started;
        if (config.exit_after > 0 && age >= config.exit_after * 1000LL) {
            log_line(config, "exited", " after " + std::to_string(config.exit_after) + " s");
            return 0;
        }
        // Busy for cpu_percent of every period, asleep for the rest.
        long long busy_ms = age >= config.busy_after * 1000LL ? config.cpu_percent * period_ms / 100 : 0;
        while (stop_event < 0 && now_ms() - period_start < busy_ms) {
        }
        long long rest = period_start + period_ms - now_ms();
        if (stop_event < 0 && rest > 0) Sleep(static_cast<DWORD>(rest));
    }
    log_line(config, "stopped", event_name(stop_event));
    return 0;
}
