#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "../../watchdog/watchdog.h"
#include "../fake_platform.h"

namespace {

const char list_command[] = " /C process.exe > process.txt";
const char restart_command[] = " /C start /min /abovenormal map-server.exe conf\\map_orvane.conf";

// Stamp N is "[07/04/05 @ 18:0N]": the fake clock moves one minute per refresh.
std::string stamp(int n) { return "[07/04/05 @ 18:0" + std::to_string(n) + "]"; }

void tick_clock() {
    fake.clock.clear();
    for (int minute = 1; minute <= 9; minute++) fake.clock.push_back({2005, 7, 4, 18, minute});
}

std::string row(const std::string &pid, const std::string &cpu) {
    return "Image PID Priority CPU-Time CPU% Mem\r\nidle.exe 0 Normal 0:00:00 0 4\r\nmap-server.exe " + pid +
           " Normal 0:01:02 " + cpu + " 2048\r\n";
}

class Cycle : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        tick_clock();
        reset_scanner();
        cpu_limit = 40;
        check_interval = 40;
    }
    void TearDown() override {
        reset_scanner();
        cpu_limit = 40;
        check_interval = 40;
    }
    std::vector<std::string> command_lines() const {
        std::vector<std::string> lines;
        for (const fake_command &c : fake.commands) lines.push_back(c.command_line);
        return lines;
    }
};

struct decision_case {
    const char *name;
    int32_t limit;
    std::string list;
    std::string console;  // after the "Checking" line
    std::vector<std::string> commands;
};

}  // namespace

TEST_F(Cycle, DecidesFromTheServersRow) {
    const std::string kill_812 = " /C process.exe -k  812  > terminate.txt";
    const decision_case cases[] = {
        {"below the limit", 40, row("812", "12"),
         stamp(2) + " map-server.exe status is OK (12 % CPU)\r\n" + stamp(2) + " Sleeping for 40 seconds.\r\n",
         {list_command}},
        {"equal to the limit is OK", 40, row("812", "40"),
         stamp(2) + " map-server.exe status is OK (40 % CPU)\r\n" + stamp(2) + " Sleeping for 40 seconds.\r\n",
         {list_command}},
        {"one above the limit", 40, row("812", "41"),
         stamp(2) + " map-server.exe has exceeded the allowed CPU usage (41 % CPU)\r\n" + stamp(2) +
             " ... terminating\r\n" + stamp(3) + " ... restarting\r\n" + stamp(3) + " Sleeping for 40 seconds.\r\n",
         {list_command, kill_812, restart_command}},
        {"missing server", 40, "Image PID\r\nother.exe 1 a b 99 \r\n",
         stamp(2) + " map-server.exe does not appear to be running! \r\n" + stamp(2) + " ... restarting\r\n" +
             stamp(2) + " Sleeping for 40 seconds.\r\n",
         {list_command, restart_command}},
        {"row ends before four columns", 40, "map-server.exe 812 Normal\r\n",
         stamp(2) + " map-server.exe does not appear to be running! \r\n" + stamp(2) + " ... restarting\r\n" +
             stamp(2) + " Sleeping for 40 seconds.\r\n",
         {list_command, restart_command}},
        {"cpu column not a number", 40, row("812", "n/a"),
         stamp(2) + " map-server.exe status is OK (0 % CPU)\r\n" + stamp(2) + " Sleeping for 40 seconds.\r\n",
         {list_command}},
        {"limit of 0 and usage 0", 0, row("812", "0"),
         stamp(2) + " map-server.exe status is OK (0 % CPU)\r\n" + stamp(2) + " Sleeping for 40 seconds.\r\n",
         {list_command}},
        {"negative limit: 0 is exceeded", -1, row("812", "0"),
         stamp(2) + " map-server.exe has exceeded the allowed CPU usage (0 % CPU)\r\n" + stamp(2) +
             " ... terminating\r\n" + stamp(3) + " ... restarting\r\n" + stamp(3) + " Sleeping for 40 seconds.\r\n",
         {list_command, kill_812, restart_command}},
        {"negative usage against the limit is compared signed", 40, row("812", "-5"),
         stamp(2) + " map-server.exe status is OK (4294967291 % CPU)\r\n" + stamp(2) +
             " Sleeping for 40 seconds.\r\n",
         {list_command}},
        {"usage that wraps to negative", 40, row("812", "4294967295"),
         stamp(2) + " map-server.exe status is OK (4294967295 % CPU)\r\n" + stamp(2) +
             " Sleeping for 40 seconds.\r\n",
         {list_command}},
        {"ten-digit identifier is killed", 40, row("4294967295", "99"),
         stamp(2) + " map-server.exe has exceeded the allowed CPU usage (99 % CPU)\r\n" + stamp(2) +
             " ... terminating\r\n" + stamp(3) + " ... restarting\r\n" + stamp(3) + " Sleeping for 40 seconds.\r\n",
         {list_command, " /C process.exe -k  4294967295  > terminate.txt", restart_command}},
    };
    for (const decision_case &c : cases) {
        SetUp();
        cpu_limit = c.limit;
        fake.lists = {c.list};
        check_once();
        EXPECT_EQ(fake.console, stamp(1) + " Checking Windows processes.\r\n" + c.console) << c.name;
        EXPECT_EQ(command_lines(), c.commands) << c.name;
        EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{40000}) << c.name;
    }
}

