// map-server.exe for Windows: plays the watched server for tests and the
// demonstration.
//
//   map-server.exe CONFIG
//
// CONFIG holds "key = value" lines ('#' starts a comment):
//   cpu_percent   share of one core to burn, 0 to 100 (default 0: idle)
//   burn_after    seconds after the start before the burning begins (default 0)
//   exit_after    seconds after the start to exit on its own; 0 never (default)
//   log           file, relative to the current directory, that gets one
//                 line "<pid> started <date> <time>" on every start
//                 (default map-server.log)
// It runs until it is ended from outside, or exit_after has passed.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct server_config {
    int cpu_percent = 0;
    int burn_after = 0;
    int exit_after = 0;
    char log[MAX_PATH] = "map-server.log";
};

char *trim(char *text) {
    while (*text == ' ' || *text == '\t') text++;
    char *end = text + strlen(text);
    while (end > text && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\r' || end[-1] == '\n')) *--end = '\0';
    return text;
}

bool read_number(const char *text, int low, int high, int *out) {
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) return false;
    *out = static_cast<int>(value);
    return true;
}

// Returns false, after saying why on standard error, when the file cannot be
// read or a line is not understood.
bool read_config(const char *path, server_config *config) {
    FILE *file = fopen(path, "r");
    if (file == nullptr) {
        fprintf(stderr, "map-server.exe: cannot open %s\n", path);
        return false;
    }
    char line[1024];
    int number = 0;
    bool good = true;
    while (good && fgets(line, sizeof line, file) != nullptr) {
        number++;
        char *hash = strchr(line, '#');
        if (hash != nullptr) *hash = '\0';
        char *text = trim(line);
        if (*text == '\0') continue;
        char *equals = strchr(text, '=');
        if (equals == nullptr) {
            good = false;
            break;
        }
        *equals = '\0';
        const char *key = trim(text);
        const char *value = trim(equals + 1);
        if (strcmp(key, "cpu_percent") == 0) {
            good = read_number(value, 0, 100, &config->cpu_percent);
        } else if (strcmp(key, "burn_after") == 0) {
            good = read_number(value, 0, 1000000, &config->burn_after);
        } else if (strcmp(key, "exit_after") == 0) {
            good = read_number(value, 0, 1000000, &config->exit_after);
        } else if (strcmp(key, "log") == 0 && *value != '\0' && strlen(value) < sizeof config->log) {
            strcpy(config->log, value);
        } else {
            good = false;
        }
    }
    fclose(file);
    if (!good) fprintf(stderr, "map-server.exe: %s:%d: not understood\n", path, number);
    return good;
}

void log_start(const char *path) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    FILE *log = fopen(path, "ab");
    if (log == nullptr) return;
    fprintf(log, "%lu started %04u-%02u-%02u %02u:%02u:%02u\r\n", static_cast<unsigned long>(GetCurrentProcessId()),
            now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    fclose(log);
}

ULONGLONG milliseconds_now() { return GetTickCount64(); }

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: map-server.exe CONFIG\n");
        return 2;
    }
    server_config config;
    if (!read_config(argv[1], &config)) return 1;
    log_start(config.log);

    const ULONGLONG started = milliseconds_now();
    const ULONGLONG burn_from = started + static_cast<ULONGLONG>(config.burn_after) * 1000;
    const ULONGLONG exit_at = started + static_cast<ULONGLONG>(config.exit_after) * 1000;
    // Work in periods of 100 ms: cpu_percent ms of spinning, the rest asleep.
    const ULONGLONG period = 100;
    volatile unsigned long long work = 0;
    for (;;) {
        ULONGLONG now = milliseconds_now();
        if (config.exit_after > 0 && now >= exit_at) return 0;
        if (config.cpu_percent == 0 || now < burn_from) {
            Sleep(static_cast<DWORD>(period));
            continue;
        }
        ULONGLONG spin_until = now + period * static_cast<ULONGLONG>(config.cpu_percent) / 100;
        while (milliseconds_now() < spin_until) work = work + 1;
        if (config.cpu_percent < 100) Sleep(static_cast<DWORD>(period - period * config.cpu_percent / 100));
    }
}
