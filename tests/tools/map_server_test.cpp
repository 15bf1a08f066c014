// The demonstration server: its start log, its clean end, its settings.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "child_processes.h"
#include "pty_run.h"

namespace {

std::string mask_times(const std::string &log) {
    static const std::regex time(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    return std::regex_replace(log, time, "<time>");
}

class MapServer : public ::testing::Test {
protected:
    void SetUp() override {
        directory = make_temp_directory();
        ASSERT_FALSE(directory.empty());
    }
    void TearDown() override {
        stop_all_children();
        remove_tree(directory);
    }
    std::string directory;
};

TEST_F(MapServer, LogsEveryStartAndEndsCleanlyOnSigterm) {
    write_file(directory + "/server.conf", "// quiet\ncpu_percent: 0\nstart_log: logs.txt  // beside the conf\n");
    std::string log = directory + "/logs.txt";
    for (int run = 1; run <= 2; run++) {
        pid_t server = start_program({MAP_SERVER, "server.conf"}, directory);
        ASSERT_TRUE(wait_until([&] { return read_file(log).find("pid " + std::to_string(server)) != std::string::npos; },
                               5000));
        kill(server, SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(server, &status, 0), server);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << run;
        std::string lines = "pid " + std::to_string(server) + " started at <time>\npid " + std::to_string(server) +
                            " stopped at <time> on SIGTERM\n";
        EXPECT_NE(mask_times(read_file(log)).find(lines), std::string::npos) << read_file(log);
    }
    // Appended, not replaced.
    std::string all = read_file(log);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 4);
}

TEST_F(MapServer, EndsByItselfWhenToldTo) {
    write_file(directory + "/server.conf", "exit_after: 1\n");
    pid_t server = start_program({MAP_SERVER, "server.conf"}, directory);
    int status = 0;
    ASSERT_EQ(waitpid(server, &status, 0), server);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(mask_times(read_file(directory + "/map-server.log")),
              "pid " + std::to_string(server) + " started at <time>\npid " + std::to_string(server) +
                  " exited at <time> after 1 s\n");
}

TEST_F(MapServer, AConfigurationItCannotReadEndsIt) {
    const struct {
        const char *content;  // nullptr: no file
        const char *err;
    } cases[] = {
        {nullptr, "map-server.exe: cannot read 'server.conf': No such file or directory\n"},
        {"cpu_percent: 10\ncpu: 5\n", "map-server.exe: server.conf:2: unknown setting 'cpu'\n"},
        {"cpu_percent: 150\n", "map-server.exe: server.conf:1: bad value '150' for cpu_percent\n"},
        {"busy_after: soon\n", "map-server.exe: server.conf:1: bad value 'soon' for busy_after\n"},
        {"start_log:\n", "map-server.exe: server.conf:1: bad value '' for start_log\n"},
        {"cpu_percent 10\n", "map-server.exe: server.conf:1: expected 'name: value'\n"},
    };
    for (const auto &c : cases) {
        remove((directory + "/server.conf").c_str());
        if (c.content != nullptr) write_file(directory + "/server.conf", c.content);
        pty_options options;
        options.argv = {MAP_SERVER, "server.conf"};
        options.environment = environment_with({"LC_ALL=C"});
        options.directory = directory;
        options.with_terminal = false;
        pty_result r = run_on_pty(options);
        EXPECT_EQ(r.exit_status, 2) << c.err;
        EXPECT_EQ(r.err, c.err);
    }
}

}  // namespace
