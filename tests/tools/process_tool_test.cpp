// The real process.exe: its table, its names, and ending processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "child_processes.h"
#include "process_tool.h"

namespace {

const char header[] = "Image-Name PID Priority CPU-Time CPU% Mem(KiB) \r\n";

// Listings that do not measure usage need no long window.
const std::vector<std::string> quick = {"SRVWARDEN_SAMPLE_MS=50"};

void pause_forever() {
    for (;;) pause();
}

class ProcessTool : public ::testing::Test {
protected:
    void SetUp() override {
        become_subreaper();
        directory = make_temp_directory();
        ASSERT_FALSE(directory.empty());
        write_file(directory + "/idle.conf", "cpu_percent: 0\nstart_log: server.log\n");
    }
    void TearDown() override {
        stop_all_children();
        remove_tree(directory);
    }

    // Starts the demonstration server under the file name `name`, idle.
    pid_t start_server_as(const std::string &name, int nice_value = 0) {
        copy_program(MAP_SERVER, directory + "/" + name);
        return start_program({directory + "/" + name, "idle.conf"}, directory, nice_value);
    }

    std::map<pid_t, std::vector<std::string>> listing() {
        pty_result r = run_process_tool({}, quick);
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.err, "");
        return rows_of(r.out);
    }

    std::string directory;
};

TEST_F(ProcessTool, TheTableHasAHeaderAndOneWellFormedRowPerProcess) {
    pid_t server = start_server_as("cpu-burner.exe", 10);
    ASSERT_TRUE(wait_until([&] { return read_file(directory + "/server.log") != ""; }, 5000));
    pty_result r = run_process_tool({}, quick);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out.compare(0, sizeof header - 1, header), 0) << r.out.substr(0, 80);

    static const std::regex row(
        R"([^ \r\n]+ [1-9][0-9]* (Realtime|High|AboveNormal|Normal|BelowNormal|Low) [0-9]+:[0-5][0-9]:[0-5][0-9] [0-9]+ [0-9]+ )");
    std::istringstream lines(r.out.substr(sizeof header - 1));
    std::string line;
    long previous = 0;
    while (std::getline(lines, line, '\n')) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r') << line;
        line.pop_back();
        EXPECT_TRUE(std::regex_match(line, row)) << line;
        long pid = std::stol(line.substr(line.find(' ') + 1));
        EXPECT_GT(pid, previous) << "rows out of order at " << line;
        previous = pid;
    }

    auto rows = rows_of(r.out);
    ASSERT_EQ(rows.count(server), 1u);
    const std::vector<std::string> &columns = rows[server];
    EXPECT_EQ(columns[0], "cpu-burner.exe");
    EXPECT_EQ(columns[2], "BelowNormal");
    EXPECT_EQ(columns[3], "0:00:00");
    EXPECT_GT(std::stol(columns[5]), 0) << "resident memory";
    // This test itself is listed too.
    EXPECT_EQ(rows.count(getpid()), 1u);
}

TEST_F(ProcessTool, AZombieIsNotListed) {
    pid_t running = start_child(pause_forever);
    pid_t zombie = start_child([] {});
    ASSERT_TRUE(wait_until([&] { return !is_running(zombie); }, 5000));
    auto rows = listing();
    EXPECT_EQ(rows.count(running), 1u);
    EXPECT_EQ(rows.count(zombie), 0u);
}

TEST_F(ProcessTool, EveryNameStaysOneToken) {
    pid_t spaced = start_server_as("my server.exe");
    pid_t long_name = start_server_as("a-rather-long-server-name.exe");
    // A name made to start a row of its own.
    pid_t forger = start_child([] {
        prctl(PR_SET_NAME, "\nmap-server.exe");
        pause_forever();
    });
    ASSERT_TRUE(wait_until(
        [&] {
            proc_stat a, b, c;
            return stat_of(spaced, &a) && a.comm == "my server.exe" && stat_of(long_name, &b) &&
                   b.comm == "a-rather-long-s" && stat_of(forger, &c) && c.comm == "\nmap-server.exe";
        },
        5000));
    auto rows = listing();
    ASSERT_FALSE(rows.empty()) << "a row did not end with \" \\r\\n\"";
    EXPECT_EQ(rows[spaced][0], "my_server.exe");
    EXPECT_EQ(rows[long_name][0], "a-rather-long-server-name.exe");
    EXPECT_EQ(rows[forger][0], "_map-server.exe");
    for (pid_t pid : {spaced, long_name, forger}) EXPECT_EQ(rows[pid].size(), 6u) << rows[pid][0];
}

class EndingAProcess : public ProcessTool {
protected:
    pty_result end(pid_t pid, const std::vector<std::string> &environment = {}) {
        return run_process_tool({"-k", std::to_string(pid)}, environment);
    }
};

