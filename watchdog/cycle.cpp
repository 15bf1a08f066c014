// The check cycle: check, decide, act, sleep, without end.
#include "../platform/platform.h"
#include "watchdog.h"

char timestamp[timestamp_capacity];
static int32_t cpu_percent = 0;

static const char *const restart_command[] = {
    " /C start /min /abovenormal map-server.exe conf\\map_orvane.conf"};

static void put_two_digits(char *out, int value) {
    if (value < 0) value = -value;
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

void format_timestamp(const platform_time *now, char *out) {
    // "[%m/%d/%y @ %H:%M]"
    static const char pattern[] = "[mm/dd/yy @ HH:MM]";
    for (int i = 0; i < static_cast<int>(sizeof pattern); i++) out[i] = pattern[i];
    put_two_digits(out + 1, now->month);
    put_two_digits(out + 4, now->day);
    put_two_digits(out + 7, now->year % 100);
    put_two_digits(out + 12, now->hour);
    put_two_digits(out + 15, now->minute);
}

void refresh_timestamp() {
    platform_time now;
    if (platform_local_time(&now) == 0) {
        format_timestamp(&now, timestamp);
        return;
    }
    // No local time to be had: the stamp says so rather than show a stale one.
    static const char unknown[] = "[--/--/-- @ --:--]";
    for (int i = 0; i < static_cast<int>(sizeof unknown); i++) timestamp[i] = unknown[i];
}

int is_process_number(const char *text) {
    int length = 0;
    while (text[length] >= '0' && text[length] <= '9') length++;
    return text[length] == '\0' && length >= 1 && length <= 10;
}

static void restart_server() {
    print_message("%s ... restarting\r\n", timestamp);
    run_command(restart_command, 1);
}

static void kill_and_restart() {
    print_message("%s map-server.exe has exceeded the allowed CPU usage (%u %% CPU)\r\n", timestamp,
                  static_cast<uint32_t>(cpu_percent));
    // The identifier comes from a file and goes onto an interpreter command
    // line unquoted: anything but a plain number could run commands of its own.
    if (!is_process_number(process_id)) {
        print_message("%s ... its process identifier is not a number; map-server.exe is left alone\r\n",
                      timestamp);
        return;
    }
    print_message("%s ... terminating\r\n", timestamp);
    const char *kill_command[] = {" /C process.exe -k ", process_id, " > terminate.txt"};
    run_command(kill_command, 3);
    refresh_timestamp();
    restart_server();
}

void check_once() {
    refresh_timestamp();
    print_message("%s Checking Windows processes.\r\n", timestamp);
    capture_process_list();
    scan_process_list();
    refresh_timestamp();

    if (scan_state == FOUND) {
        cpu_percent = decimal_to_int(cpu_usage);
        if (cpu_percent > cpu_limit)
            kill_and_restart();
        else
            print_message("%s map-server.exe status is OK (%u %% CPU)\r\n", timestamp,
                          static_cast<uint32_t>(cpu_percent));
    } else {
        print_message("%s map-server.exe does not appear to be running! \r\n", timestamp);
        restart_server();
    }

    print_message("%s Sleeping for %u seconds.\r\n", timestamp, static_cast<uint32_t>(check_interval));
    // The product wraps as an unsigned 32-bit count; a negative interval
    // therefore sleeps very long, and 0 sleeps one millisecond.
    uint32_t milliseconds = static_cast<uint32_t>(check_interval) * 1000u;
    platform_sleep(milliseconds == 0 ? 1 : milliseconds);
    reset_scanner();
}

void run_watchdog() {
    for (;;) check_once();
}
