// The watchdog's shared types and entry points. Free of any OS header: the
// operating system is reached only through platform/platform.h.
#pragma once

#include <stdint.h>

// --- Settings --------------------------------------------------------------

// Largest tolerated CPU usage of the server, in percent, and the time slept
// after each check cycle, in seconds. Fixed at start-up; 40 by default.
extern int32_t cpu_limit;
extern int32_t check_interval;

// Decimal text to a signed 32-bit integer: leading white space is skipped,
// one '+' or '-' is taken, digits are read up to the first other character.
// The digits accumulate modulo 2^32 without an overflow test and the sign is
// applied last. Text without leading digits gives 0.
int32_t decimal_to_int(const char *text);

// --- Console messages ------------------------------------------------------

// Formats `format` straight to the console, one character at a time:
// "%s" inserts the next argument as text (const char *), "%u" inserts the
// next argument (uint32_t) as unsigned decimal, "%%" gives one '%'. A failed
// write ends the rest of the message.
void print_message(const char *format, ...);

// --- Running a command -----------------------------------------------------

// The longest command line the watchdog builds, terminating zero included.
constexpr int command_line_capacity = 512;

// Joins `count` pieces with one space at each joint into `out` (capacity
// `capacity`, zero-terminated). Returns 0, or -1 when the line does not fit
// (`out` is then empty).
int join_command_line(const char *const *pieces, int count, char *out, int capacity);

// Looks up "COMSPEC" in the environment, the name matched without regard to
// case, the first entry winning. Returns its value, or nullptr.
const char *find_comspec();

// Resolves the interpreter named by `value` into `out` (capacity
// `capacity`). A value without a backslash, slash or colon names a file in
// the current directory. When the file name carries a dot the file must
// exist; without one, ".com", ".exe", ".bat" and ".cmd" are tried in this
// order. Returns 0 with the path in `out`, or -1 when no file exists.
int resolve_interpreter(const char *value, char *out, int capacity);

// Runs the joined pieces through the command interpreter and waits for it.
// Its exit status and any failure to start are ignored.
void run_command(const char *const *pieces, int count);

// --- Process list scanner --------------------------------------------------

constexpr int field_capacity = 100;  // 99 characters and a terminating zero

enum scan_states {
    SEEK_NAME = 0,
    READ_PID = 1,
    READ_COLUMN_3 = 2,
    READ_COLUMN_4 = 3,
    READ_CPU = 4,
    FOUND = 5,
};

extern int scan_state;
extern int token_length;
extern char image_name[field_capacity];
extern char process_id[field_capacity];
extern char column_3[field_capacity];
extern char column_4[field_capacity];
extern char cpu_usage[field_capacity];

// Scans `size` bytes, going on from the state the last scan or reset left,
// and stops as soon as the server's row has been read (scan_state FOUND).
// A size of 0 or less scans nothing.
void scan_bytes(const char *bytes, int32_t size);

// Sets the scanner back to SEEK_NAME; clears only the first byte of each field.
void reset_scanner();

// --- Process list capture --------------------------------------------------

constexpr int32_t process_list_capacity = 64000;

extern char process_list[process_list_capacity];
extern int32_t process_list_size;

// Runs the list command and reads "process.txt" into process_list: the whole
// file when it fits, else its first piece of process_list_capacity bytes.
// On any failure to read the file it prints a message and ends the program
// (status 1 seek, 2 position, 3 read or empty file, 4 open).
void capture_process_list();

// Scans the captured list. A list longer than process_list_capacity is read
// on and scanned piece by piece through the same buffer until the server's
// row is found or the file ends. The file is closed on return.
void scan_process_list();

// --- Check cycle -----------------------------------------------------------

// The time stamp every message of a cycle begins with, e.g. "[07/04/05 @ 18:09]".
constexpr int timestamp_capacity = 30;
extern char timestamp[timestamp_capacity];

// Fills `out` with the stamp for `now`: "[%m/%d/%y @ %H:%M]".
struct platform_time;
void format_timestamp(const platform_time *now, char *out);

// Refreshes `timestamp` from the local clock.
void refresh_timestamp();

// Returns 1 when `text` is 1 to 10 ASCII digits and nothing else.
int is_process_number(const char *text);

// One check cycle: check, decide, act, sleep, reset the scanner.
void check_once();

// The endless check cycle. Never returns.
[[noreturn]] void run_watchdog();
