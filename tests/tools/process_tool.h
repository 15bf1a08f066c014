// Running the real process.exe and reading its table, for the tests.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "pty_run.h"

// Runs process.exe with `arguments` and the test's environment with
// `environment` applied, without a terminal.
pty_result run_process_tool(const std::vector<std::string> &arguments, const std::vector<std::string> &environment);

// The rows of a table by process identifier, each row as its columns (the
// text between the spaces that end them). Empty when a line does not end
// with " \r\n".
std::map<pid_t, std::vector<std::string>> rows_of(const std::string &table);
