// The whole system for real: srvwarden on a pseudo-terminal in a server
// directory, with our own interpreter, process tool and demonstration
// server, and nothing faked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>

#include "child_processes.h"
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

const std::string missing_cycle = "[stamp] Checking Windows processes.\r\n"
                                  "[stamp] map-server.exe does not appear to be running! \r\n"
                                  "[stamp] ... restarting\r\n"
                                  "[stamp] Sleeping for 1 seconds.\r\n";

const std::string healthy_cycle = "[stamp] Checking Windows processes.\r\n"
                                  "[stamp] map-server.exe status is OK (N % CPU)\r\n"
                                  "[stamp] Sleeping for 1 seconds.\r\n";

const std::string runaway_cycle = "[stamp] Checking Windows processes.\r\n"
                                  "[stamp] map-server.exe has exceeded the allowed CPU usage (N % CPU)\r\n"
                                  "[stamp] ... terminating\r\n"
                                  "[stamp] ... restarting\r\n"
                                  "[stamp] Sleeping for 1 seconds.\r\n";

// Time stamps and CPU figures vary from run to run.
std::string masked(const std::string &terminal) {
    static const std::regex usage(R"(\(\d+ % CPU\))");
    return std::regex_replace(mask_stamps(terminal), usage, "(N % CPU)");
}

size_t count(const std::string &text, const std::string &part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) found++;
    return found;
}

// The identifiers in the server's start log, in order of start.
std::vector<pid_t> started_servers(const std::string &log) {
    static const std::regex started(R"(pid (\d+) started at )");
    std::vector<pid_t> pids;
    for (std::sregex_iterator i(log.begin(), log.end(), started), end; i != end; ++i)
        pids.push_back(static_cast<pid_t>(std::stol((*i)[1])));
    return pids;
}

// Other servers on the machine would be found in place of ours.
std::vector<pid_t> servers_anywhere() {
    std::vector<pid_t> found;
    for (pid_t pid = 1; pid < 4194304; pid++) {
        proc_stat stat;
        if (kill(pid, 0) != 0 && errno == ESRCH) continue;
        if (stat_of(pid, &stat) && stat.comm == "map-server.exe" && is_running(pid)) found.push_back(pid);
        if (pid > 100000 && found.empty() && access(("/proc/" + std::to_string(pid)).c_str(), F_OK) != 0 &&
            pid > static_cast<pid_t>(getpid()) + 100000)
            break;
    }
    return found;
}

