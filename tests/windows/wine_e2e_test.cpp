// The Windows programs under Wine: srvwarden.exe on a pseudo-terminal, with
// Wine's own cmd.exe as the interpreter, our process.exe and our map-server.exe
// in a fresh server directory. Wine's console draws through escape sequences,
// so the text compared is what a terminal shows, with the stamps masked.
//
// WINEPREFIX names the prefix to use; every Wine process in it is stopped
// after each test.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "../posix/pty_run.h"
#include "terminal_screen.h"

namespace {

std::string banner(const std::string &limit, const std::string &interval) {
    return "Orvane map-server.exe auto-restart tool by Tolvek\n"
           "-------------------------------------------------\n\n"
           "- Using a CPU limit of " + limit + " %.\n"
           "CPU limit may be overridden with first command line parameter.\n"
           "(ex. \"srvwarden 50\" for 50% CPU limit)\n"
           "\n- map-server.exe's status will be checked every " + interval + " seconds\n"
           "Status checking interval may be overridden with second command line parameter.\n"
           "(ex. \"srvwarden 50 30\" for 50% CPU limit & 30 second check)\n\n";
}

// A terminal shows no trailing space: "running! \r\n" reads "running!".
const std::string missing_cycle =
    "[stamp] Checking Windows processes.\n"
    "[stamp] map-server.exe does not appear to be running!\n"
    "[stamp] ... restarting\n"
    "[stamp] Sleeping for 2 seconds.\n";

std::string screen_text(const std::string &terminal) {
    terminal_screen screen;
    screen.feed(terminal);
    return mask_stamps(screen.text());
}

size_t count_of(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
    return count;
}

std::string directory_of(const std::string &path) { return path.substr(0, path.rfind('/')); }

// Runs `command` in `directory`, returning its standard output.
std::string output_of(const std::string &directory, const std::string &command) {
    std::string line = "cd '" + directory + "' && " + command + " 2>/dev/null";
    FILE *pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return "";
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

// The server's starts so far, once there are `count` of them or 20 seconds
// have passed: "start" returns before the server is up.
std::vector<std::string> servers_started(const std::string &directory);
std::vector<std::string> wait_for_starts(const std::string &directory, size_t count) {
    for (int waited = 0; servers_started(directory).size() < count && waited < 200; waited++) usleep(100000);
    return servers_started(directory);
}

struct listed_server {
    std::string pid;
    int cpu;  // percent of one core
};

// The map-server.exe rows of process.exe's list, taken in `directory`.
std::vector<listed_server> servers_listed(const std::string &directory) {
    std::string list = output_of(directory, "timeout 60 " WINE_PROGRAM " process.exe");
    static const std::regex row(R"((^|\n)map-server\.exe (\d+) \S+ \S+ (\d+) \d+ \r)");
    std::vector<listed_server> servers;
    for (std::sregex_iterator it(list.begin(), list.end(), row), end; it != end; ++it)
        servers.push_back({(*it)[2].str(), atoi((*it)[3].str().c_str())});
    return servers;
}

// The PIDs of map-server.log, one line per start.
std::vector<std::string> servers_started(const std::string &directory) {
    std::string log = read_file(directory + "/map-server.log");
    static const std::regex line(R"(pid (\d+) started at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\r\n)");
    std::vector<std::string> pids;
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) pids.push_back((*it)[1].str());
    return pids;
}

// Every Wine process of the prefix: the watchdog, the servers it started,
// and Wine's own services.
void stop_wine() {
    std::string wineserver = directory_of(WINE_PROGRAM) + "/wineserver";
    if (system(("timeout 60 " + wineserver + " -k; timeout 60 " + wineserver + " -w").c_str()) != 0) {
    }
}

class WineEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getenv("WINEPREFIX"), nullptr) << "WINEPREFIX must name the prefix to run in";
        setenv("WINEDEBUG", "-all", 1);
        stop_wine();  // no server left over from elsewhere
        directory = make_temp_directory();
        ASSERT_FALSE(directory.empty());
        ASSERT_EQ(mkdir((directory + "/conf").c_str(), 0755), 0);
        for (const char *program : {SRVWARDEN_EXE, PROCESS_EXE, MAP_SERVER_EXE})
            ASSERT_EQ(system(("cp '" + std::string(program) + "' '" + directory + "/'").c_str()), 0) << program;
    }

    void TearDown() override {
        stop_wine();
        remove_tree(directory);
    }

    void configure(const std::string &text) { write_file(directory + "/conf/map_orvane.conf", text); }

    // Runs srvwarden.exe with a limit of 40 and an interval of 2 seconds until
    // `cycles` "Sleeping" lines are on the screen.
    pty_result run_watchdog(size_t cycles) {
        pty_options options;
        // A screen tall and wide enough that nothing scrolls or wraps. Wine
        // gives a program the terminal as its console only when its standard
        // output is the terminal too; standard error stays a pipe.
        options.argv = {"/bin/sh", "-c",
                        "stty cols 200 rows 500 && exec timeout -s KILL 170 " WINE_PROGRAM
                        " srvwarden.exe 40 2 >/dev/tty"};
        // Wine sets COMSPEC to its own cmd.exe; no DISPLAY, so no window opens.
        options.environment = environment_with({"COMSPEC", "DISPLAY", "WAYLAND_DISPLAY"});
        options.directory = directory;
        options.timeout_ms = 150000;
        options.stop_when = [cycles](const std::string &terminal) {
            return count_of(screen_text(terminal), " Sleeping for 2 seconds.\n") >= cycles;
        };
        return run_on_pty(options);
    }

    std::string directory;
};

}  // namespace

