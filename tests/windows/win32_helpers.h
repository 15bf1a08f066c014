// Shared pieces of the Windows test binary: it plays its own child
// processes (libuv style), chosen by the environment variable
// SRVWARDEN_TEST_HELPER, and runs programs with their output in files.
#pragma once

#include <windows.h>

#include <string>

// Runs the helper named by SRVWARDEN_TEST_HELPER and never returns, or
// returns when the variable is not set.
void run_helper_if_asked();

// The directory of the test binary, with a trailing backslash.
std::string own_directory();

// Starts `program` (default: this binary) as helper `mode`:
//   "record:FILE"  writes its command line to FILE, sleeps 300 ms, creates
//                  FILE.done and exits with status 7;
//   "spin"         keeps one core busy; "half" busy half of the time;
//   "idle"         sleeps.
PROCESS_INFORMATION start_helper(const std::string &mode, const std::string &program = "");

// Ends a helper started above and releases its handles.
void stop_helper(PROCESS_INFORMATION &helper);

struct program_result {
    int status = -1;  // exit status; -1 when it could not start or timed out
    std::string out;  // its standard output, untranslated
    std::string err;  // its standard error
};

// Runs `command_line` (program path first) with standard output and error in
// files, waiting at most 60 seconds.
program_result run_captured(const std::string &program, const std::string &command_line);

// A fresh empty directory, made the current one; and back, removed.
std::string enter_temp_directory();
void leave_temp_directory(const std::string &directory);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
