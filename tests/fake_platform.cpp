#include "fake_platform.h"

#include <string.h>

#include <algorithm>

fake_state fake;
jmp_buf fake_exit_jump;

void fake_reset() { fake = fake_state(); }

int platform_console_put(char c) {
    if (fake.console_missing) return -1;
    if (fake.console_fail_after == 0) return -1;
    if (fake.console_fail_after > 0) fake.console_fail_after--;
    fake.console.push_back(c);
    return 0;
}

const char *platform_environment_entry(int index) {
    if (index < 0 || index >= static_cast<int>(fake.environment.size())) return nullptr;
    return fake.environment[static_cast<size_t>(index)].c_str();
}

const char *platform_default_interpreter() { return fake.default_interpreter; }

int platform_file_exists(const char *path) {
    return std::find(fake.existing_files.begin(), fake.existing_files.end(), path) != fake.existing_files.end();
}

int platform_run_program(const char *program, const char *command_line) {
    fake.commands.push_back({program, command_line, fake.console.size()});
    return 0;
}

void platform_exit(int status) {
    fake.exited = true;
    fake.exit_status = status;
    longjmp(fake_exit_jump, 1);
}

// The list served by the current open, and the read position in it.
static std::string served;
static int64_t position = 0;

int platform_list_open(const char *name) {
    fake.opens++;
    if (strcmp(name, "process.txt") != 0 || fake.fail == FAIL_OPEN) return -1;
    served.clear();
    if (!fake.lists.empty()) {
        size_t index = std::min(static_cast<size_t>(fake.lists_served), fake.lists.size() - 1);
        served = fake.lists[index];
    }
    fake.lists_served++;
    position = 0;
    fake.list_open = true;
    return 0;
}

int platform_list_seek_end() {
    if (fake.fail == FAIL_SEEK_END) return -1;
    position = static_cast<int64_t>(served.size());
    return 0;
}

int platform_list_seek_start() {
    if (fake.fail == FAIL_SEEK_START) return -1;
    position = 0;
    return 0;
}

int64_t platform_list_position() { return fake.fail == FAIL_POSITION ? -1 : position; }

int platform_list_read(char *buffer, int32_t size) {
    fake.reads++;
    if (fake.fail == FAIL_READ || size <= 0) return 0;
    if (position + size > static_cast<int64_t>(served.size())) return 0;
    memcpy(buffer, served.data() + position, static_cast<size_t>(size));
    position += size;
    return 1;
}

void platform_list_close() { fake.list_open = false; }

int platform_local_time(platform_time *now) {
    size_t index = std::min(static_cast<size_t>(fake.clock_reads), fake.clock.size() - 1);
    fake.clock_reads++;
    *now = fake.clock[index];
    return 0;
}

void platform_sleep(uint32_t milliseconds) { fake.sleeps.push_back(milliseconds); }
