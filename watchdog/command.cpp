// Running a command through the command interpreter named by "COMSPEC".
#include "../platform/platform.h"
#include "watchdog.h"

// Both live for the whole run: nothing is allocated per command.
static char command_line[command_line_capacity];
static char interpreter_path[command_line_capacity];

static char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

static int text_length(const char *text) {
    int length = 0;
    while (text[length] != '\0') length++;
    return length;
}

int join_command_line(const char *const *pieces, int count, char *out, int capacity) {
    int length = 0;
    for (int i = 0; i < count; i++) {
        // One space at each joint, nothing in front or behind, nothing quoted:
        // the pieces carry their own spacing.
        const char *const parts[2] = {i > 0 ? " " : "", pieces[i]};
        for (const char *part : parts) {
            for (const char *p = part; *p != '\0'; p++) {
                if (length + 1 >= capacity) {
                    if (capacity > 0) out[0] = '\0';
                    return -1;
                }
                out[length++] = *p;
            }
        }
    }
    if (capacity <= 0) return -1;
    out[length] = '\0';
    return 0;
}

const char *find_comspec() {
    static const char name[] = "COMSPEC";
    for (int index = 0;; index++) {
        const char *entry = platform_environment_entry(index);
        if (entry == nullptr) return nullptr;
        int i = 0;
        while (name[i] != '\0' && upper(entry[i]) == name[i]) i++;
        if (name[i] == '\0' && entry[i] == '=') return entry + i + 1;
    }
}

// Copies `value` followed by `suffix` into `out`. Returns -1 when it does not fit.
static int compose(const char *value, const char *suffix, char *out, int capacity) {
    int value_length = text_length(value);
    int suffix_length = text_length(suffix);
    if (value_length + suffix_length >= capacity) return -1;
    for (int i = 0; i < value_length; i++) out[i] = value[i];
    for (int i = 0; i < suffix_length; i++) out[value_length + i] = suffix[i];
    out[value_length + suffix_length] = '\0';
    return 0;
}

int resolve_interpreter(const char *value, char *out, int capacity) {
    // The file name is the part after the last slash or backslash; with
    // neither, the part after the first colon (a drive, as in "C:cmd").
    // A value without any of the three is already a name in the current
    // directory, and the search path is never consulted.
    const char *file_name = value;
    const char *first_colon = nullptr;
    bool has_slash = false;
    for (const char *p = value; *p != '\0'; p++) {
        if (*p == '/' || *p == '\\') {
            file_name = p + 1;
            has_slash = true;
        } else if (*p == ':' && first_colon == nullptr) {
            first_colon = p;
        }
    }
    if (!has_slash && first_colon != nullptr) file_name = first_colon + 1;

    bool has_dot = false;
    for (const char *p = file_name; *p != '\0'; p++)
        if (*p == '.') has_dot = true;

    if (has_dot) {
        if (compose(value, "", out, capacity) == 0 && platform_file_exists(out)) return 0;
    } else {
        // The bare name is never tried: an interpreter always carries one
        // of these extensions.
        static const char *const extensions[] = {".com", ".exe", ".bat", ".cmd"};
        for (const char *extension : extensions)
            if (compose(value, extension, out, capacity) == 0 && platform_file_exists(out)) return 0;
    }
    if (capacity > 0) out[0] = '\0';
    return -1;
}

void run_command(const char *const *pieces, int count) {
    const char *interpreter = find_comspec();
    if (interpreter == nullptr) interpreter = platform_default_interpreter();
    if (interpreter == nullptr) return;
    if (resolve_interpreter(interpreter, interpreter_path, command_line_capacity) != 0) return;
    if (join_command_line(pieces, count, command_line, command_line_capacity) != 0) return;
    // The status, and a failure to start, are met again in the next cycle.
    platform_run_program(interpreter_path, command_line);
}
