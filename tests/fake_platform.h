// A fake of the platform layer for the watchdog's unit tests: records the
// console bytes, the commands run and the sleeps, serves the process list
// from memory and can make each file operation fail.
#pragma once

#include <setjmp.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "../platform/platform.h"

struct fake_command {
    std::string program;
    std::string command_line;
    size_t console_length;  // console bytes written before the command ran
};

enum fake_file_operation { FAIL_NONE, FAIL_OPEN, FAIL_SEEK_END, FAIL_POSITION, FAIL_SEEK_START, FAIL_READ };

struct fake_state {
    std::string console;                 // every byte written to the console
    bool console_missing = false;        // no console: every put fails
    long console_fail_after = -1;        // writes that succeed before every later one fails
    std::vector<std::string> environment = {"COMSPEC=C:\\Windows\\system32\\cmd.exe"};
    std::vector<std::string> existing_files = {"C:\\Windows\\system32\\cmd.exe"};
    const char *default_interpreter = nullptr;
    std::vector<fake_command> commands;  // in the order they were run
    std::vector<std::string> lists;      // "process.txt" as served, one per capture; the last repeats
    int lists_served = 0;
    fake_file_operation fail = FAIL_NONE;
    int reads = 0;                       // reads made of the list file
    int opens = 0;
    bool list_open = false;
    std::vector<uint32_t> sleeps;
    std::vector<platform_time> clock = {{2005, 7, 4, 18, 9}};  // each refresh takes the next; the last repeats
    int clock_reads = 0;
    bool exited = false;
    int exit_status = -1;
};

extern fake_state fake;

// platform_exit jumps here; set it with setjmp before calling code that may end.
extern jmp_buf fake_exit_jump;

// Clears everything back to the defaults above.
void fake_reset();

// Runs `body`, returning true when it ended through platform_exit.
template <typename Body>
bool fake_runs_to_exit(Body body) {
    if (setjmp(fake_exit_jump) == 0) {
        body();
        return false;
    }
    return true;
}
