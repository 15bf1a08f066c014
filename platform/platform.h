// The thin layer between the watchdog and the operating system.
//
// One implementation file per system (platform_posix.cpp, platform_win32.cpp);
// the build picks one. Everything here uses plain types only, and every
// buffer is owned by the caller or is a static object of the layer itself.
#pragma once

#include <stdint.h>

// --- Console ---------------------------------------------------------------

// Writes one character to the console device (the controlling terminal on
// POSIX, "CONOUT$" on Windows). The device is opened for writing on the first
// call and stays open; if that open fails it is never tried again and every
// later call fails too. Returns 0 when the character was written, -1 when it
// was not (no console, or the write failed).
int platform_console_put(char c);

// --- Environment -----------------------------------------------------------

// Returns entry `index` (counting from 0) of the environment as it stood when
// the program started, as "NAME=value" text, or nullptr past the last entry.
// The text stays valid for the whole run.
const char *platform_environment_entry(int index);

// Returns the path of the command interpreter to use when the environment
// names none, or nullptr when the system has none to offer. The text stays
// valid for the whole run.
const char *platform_default_interpreter();

// --- Processes -------------------------------------------------------------

// Returns 1 when `path` names an existing file, 0 otherwise.
int platform_file_exists(const char *path);

// Starts the program file `program` with the command line `command_line`
// handed over exactly as given (on POSIX as the single argument after
// argv[0]; on Windows as the whole command line). The child inherits the
// environment, the current directory and the standard handles. Waits without
// a time limit until it has ended and releases everything the start took.
// Returns the child's exit status, or -1 when it could not be started.
int platform_run_program(const char *program, const char *command_line);

// Ends the program with `status`, closing the console first. Never returns.
[[noreturn]] void platform_exit(int status);

// --- The process list file --------------------------------------------------
// One file at a time, read-only, untranslated: every byte as stored.

// Opens `name` for reading. Returns 0 on success, -1 on failure.
int platform_list_open(const char *name);

// Seeks to the end of the open file. Returns 0 on success, non-zero on error.
int platform_list_seek_end();

// Seeks to the start of the open file. Returns 0 on success, non-zero on error.
int platform_list_seek_start();

// Returns the current position in the open file, or -1 on error.
int64_t platform_list_position();

// Reads one item of `size` bytes into `buffer`. Returns the count of whole
// items read: 1 on success, 0 on a short read, an error or a size of 0.
int platform_list_read(char *buffer, int32_t size);

// Closes the open file, if any.
void platform_list_close();

// --- Time ----------------------------------------------------------------

struct platform_time {
    int year;    // e.g. 2026
    int month;   // 1..12
    int day;     // 1..31
    int hour;    // 0..23
    int minute;  // 0..59
};

// Fills `now` with the machine's local wall-clock time. Returns 0 on success,
// -1 when the local time cannot be had (`now` is then left untouched).
int platform_local_time(platform_time *now);

// Sleeps for `milliseconds`, resuming after interruptions until the whole
// time has passed.
void platform_sleep(uint32_t milliseconds);
