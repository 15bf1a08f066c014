// The pure parts of process.exe: reading the text the Linux /proc file
// system gives for a process, and turning it into the columns of the table.
// Nothing here touches a file, the clock or any global state; every function
// accepts any input bytes.
#pragma once

#include <stddef.h>

#include <string>

// The fields of /proc/PID/stat that the process tool uses.
struct proc_stat {
    long long pid = 0;
    std::string comm;              // the task name, at most 15 bytes for a user process
    char state = '?';              // 'R', 'S', 'D', 'Z' (zombie), 'X' (dead), ...
    long long ppid = 0;
    long long session = 0;
    long long tty_nr = 0;          // 0: no controlling terminal
    unsigned long long utime = 0;  // clock ticks in user mode, all threads
    unsigned long long stime = 0;  // clock ticks in kernel mode, all threads
    long long nice = 0;            // -20..19
    unsigned long long starttime = 0;  // clock ticks after boot
    long long rss = 0;                 // resident pages
    unsigned long long policy = 0;     // 0 SCHED_OTHER, 1 SCHED_FIFO, 2 SCHED_RR, ...
};

// Parses the content of /proc/PID/stat: "PID (comm) state ppid ...". The
// name runs from the first '(' to the last ')', so a name holding spaces or
// parentheses is read whole. Returns true and fills `out` when the text
// holds at least the fields up to rss (the 24th) as numbers; the scheduling
// policy (41st) is read when present and is 0 otherwise. Returns false for
// anything else, leaving `out` in an unspecified state.
bool parse_proc_stat(const char *text, size_t length, proc_stat *out);

// The first argument (argv[0]) in the content of /proc/PID/cmdline, where
// arguments are ended by zero bytes: the bytes up to the first zero byte or
// the end. "" for an empty text (a kernel thread).
std::string first_argument(const char *text, size_t length);

// The image name shown for a process: its file name as it was started.
// `comm` is the task name, which the kernel cuts at 15 bytes; `exe_link` is
// the target of /proc/PID/exe ("" when unreadable; a trailing " (deleted)" is
// ignored) and `argv0` its first argument. When `comm` is 15 bytes long, the
// file name (the part after the last '/') of `exe_link`, else of `argv0`, is
// taken instead if it is longer and begins with `comm`. Then every space,
// control character and DEL becomes '_', so the name is always one token of
// the table and cannot end a row; an empty name becomes "_".
std::string image_name(const std::string &comm, const std::string &exe_link, const std::string &argv0);

// CPU time as "h:mm:ss" (hours unbounded), from clock ticks; the fraction of
// a second is dropped. A `ticks_per_second` of 0 or less reads as 100.
std::string format_cpu_time(unsigned long long ticks, long ticks_per_second);

// CPU usage in whole percent of one core, rounded to the nearest: `ticks` of
// CPU time spent over `elapsed_ns` nanoseconds of wall time. One thread busy
// all the time reads 100; several busy threads read more, without a cap
// (beyond 1000000000). 0 when `elapsed_ns` is 0. A `ticks_per_second` of 0
// or less reads as 100.
long long cpu_percent(unsigned long long ticks, unsigned long long elapsed_ns, long ticks_per_second);

// The Windows priority class closest to a nice value and scheduling policy:
// "Realtime" for SCHED_FIFO and SCHED_RR, else "High" (nice -10 and below),
// "AboveNormal" (-9..-1), "Normal" (0), "BelowNormal" (1..14), "Low" (15..).
const char *priority_class(long long nice, unsigned long long policy);

// Reads `text` as a decimal number from `low` to `high`: digits only, no
// sign, no spaces. Returns true and sets `value`, or false (`value` untouched).
bool parse_decimal(const std::string &text, long long low, long long high, long long *value);
