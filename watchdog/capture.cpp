// Process list capture: has the process tool write "process.txt" and reads
// it back into process_list.
#include "../platform/platform.h"
#include "watchdog.h"

char process_list[process_list_capacity];
int32_t process_list_size = 0;

// Bytes of the open file not read yet; above zero only for a list longer
// than the buffer, which is then read and scanned piece by piece.
static int64_t unread_bytes = 0;
static bool list_is_open = false;

// The file is not closed first: ending the process releases it.
[[noreturn]] static void fail(const char *message, int status) {
    print_message(message);
    platform_exit(status);
}

// Reads the next piece of at most process_list_capacity bytes. A piece of
// zero bytes (an empty file) counts as a failed read.
static void read_piece() {
    process_list_size = unread_bytes > process_list_capacity ? process_list_capacity
                                                              : static_cast<int32_t>(unread_bytes);
    if (process_list_size <= 0 || platform_list_read(process_list, process_list_size) != 1)
        fail("There was an error reading the process list file.", 3);
    unread_bytes -= process_list_size;
}

static void close_list() {
    if (list_is_open) platform_list_close();
    list_is_open = false;
}

void capture_process_list() {
    static const char *const list_command[] = {" /C process.exe > process.txt"};
    run_command(list_command, 1);

    if (platform_list_open("process.txt") != 0)
        fail("There was an error opening the process list file.", 4);
    list_is_open = true;
    if (platform_list_seek_end() != 0) fail("There was an error seeking the process list file.", 1);
    int64_t size = platform_list_position();
    if (size == -1) fail("There was an error accessing the process list file.", 2);
    if (platform_list_seek_start() != 0) fail("There was an error seeking the process list file.", 1);

    unread_bytes = size;
    read_piece();
    if (unread_bytes <= 0) close_list();
}

void scan_process_list() {
    for (;;) {
        scan_bytes(process_list, process_list_size);
        if (scan_state == FOUND || unread_bytes <= 0) break;
        read_piece();
    }
    unread_bytes = 0;
    close_list();
}