TEST_F(EndingAProcess, AProcessThatHeedsSigtermEndsByIt) {
    pid_t server = start_server_as("cpu-burner.exe");
    ASSERT_TRUE(wait_until([&] { return read_file(directory + "/server.log") != ""; }, 5000));
    pty_result r = end(server);
    EXPECT_EQ(r.out, "Process " + std::to_string(server) + " ended after SIGTERM.\r\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exit_status, 0);
    int status = 0;
    ASSERT_EQ(waitpid(server, &status, 0), server);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(read_file(directory + "/server.log").find(" on SIGTERM\n"), std::string::npos);
}

TEST_F(EndingAProcess, AProcessThatIgnoresSigtermIsKilled) {
    pid_t stubborn = start_child([] {
        signal(SIGTERM, SIG_IGN);
        pause_forever();
    });
    ASSERT_TRUE(wait_until(
        [&] {
            std::string status = read_file("/proc/" + std::to_string(stubborn) + "/status");
            return status.find("SigIgn:\t0000000000004000") != std::string::npos;
        },
        5000));
    pty_result r = end(stubborn, {"SRVWARDEN_KILL_GRACE_MS=200"});
    EXPECT_EQ(r.out, "Process " + std::to_string(stubborn) +
                         " did not end within 200 ms of SIGTERM and was killed with SIGKILL.\r\n");
    EXPECT_EQ(r.exit_status, 0);
    int status = 0;
    ASSERT_EQ(waitpid(stubborn, &status, 0), stubborn);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST_F(EndingAProcess, AProcessThatIsGoneOrAZombieIsReportedAsNotRunning) {
    pid_t vanished = start_child([] {});
    ASSERT_EQ(waitpid(vanished, nullptr, 0), vanished);
    pid_t zombie = start_child([] {});
    ASSERT_TRUE(wait_until([&] { return !is_running(zombie); }, 5000));
    for (pid_t pid : {vanished, zombie}) {
        pty_result r = end(pid);
        EXPECT_EQ(r.out, "Process " + std::to_string(pid) + " is not running.\r\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exit_status, 0);
    }
}

TEST_F(EndingAProcess, WhatIsNotAProcessToEndIsRefused) {
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
        const char *out;
        const char *err;
    } cases[] = {
        {{"-k", "abc"}, {}, "'abc' is not a process identifier.\r\n", ""},
        {{"-k", "-5"}, {}, "'-5' is not a process identifier.\r\n", ""},
        {{"-k", ""}, {}, "'' is not a process identifier.\r\n", ""},
        {{"-k", "2147483648"}, {}, "'2147483648' is not a process identifier.\r\n", ""},
        {{"-k", "0"}, {}, "Refusing to end process 0.\r\n", ""},
        {{"-k", "1"}, {}, "Refusing to end process 1.\r\n", ""},
        {{"-k", "00001"}, {}, "Refusing to end process 1.\r\n", ""},
        {{"-k"}, {}, "", "process.exe: usage: process.exe [-k PID]\n"},
        {{"-x", "5"}, {}, "", "process.exe: usage: process.exe [-k PID]\n"},
        {{"-k", "5", "6"}, {}, "", "process.exe: usage: process.exe [-k PID]\n"},
        {{"-k", "5"}, {"SRVWARDEN_KILL_GRACE_MS=soon"}, "",
         "process.exe: SRVWARDEN_KILL_GRACE_MS must be a whole number of milliseconds from 0 to 60000, not 'soon'\n"},
        {{}, {"SRVWARDEN_SAMPLE_MS=5"}, "",
         "process.exe: SRVWARDEN_SAMPLE_MS must be a whole number of milliseconds from 10 to 60000, not '5'\n"},
    };
    for (const auto &c : cases) {
        pty_result r = run_process_tool(c.arguments, c.environment);
        std::string shown = c.arguments.empty() ? "(none)" : c.arguments.back();
        EXPECT_EQ(r.out, c.out) << shown;
        EXPECT_EQ(r.err, c.err) << shown;
        EXPECT_EQ(r.exit_status, 2) << shown;
    }
}

TEST_F(EndingAProcess, ItRefusesToEndItself) {
    // The shell's identifier is the tool's once the shell has become it.
    pty_options options;
    options.argv = {"/bin/sh", "-c", "echo $$ >&2; exec \"$0\" -k $$", PROCESS_TOOL};
    options.environment = environment_with({});
    options.with_terminal = false;
    pty_result r = run_on_pty(options);
    std::string pid = r.err.substr(0, r.err.find('\n'));
    EXPECT_EQ(r.out, "Refusing to end process " + pid + ".\r\n");
    EXPECT_EQ(r.exit_status, 2);
}

}  // namespace