class RealRun : public ::testing::Test {
protected:
    void SetUp() override {
        // One real run on the machine at a time, whichever build runs it.
        lock = open("/tmp/srvwarden-real-run.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0666);
        ASSERT_GE(lock, 0);
        ASSERT_EQ(flock(lock, LOCK_EX), 0);
        become_subreaper();
        directory = make_temp_directory();
        ASSERT_FALSE(directory.empty());
        copy_program(MAP_SERVER, directory + "/map-server.exe");
        ASSERT_EQ(mkdir((directory + "/conf").c_str(), 0755), 0);
        std::vector<pid_t> others = servers_anywhere();
        ASSERT_TRUE(others.empty()) << "another map-server.exe is running (pid " << others[0]
                                    << "); a real run needs the machine to itself";
    }

    void TearDown() override {
        if (!directory.empty()) {
            for (pid_t pid : processes_running_from(directory)) kill(pid, SIGKILL);
            stop_all_children();
            EXPECT_EQ(processes_running_from(directory), std::vector<pid_t>()) << "left running";
            remove_tree(directory);
        }
        if (lock >= 0) close(lock);
    }

    void configure(const std::string &conf) { write_file(directory + "/conf/map_orvane.conf", conf); }

    std::string log() { return read_file(directory + "/map-server.log"); }

    // Runs srvwarden 40 1 until `sleeps` cycles have ended.
    pty_result watch(size_t sleeps, const std::vector<std::string> &environment) {
        pty_options options;
        options.argv = {SRVWARDEN_BINARY, "40", "1"};
        options.environment = environment_with(environment);
        options.environment.push_back("SRVWARDEN_SAMPLE_MS=300");
        options.directory = directory;
        options.timeout_ms = 30000;
        options.stop_when = [sleeps](const std::string &terminal) {
            return count(terminal, "Sleeping for 1 seconds.\r\n") >= sleeps;
        };
        return run_on_pty(options);
    }

    int lock = -1;
    std::string directory;
};

class MissingServer : public RealRun, public ::testing::WithParamInterface<bool> {};

TEST_P(MissingServer, IsStartedAndThenReportedHealthy) {
    configure("cpu_percent: 0\n");
    // The interpreter named by COMSPEC, or the default one beside srvwarden.
    std::vector<std::string> environment = {"COMSPEC"};
    if (GetParam()) environment.push_back(std::string("COMSPEC=") + INTERPRETER);
    pty_result r = watch(3, environment);

    EXPECT_FALSE(r.timed_out);
    std::string expected = banner_with("40", "1") + missing_cycle + healthy_cycle + healthy_cycle;
    EXPECT_EQ(masked(r.terminal).substr(0, expected.size()), expected) << r.terminal;
    // Neither the interpreter nor the tool had anything to complain about.
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    std::vector<pid_t> servers = started_servers(log());
    ASSERT_EQ(servers.size(), 1u) << log();
    EXPECT_TRUE(is_running(servers[0]));
    EXPECT_EQ(processes_running_from(directory), servers);
    EXPECT_NE(read_file(directory + "/process.txt").find("\r\nmap-server.exe " + std::to_string(servers[0]) + " "),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Interpreter, MissingServer, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &parameter) {
                             return parameter.param ? std::string("NamedByComspec") : std::string("BesideSrvwarden");
                         });

TEST_F(RealRun, ARunawayServerIsKilledAndExactlyOneNewOneRuns) {
    configure("cpu_percent: 100\n");
    pty_result r = watch(2, {"COMSPEC=" + std::string(INTERPRETER)});

    EXPECT_FALSE(r.timed_out);
    std::string expected = banner_with("40", "1") + missing_cycle + runaway_cycle;
    EXPECT_EQ(masked(r.terminal).substr(0, expected.size()), expected) << r.terminal;
    EXPECT_EQ(r.err, "");

    std::vector<pid_t> servers = started_servers(log());
    ASSERT_EQ(servers.size(), 2u) << log();
    EXPECT_NE(log().find("pid " + std::to_string(servers[0]) + " stopped at "), std::string::npos) << log();
    EXPECT_EQ(read_file(directory + "/terminate.txt"),
              "Process " + std::to_string(servers[0]) + " ended after SIGTERM.\r\n");
    EXPECT_FALSE(is_running(servers[0]));
    EXPECT_EQ(processes_running_from(directory), std::vector<pid_t>{servers[1]});
}

TEST_F(RealRun, AHealthyServerIsLeftAloneForSeveralCycles) {
    configure("cpu_percent: 10\n");
    pid_t server = start_program({directory + "/map-server.exe", "conf/map_orvane.conf"}, directory);
    ASSERT_TRUE(wait_until([&] { return !started_servers(log()).empty(); }, 5000));
    pty_result r = watch(3, {"COMSPEC=" + std::string(INTERPRETER)});

    EXPECT_FALSE(r.timed_out);
    std::string expected = banner_with("40", "1") + healthy_cycle + healthy_cycle + healthy_cycle;
    EXPECT_EQ(masked(r.terminal).substr(0, expected.size()), expected) << r.terminal;
    EXPECT_EQ(started_servers(log()), std::vector<pid_t>{server});
    EXPECT_TRUE(is_running(server));
    EXPECT_FALSE(read_file(directory + "/terminate.txt").size() > 0);
}

}  // namespace
