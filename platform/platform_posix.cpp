// The platform layer on POSIX systems. The controlling terminal stands for
// the Windows console device.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform.h"

extern char **environ;

// --- Console ---------------------------------------------------------------

static int console_fd = -1;
static bool console_tried = false;

int platform_console_put(char c) {
    if (!console_tried) {
        console_tried = true;
        // Close-on-exec: the console is the watchdog's own, not an inherited
        // handle of the commands it runs.
        console_fd = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    }
    if (console_fd < 0) return -1;
    ssize_t written;
    do {
        written = write(console_fd, &c, 1);
    } while (written < 0 && errno == EINTR);
    return written == 1 ? 0 : -1;
}

// --- Environment -----------------------------------------------------------

// The program never changes its environment, so `environ` is still the
// environment it started with.
const char *platform_environment_entry(int index) {
    if (environ == nullptr || index < 0) return nullptr;
    for (int i = 0; i < index; i++)
        if (environ[i] == nullptr) return nullptr;
    return environ[index];
}

const char *platform_default_interpreter() {
    // Our own interpreter, installed beside the srvwarden executable.
    static char path[PATH_MAX];
    static bool looked = false;
    static bool found = false;
    if (!looked) {
        looked = true;
        static const char name[] = "srvwarden-cmd.exe";
        ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
        if (length > 0) {
            path[length] = '\0';
            char *slash = nullptr;
            for (char *p = path; *p != '\0'; p++)
                if (*p == '/') slash = p;
            if (slash != nullptr && (slash - path) + 1 + sizeof name <= sizeof path) {
                for (size_t i = 0; i < sizeof name; i++) slash[1 + i] = name[i];
                found = true;
            }
        }
    }
    return found ? path : nullptr;
}

// --- Processes -------------------------------------------------------------

int platform_file_exists(const char *path) {
    struct stat info;
    return stat(path, &info) == 0 ? 1 : 0;
}

int platform_run_program(const char *program, const char *command_line) {
    // argv[0] is the program's path, argv[1] the whole command line, exactly
    // as a Windows interpreter would receive it.
    char *argv[] = {const_cast<char *>(program), const_cast<char *>(command_line), nullptr};
    pid_t child;
    if (posix_spawn(&child, program, nullptr, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void platform_exit(int status) {
    if (console_fd >= 0) close(console_fd);
    exit(status);
}

// --- The process list file --------------------------------------------------

static FILE *list_file = nullptr;

int platform_list_open(const char *name) {
    // Without O_NONBLOCK a named pipe in place of the file would hold the
    // open until some writer came, stopping every later cycle; opened this
    // way it is taken at once, and its failed seek ends the program like any
    // other unseekable list. For regular files the flag changes nothing.
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    // A directory opens on Linux; reading it is what fails. Treat it as a file
    // that cannot be opened.
    struct stat info;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    list_file = fdopen(fd, "rb");
    if (list_file == nullptr) {
        close(fd);
        return -1;
    }
    return 0;
}

int platform_list_seek_end() { return fseeko(list_file, 0, SEEK_END); }

int platform_list_seek_start() { return fseeko(list_file, 0, SEEK_SET); }

int64_t platform_list_position() { return static_cast<int64_t>(ftello(list_file)); }

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
    // time_t is 64 bits here, so stamps after 2038-01-19 still come out right.
    time_t seconds = time(nullptr);
    struct tm local;
    if (seconds == static_cast<time_t>(-1) || localtime_r(&seconds, &local) == nullptr) return -1;
    now->year = local.tm_year + 1900;
    now->month = local.tm_mon + 1;
    now->day = local.tm_mday;
    now->hour = local.tm_hour;
    now->minute = local.tm_min;
    return 0;
}

void platform_sleep(uint32_t milliseconds) {
    struct timespec remaining;
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    // Resume after a signal until the whole time has passed.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
