// Starting, watching and stopping the processes a test runs. The tests make
// themselves the reaper of orphans (Linux's child subreaper), so that a
// server launched through a double fork becomes their child: they can reap
// it, and nothing is left behind for an init that might never reap.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "proc_parse.h"

// Makes this process the reaper of orphaned descendants.
void become_subreaper();

// Starts `argv` (argv[0] a path) in `directory` with standard input and
// output from and to /dev/null, at `nice_value`. Returns its identifier.
pid_t start_program(const std::vector<std::string> &argv, const std::string &directory, int nice_value = 0);

// Forks a child that runs `body` and then exits with status 0. Returns its identifier.
pid_t start_child(const std::function<void()> &body);

// Kills every child of this process with SIGKILL and reaps it, along with
// every zombie child. Returns once none is left or after 5 seconds.
void stop_all_children();

// Reads /proc/PID/stat; false when the process is gone.
bool stat_of(pid_t pid, proc_stat *stat);

// True while `pid` exists and is not a zombie.
bool is_running(pid_t pid);

// The running processes whose executable lies in `directory`.
std::vector<pid_t> processes_running_from(const std::string &directory);

// Polls `condition` every 10 ms until it holds (true) or `timeout_ms` passes (false).
bool wait_until(const std::function<bool()> &condition, int timeout_ms);

// Writes `content` to `path` and makes it executable.
void write_executable(const std::string &path, const std::string &content);

// Copies the file `from` to `to`, keeping it executable.
void copy_program(const std::string &from, const std::string &to);
