// The platform layer on Windows.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "platform.h"

// --- Console ---------------------------------------------------------------

static HANDLE console = INVALID_HANDLE_VALUE;
static bool console_tried = false;

int platform_console_put(char c) {
    if (!console_tried) {
        console_tried = true;
        // The console itself, not standard output: a redirected srvwarden
        // still writes to its console. Not inheritable: the commands it runs
        // get the console through their standard handles instead.
        console = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    }
    if (console == INVALID_HANDLE_VALUE) return -1;
    DWORD written = 0;
    if (!WriteConsoleA(console, &c, 1, &written, nullptr)) return -1;
    return written == 1 ? 0 : -1;
}

// --- Environment -----------------------------------------------------------

// The block is taken once and kept for the whole run. The program never
// changes its environment, so the first look is the environment it started
// with.
static const char *environment_block = nullptr;

const char *platform_environment_entry(int index) {
    if (index < 0) return nullptr;
    if (environment_block == nullptr) {
        environment_block = GetEnvironmentStringsA();
        if (environment_block == nullptr) return nullptr;
    }
    // "NAME=value\0NAME=value\0...\0". Entries that begin with '=' ("=C:=C:\dir",
    // "=ExitCode=...") are the system's per-drive directories and the like,
    // not variables, and are skipped.
    int seen = 0;
    for (const char *entry = environment_block; *entry != '\0';) {
        size_t length = strlen(entry);
        if (entry[0] != '=') {
            if (seen == index) return entry;
            seen++;
        }
        entry += length + 1;
    }
    return nullptr;
}

const char *platform_default_interpreter() {
    static char path[MAX_PATH + 16];
    static bool looked = false;
    static bool found = false;
    if (!looked) {
        looked = true;
        static const char name[] = "\\cmd.exe";
        UINT length = GetSystemDirectoryA(path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            memcpy(path + length, name, sizeof name);
            found = true;
        }
    }
    return found ? path : nullptr;
}

// --- Processes -------------------------------------------------------------

int platform_file_exists(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 1 : 0;
}

int platform_run_program(const char *program, const char *command_line) {
    // CreateProcessA may write into the command line, so it gets a copy.
    // 32767 characters is the most a Windows command line can hold.
    static char line[32768];
    size_t length = strlen(command_line);
    if (length >= sizeof line) return -1;
    memcpy(line, command_line, length + 1);

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child;
    // The program is named on its own and the line carries no program name:
    // the interpreter gets exactly the line, leading space and all. Handles
    // are inherited, so it runs on the watchdog's console and standard handles.
    if (!CreateProcessA(program, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child))
        return -1;
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    int result = GetExitCodeProcess(child.hProcess, &status) ? static_cast<int>(status) : -1;
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return result;
}

void platform_exit(int status) {
    if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
    console = INVALID_HANDLE_VALUE;
    exit(status);
}

// --- The process list file --------------------------------------------------

static FILE *list_file = nullptr;

int platform_list_open(const char *name) {
    // "rb": no translation of line ends, no end at a ^Z. The runtime opens
    // with read and write sharing.
    list_file = fopen(name, "rb");
    if (list_file == nullptr) return -1;
    // A directory is a file that cannot be opened, as on POSIX.
    struct _stati64 info;
    if (_fstati64(_fileno(list_file), &info) != 0 || (info.st_mode & _S_IFDIR) != 0) {
        fclose(list_file);
        list_file = nullptr;
        return -1;
    }
    return 0;
}

int platform_list_seek_end() { return _fseeki64(list_file, 0, SEEK_END); }

int platform_list_seek_start() { return _fseeki64(list_file, 0, SEEK_SET); }

int64_t platform_list_position() { return static_cast<int64_t>(_ftelli64(list_file)); }

int platform_list_read(char *buffer, int32_t size) {
    if (size <= 0) return 0;
    return static_cast<int>(fread(buffer, static_cast<size_t>(size), 1, list_file));
}

void platform_list_close() {
    if (list_file != nullptr) fclose(list_file);
    list_file = nullptr;
}

// --- Time ----------------------------------------------------------------

int platform_local_time(platform_time *now) {
    // The system applies the zone and daylight-saving rules itself, for any
    // year: no 32-bit count of seconds stands in between.
    SYSTEMTIME local;
    GetLocalTime(&local);
    now->year = local.wYear;
    now->month = local.wMonth;
    now->day = local.wDay;
    now->hour = local.wHour;
    now->minute = local.wMinute;
    return 0;
}

void platform_sleep(uint32_t milliseconds) {
    // Sleep(INFINITE) would never return; that one count is slept in two parts.
    if (milliseconds == INFINITE) {
        Sleep(INFINITE - 1);
        milliseconds = 1;
    }
    Sleep(milliseconds);
}
