// The real srvwarden binary through whole check cycles on a pseudo-terminal,
// with an interpreter stand-in that serves prepared lists cycle by cycle.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "pty_run.h"

namespace {

std::string banner_with(const std::string &limit, const std::string &interval) {
    return "Orvane map-server.exe auto-restart tool by Tolvek\r\n"
           "-------------------------------------------------\r\n\r\n"
           "- Using a CPU limit of " + limit + " %.\r\n"
           "CPU limit may be overridden with first command line parameter.\r\n"
           "(ex. \"srvwarden 50\" for 50% CPU limit)\r\n"
           "\r\n- map-server.exe's status will be checked every " + interval + " seconds\r\n"
           "Status checking interval may be overridden with second command line parameter.\r\n"
           "(ex. \"srvwarden 50 30\" for 50% CPU limit & 30 second check)\r\n\r\n";
}

const std::string header = "Image Name PID Priority CPU-Time CPU% Mem(KiB)\r\n";

std::string list_with(const std::string &server_row) {
    return header + "init 1 Normal 0:00:03 0 1200 \r\n" + server_row + "bash 77 Normal 0:00:00 0 3000 \r\n";
}

class CycleEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        directory = make_temp_directory();
        ASSERT_EQ(mkdir_lists(), 0);
        std::string copy = "cp '" FIXTURES_DIR "/fake-cmd.sh' '" + directory + "/fake-cmd.sh'";
        ASSERT_EQ(system(copy.c_str()), 0);
    }
    void TearDown() override { remove_tree(directory); }

    int mkdir_lists() { return system(("mkdir -p '" + directory + "/lists'").c_str()); }

    void serve(const std::vector<std::string> &lists) {
        for (size_t i = 0; i < lists.size(); i++)
            write_file(directory + "/lists/" + std::to_string(i + 1) + ".txt", lists[i]);
    }

    pty_result run(const std::vector<std::string> &parameters, const std::string &comspec) {
        pty_options options;
        options.argv = {SRVWARDEN_BINARY};
        options.argv.insert(options.argv.end(), parameters.begin(), parameters.end());
        options.environment = environment_with({"COMSPEC", "ComSpec=" + comspec});
        options.directory = directory;
        return run_on_pty(options);
    }

    std::string directory;
};

}  // namespace

TEST_F(CycleEndToEnd, HealthyThenOverTheLimitThenMissingThenTheListRunsOut) {
    serve({list_with("map-server.exe 812 Normal 0:00:05 12 52000 \r\n"),
           list_with("map-server.exe 812 Normal 0:00:09 97 52000 \r\n"),
           list_with("")});
    pty_result r = run({"40", "0"}, "fake-cmd.sh");

    EXPECT_EQ(mask_stamps(r.terminal),
              banner_with("40", "0") +
                  "[stamp] Checking Windows processes.\r\n"
                  "[stamp] map-server.exe status is OK (12 % CPU)\r\n"
                  "[stamp] Sleeping for 0 seconds.\r\n"
                  "[stamp] Checking Windows processes.\r\n"
                  "[stamp] map-server.exe has exceeded the allowed CPU usage (97 % CPU)\r\n"
                  "[stamp] ... terminating\r\n"
                  "[stamp] ... restarting\r\n"
                  "[stamp] Sleeping for 0 seconds.\r\n"
                  "[stamp] Checking Windows processes.\r\n"
                  "[stamp] map-server.exe does not appear to be running! \r\n"
                  "[stamp] ... restarting\r\n"
                  "[stamp] Sleeping for 0 seconds.\r\n"
                  "[stamp] Checking Windows processes.\r\n"
                  "There was an error reading the process list file.");
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    // Every command reached the interpreter as one argument, byte for byte.
    EXPECT_EQ(read_file(directory + "/commands.log"),
              "1| /C process.exe > process.txt\n"
              "1| /C process.exe > process.txt\n"
              "1| /C process.exe -k  812  > terminate.txt\n"
              "1| /C start /min /abovenormal map-server.exe conf\\map_orvane.conf\n"
              "1| /C process.exe > process.txt\n"
              "1| /C start /min /abovenormal map-server.exe conf\\map_orvane.conf\n"
              "1| /C process.exe > process.txt\n");
}

TEST_F(CycleEndToEnd, StampsShowTheLocalTimeToTheMinute) {
    serve({});
    pty_result r = run({"40", "0"}, "fake-cmd.sh");
    ASSERT_EQ(r.exit_status, 3);
    size_t at = r.terminal.find("] Checking");
    ASSERT_NE(at, std::string::npos);
    std::string stamp = r.terminal.substr(at - 17, 18);
    // Taken within a minute of each other, the two stamps agree but for a
    // minute that turned between them.
    char now[32];
    time_t seconds = time(nullptr);
    struct tm local;
    localtime_r(&seconds, &local);
    strftime(now, sizeof now, "[%m/%d/%y @ %H:%M]", &local);
    seconds -= 60;
    localtime_r(&seconds, &local);
    char before[32];
    strftime(before, sizeof before, "[%m/%d/%y @ %H:%M]", &local);
    EXPECT_TRUE(stamp == now || stamp == before) << stamp << " vs " << now;
}

