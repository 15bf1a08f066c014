// srvwarden: keeps "map-server.exe" running and within a CPU limit.
//
// Usage: srvwarden [cpu_limit [check_interval]]
#include "watchdog/watchdog.h"

int main(int argc, char **argv) {
    // The program's own name is not read; a third parameter and on are ignored.
    if (argc > 1) cpu_limit = decimal_to_int(argv[1]);
    if (argc > 2) check_interval = decimal_to_int(argv[2]);

    // The banner shows the values in force. Messages 5 and 8 are formats
    // without arguments, so their "%%" prints as one percent sign.
    print_message("Orvane map-server.exe auto-restart tool by Tolvek\r\n");
    print_message("-------------------------------------------------\r\n\r\n");
    print_message("- Using a CPU limit of %u %%.\r\n", static_cast<uint32_t>(cpu_limit));
    print_message("CPU limit may be overridden with first command line parameter.\r\n");
    print_message("(ex. \"srvwarden 50\" for 50%% CPU limit)\r\n");
    print_message("\r\n- map-server.exe's status will be checked every %u seconds\r\n",
                  static_cast<uint32_t>(check_interval));
    print_message("Status checking interval may be overridden with second command line parameter.\r\n");
    print_message("(ex. \"srvwarden 50 30\" for 50%% CPU limit & 30 second check)\r\n\r\n");

    run_watchdog();
}
