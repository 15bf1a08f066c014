// Runs a program on a fresh pseudo-terminal (or with no terminal at all) and
// collects what it writes there, apart from its standard output and error.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct pty_options {
    std::vector<std::string> argv;         // argv[0] is the program's path
    std::vector<std::string> environment;  // the child's whole environment
    std::string directory;                 // the child's current directory
    bool with_terminal = true;             // false: a new session with no controlling terminal
    bool signals = false;                  // keep ISIG, so a typed ^C interrupts (otherwise fully raw)
    int timeout_ms = 30000;                // the child is killed past this
    // Called with the terminal bytes so far; returning a non-empty text types
    // it into the terminal once (e.g. "\x03").
    std::function<std::string(const std::string &)> type_when;
    // Called with the terminal bytes so far; returning true kills the child.
    std::function<bool(const std::string &)> stop_when;
};

struct pty_result {
    std::string terminal;  // bytes the child wrote to the terminal, untranslated
    std::string out;       // its standard output
    std::string err;       // its standard error
    int exit_status = -1;  // when it exited
    int signal = 0;        // when a signal ended it
    bool timed_out = false;
};

pty_result run_on_pty(const pty_options &options);

// The environment of the test process, with `overrides` ("NAME=value", or
// "NAME" alone to remove it) applied.
std::vector<std::string> environment_with(const std::vector<std::string> &overrides);

// Replaces every "[mm/dd/yy @ HH:MM]" stamp with "[stamp]".
std::string mask_stamps(const std::string &text);

// A fresh empty directory under the system's temporary directory.
std::string make_temp_directory();

// Writes `bytes` to `path`, replacing it.
void write_file(const std::string &path, const std::string &bytes);

// The whole content of `path`, or "" when it cannot be read.
std::string read_file(const std::string &path);

// Removes a directory tree.
void remove_tree(const std::string &path);