TEST_F(Cycle, CommandsRunAfterTheirMessages) {
    fake.lists = {row("812", "97")};
    check_once();
    ASSERT_EQ(fake.commands.size(), 3u);
    auto console_before = [](size_t command) {
        return fake.console.substr(0, fake.commands[command].console_length);
    };
    EXPECT_EQ(console_before(0), stamp(1) + " Checking Windows processes.\r\n");
    const std::string terminating = stamp(2) + " ... terminating\r\n";
    const std::string restarting = stamp(3) + " ... restarting\r\n";
    EXPECT_EQ(console_before(1).substr(console_before(1).size() - terminating.size()), terminating);
    EXPECT_EQ(console_before(2).substr(console_before(2).size() - restarting.size()), restarting);
}

TEST_F(Cycle, IdentifiersThatAreNotNumbersAreNeverPutOnACommandLine) {
    const char *identifiers[] = {"&del", "12a", "12345678901", "-5", "+5", "1\r", "0x1f"};
    for (const char *pid : identifiers) {
        SetUp();
        fake.lists = {row(pid, "99")};
        check_once();
        EXPECT_EQ(fake.console, stamp(1) + " Checking Windows processes.\r\n" + stamp(2) +
                                    " map-server.exe has exceeded the allowed CPU usage (99 % CPU)\r\n" + stamp(2) +
                                    " ... its process identifier is not a number; map-server.exe is left alone\r\n" +
                                    stamp(2) + " Sleeping for 40 seconds.\r\n")
            << pid;
        EXPECT_EQ(command_lines(), std::vector<std::string>{list_command}) << pid;
    }
}

TEST_F(Cycle, AnIdentifierCarryingACommandIsLeftAlone) {
    fake.lists = {"map-server.exe &del x& a b 99 \r\n"};
    check_once();
    EXPECT_EQ(command_lines(), std::vector<std::string>{list_command});
    EXPECT_EQ(fake.console.find("del"), std::string::npos);  // the untrusted text is not echoed
}

TEST(ProcessNumber, AcceptsOneToTenDigitsOnly) {
    EXPECT_TRUE(is_process_number("1"));
    EXPECT_TRUE(is_process_number("0"));
    EXPECT_TRUE(is_process_number("1234567890"));
    EXPECT_FALSE(is_process_number(""));
    EXPECT_FALSE(is_process_number("12345678901"));
    EXPECT_FALSE(is_process_number("12 3"));
    EXPECT_FALSE(is_process_number("١٢"));  // not ASCII digits
}