TEST_F(WineEndToEnd, AMissingServerIsStartedAndThenLeftAlone) {
    configure("cpu_percent: 0\n");
    pty_result r = run_watchdog(3);
    ASSERT_FALSE(r.timed_out) << screen_text(r.terminal);

    // An idle server reads about 0; the tail of its start-up may show.
    std::string text = screen_text(r.terminal);
    static const std::regex usage(R"(status is OK \((\d+) % CPU\))");
    for (std::sregex_iterator it(text.begin(), text.end(), usage), end; it != end; ++it)
        EXPECT_LE(atoi((*it)[1].str().c_str()), 5) << text;
    const std::string healthy_cycle =
        "[stamp] Checking Windows processes.\n"
        "[stamp] map-server.exe status is OK (N % CPU)\n"
        "[stamp] Sleeping for 2 seconds.\n";
    EXPECT_EQ(std::regex_replace(text, usage, "status is OK (N % CPU)"),
              banner("40", "2") + missing_cycle + healthy_cycle + healthy_cycle);
    // Neither the interpreter nor the tools complained.
    EXPECT_EQ(r.err, "");

    // One start, and that server still runs, alone.
    std::vector<std::string> started = servers_started(directory);
    ASSERT_EQ(started.size(), 1u);
    std::vector<listed_server> running = servers_listed(directory);
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].pid, started[0]);
}

TEST_F(WineEndToEnd, AServerBurningACoreIsKilledAndRestarted) {
    configure("cpu_percent: 100\n");
    pty_result r = run_watchdog(2);
    ASSERT_FALSE(r.timed_out) << screen_text(r.terminal);
    EXPECT_EQ(r.err, "");

    // The usage read depends on how busy the machine is; anything over the
    // limit will do, and it is masked.
    std::string text = screen_text(r.terminal);
    static const std::regex usage(R"(exceeded the allowed CPU usage \((\d+) % CPU\))");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(text, found, usage)) << text;
    int percent = atoi(found[1].str().c_str());
    EXPECT_GT(percent, 40);
    EXPECT_EQ(std::regex_replace(text, usage, "exceeded the allowed CPU usage (N % CPU)"),
              banner("40", "2") + missing_cycle +
                  "[stamp] Checking Windows processes.\n"
                  "[stamp] map-server.exe has exceeded the allowed CPU usage (N % CPU)\n"
                  "[stamp] ... terminating\n"
                  "[stamp] ... restarting\n"
                  "[stamp] Sleeping for 2 seconds.\n");

    // Two starts; the first server was ended by process.exe -k, the second
    // one runs, alone.
    std::vector<std::string> started = wait_for_starts(directory, 2);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_NE(started[0], started[1]);
    EXPECT_EQ(read_file(directory + "/terminate.txt"),
              "Process " + started[0] + " was ended with TerminateProcess.\r\n");
    std::vector<listed_server> running = servers_listed(directory);
    ASSERT_EQ(running.size(), 1u);
    EXPECT_EQ(running[0].pid, started[1]);
}
