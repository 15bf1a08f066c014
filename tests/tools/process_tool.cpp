#include "process_tool.h"

pty_result run_process_tool(const std::vector<std::string> &arguments, const std::vector<std::string> &environment) {
    pty_options options;
    options.argv = {PROCESS_TOOL};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.environment = environment_with(environment);
    options.with_terminal = false;
    options.timeout_ms = 20000;
    return run_on_pty(options);
}

std::map<pid_t, std::vector<std::string>> rows_of(const std::string &table) {
    std::map<pid_t, std::vector<std::string>> rows;
    size_t start = table.find("\r\n");  // past the header
    if (start == std::string::npos) return rows;
    start += 2;
    while (start < table.size()) {
        size_t end = table.find("\r\n", start);
        if (end == std::string::npos || end == start || table[end - 1] != ' ') return {};
        std::vector<std::string> columns;
        size_t from = start;
        for (size_t space = table.find(' ', from); space < end; space = table.find(' ', from)) {
            columns.push_back(table.substr(from, space - from));
            from = space + 1;
        }
        if (columns.size() < 2 || columns[1].empty() || columns[1].find_first_not_of("0123456789") != std::string::npos)
            return {};
        rows[static_cast<pid_t>(std::stol(columns[1]))] = columns;
        start = end + 2;
    }
    return rows;
}