TEST_F(CycleEndToEnd, AnOldListIsReadWhenTheInterpreterCannotStart) {
    write_file(directory + "/process.txt", list_with("map-server.exe 5 Normal 0:00:01 3 100 \r\n"));
    pty_options options;
    options.argv = {SRVWARDEN_BINARY, "40", "0"};
    options.environment = environment_with({"COMSPEC=missing.bat"});
    options.directory = directory;
    options.stop_when = [](const std::string &terminal) {
        // Two healthy cycles from the same stale list.
        size_t first = terminal.find("status is OK (3 % CPU)");
        return first != std::string::npos && terminal.find("status is OK (3 % CPU)", first + 1) != std::string::npos;
    };
    pty_result r = run_on_pty(options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_EQ(mask_stamps(r.terminal).find("[stamp] Checking Windows processes.\r\n"
                                           "[stamp] map-server.exe status is OK (3 % CPU)\r\n"
                                           "[stamp] Sleeping for 0 seconds.\r\n"),
              banner_with("40", "0").size());
}

TEST_F(CycleEndToEnd, CtrlCAtTheConsoleEndsTheWatchdogAtOnce) {
    serve({list_with("map-server.exe 812 Normal 0:00:05 1 52000 \r\n")});
    pty_options options;
    options.argv = {SRVWARDEN_BINARY, "40", "3600"};
    options.environment = environment_with({"COMSPEC=fake-cmd.sh"});
    options.directory = directory;
    options.signals = true;
    options.timeout_ms = 10000;
    options.type_when = [](const std::string &terminal) {
        return terminal.find("Sleeping for 3600 seconds.\r\n") != std::string::npos ? std::string("\x03")
                                                                                      : std::string();
    };
    pty_result r = run_on_pty(options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, SIGINT);
}

TEST_F(CycleEndToEnd, TheConsoleIsNotHandedDownToTheCommands) {
    // The stand-in notes every descriptor it inherited beyond the standard
    // three, then leaves an empty list to end the run.
    write_file(directory + "/fds.sh",
               "#!/bin/sh\n"
               "for fd in /proc/$$/fd/*; do\n"
               "  n=${fd##*/}; [ \"$n\" -gt 2 ] && readlink \"$fd\" >> inherited.txt\n"
               "done\n"
               ": > process.txt\n");
    ASSERT_EQ(chmod((directory + "/fds.sh").c_str(), 0755), 0);
    pty_result r = run({"40", "0"}, "fds.sh");
    ASSERT_EQ(r.exit_status, 3);
    EXPECT_EQ(read_file(directory + "/inherited.txt").find("/dev/tty"), std::string::npos)
        << read_file(directory + "/inherited.txt");
}

namespace {

// The stamp the local clock of zone `zone` shows `seconds` after 1970.
std::string stamp_in_zone(const char *zone, time_t seconds) {
    const char *old_zone = getenv("TZ");
    bool had = old_zone != nullptr;
    std::string saved = had ? old_zone : "";
    setenv("TZ", zone, 1);
    tzset();
    struct tm local;
    localtime_r(&seconds, &local);
    char text[32];
    strftime(text, sizeof text, "[%m/%d/%y @ %H:%M]", &local);
    if (had)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    return text;
}

}  // namespace

TEST_F(CycleEndToEnd, StampsPast2038ShowTheRightLocalTime) {
    const char *faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    if (access(faketime, R_OK) != 0) GTEST_SKIP() << "libfaketime is not installed";
    // libfaketime reads an absolute "@" time as local time, so the zones are
    // told apart with an offset from now: 6000 days on is well past 2038.
    const long offset = 6000L * 24 * 3600;
    struct clock_case {
        const char *zone;
        const char *fake_time;
        const char *stamp;  // nullptr: computed from now + offset
    };
    const clock_case cases[] = {
        {"UTC0", "@2040-03-05 07:08:09", "[03/05/40 @ 07:08]"},
        {"UTC0", "@2106-02-07 06:28:20", "[02/07/06 @ 06:28]"},  // past the unsigned 32-bit range too
        {"UTC0", "+6000d", nullptr},
        {"JST-9", "+6000d", nullptr},
        {"EST5EDT", "+6000d", nullptr},
    };
    for (const clock_case &c : cases) {
        pty_options options;
        options.argv = {SRVWARDEN_BINARY, "40", "0"};
        options.environment = environment_with(
            {"COMSPEC=no-such-interpreter.exe", std::string("TZ=") + c.zone, std::string("LD_PRELOAD=") + faketime,
             std::string("FAKETIME=") + c.fake_time, "ASAN_OPTIONS=verify_asan_link_order=0"});
        options.directory = directory;
        time_t before = time(nullptr) + offset;
        pty_result r = run_on_pty(options);
        time_t after = time(nullptr) + offset;
        EXPECT_EQ(r.exit_status, 4) << c.zone;
        size_t at = r.terminal.find(" Checking Windows processes.\r\n");
        ASSERT_NE(at, std::string::npos) << c.zone;
        std::string shown = r.terminal.substr(at - 18, 18);
        if (c.stamp != nullptr)
            EXPECT_EQ(shown, c.stamp) << c.zone;
        else
            EXPECT_TRUE(shown == stamp_in_zone(c.zone, before) || shown == stamp_in_zone(c.zone, after))
                << c.zone << ": " << shown << " vs " << stamp_in_zone(c.zone, before);
    }
}