TEST_F(Cycle, SleepsTheIntervalInMillisecondsAsAnUnsigned32BitCount) {
    struct sleep_case {
        int32_t interval;
        uint32_t milliseconds;
        const char *shown;
    };
    const sleep_case cases[] = {
        {40, 40000, "40"},
        {0, 1, "0"},                        // a count of 0 sleeps one millisecond
        {1, 1000, "1"},
        {4294968, 704, "4294968"},          // 4294968000 mod 2^32
        {-1, 4294966296u, "4294967295"},    // a negative interval sleeps very long
        {2147483647, 4294966296u, "2147483647"},
    };
    for (const sleep_case &c : cases) {
        SetUp();
        check_interval = c.interval;
        fake.lists = {row("812", "1")};
        check_once();
        EXPECT_EQ(fake.sleeps, std::vector<uint32_t>{c.milliseconds}) << c.interval;
        EXPECT_NE(fake.console.find(std::string(" Sleeping for ") + c.shown + " seconds.\r\n"), std::string::npos)
            << c.interval;
    }
}

TEST_F(Cycle, ThreeCyclesInARowResetTheScannerBetweenThem) {
    // healthy, then missing, then over the limit: each cycle sees only its own list.
    fake.lists = {row("812", "5"), "Image PID\r\nother.exe 7 a b 1 \r\n", row("900", "95")};
    check_once();
    check_once();
    check_once();
    EXPECT_EQ(fake.console,
              stamp(1) + " Checking Windows processes.\r\n" + stamp(2) + " map-server.exe status is OK (5 % CPU)\r\n" +
                  stamp(2) + " Sleeping for 40 seconds.\r\n" +
                  stamp(3) + " Checking Windows processes.\r\n" + stamp(4) +
                  " map-server.exe does not appear to be running! \r\n" + stamp(4) + " ... restarting\r\n" +
                  stamp(4) + " Sleeping for 40 seconds.\r\n" +
                  stamp(5) + " Checking Windows processes.\r\n" + stamp(6) +
                  " map-server.exe has exceeded the allowed CPU usage (95 % CPU)\r\n" + stamp(6) +
                  " ... terminating\r\n" + stamp(7) + " ... restarting\r\n" + stamp(7) +
                  " Sleeping for 40 seconds.\r\n");
    EXPECT_EQ(command_lines(), (std::vector<std::string>{list_command, list_command, restart_command, list_command,
                                                          " /C process.exe -k  900  > terminate.txt",
                                                          restart_command}));
    EXPECT_EQ(fake.sleeps, (std::vector<uint32_t>{40000, 40000, 40000}));
    EXPECT_EQ(scan_state, SEEK_NAME);
}

TEST_F(Cycle, AFailedCaptureEndsTheProgramAfterTheCheckingLine) {
    fake.lists = {""};
    EXPECT_TRUE(fake_runs_to_exit([] { check_once(); }));
    EXPECT_EQ(fake.exit_status, 3);
    EXPECT_EQ(fake.console,
              stamp(1) + " Checking Windows processes.\r\nThere was an error reading the process list file.");
    EXPECT_TRUE(fake.sleeps.empty());
}

TEST(Timestamp, FormatsMonthDayYearHourMinuteWithLeadingZeros) {
    struct stamp_case {
        platform_time time;
        const char *text;
    };
    const stamp_case cases[] = {
        {{2005, 7, 4, 18, 9}, "[07/04/05 @ 18:09]"},
        {{1970, 1, 1, 0, 0}, "[01/01/70 @ 00:00]"},
        {{1999, 12, 31, 23, 59}, "[12/31/99 @ 23:59]"},
        {{2038, 1, 19, 3, 14}, "[01/19/38 @ 03:14]"},
        {{2100, 2, 28, 12, 5}, "[02/28/00 @ 12:05]"},
    };
    for (const stamp_case &c : cases) {
        char out[timestamp_capacity];
        format_timestamp(&c.time, out);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(strlen(out), 18u);
    }
}
