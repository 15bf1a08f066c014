// The real srvwarden-cmd.exe, run in a temporary directory with small
// recording programs standing in for the watchdog's.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "child_processes.h"
#include "pty_run.h"

namespace {

// Prints its arguments, each in brackets, on one line.
const char recorder[] =
    "#!/bin/sh\n"
    "for a in \"$@\"; do printf '[%s]' \"$a\"; done\n"
    "echo\n";

bool exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

class Interpreter : public ::testing::Test {
protected:
    void SetUp() override {
        become_subreaper();
        directory = make_temp_directory();
        ASSERT_FALSE(directory.empty());
    }
    void TearDown() override {
        stop_all_children();
        remove_tree(directory);
    }

    pty_result interpret(const std::vector<std::string> &arguments, const std::vector<std::string> &environment = {},
                         bool with_terminal = false) {
        pty_options options;
        options.argv = {INTERPRETER};
        options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
        options.environment = environment_with(environment);
        options.directory = directory;
        options.with_terminal = with_terminal;
        options.timeout_ms = 10000;
        return run_on_pty(options);
    }

    std::string in_directory(const std::string &name) { return directory + "/" + name; }

    std::string directory;
};

TEST_F(Interpreter, TheWatchdogsCommandsReachTheirPrograms) {
    write_executable(in_directory("process.exe"), recorder);
    write_executable(in_directory("map-server.exe"), recorder);
    ASSERT_EQ(mkdir(in_directory("bin").c_str(), 0755), 0);
    write_executable(in_directory("bin/tool.exe"), recorder);
    const struct {
        std::vector<std::string> arguments;
        const char *file;
        const char *content;
    } cases[] = {
        {{" /C process.exe > process.txt"}, "process.txt", "\n"},
        {{" /C process.exe -k  812  > terminate.txt"}, "terminate.txt", "[-k][812]\n"},
        // Several arguments are one command line joined with single spaces.
        {{"/C", "process.exe", "-k", "7", ">", "several.txt"}, "several.txt", "[-k][7]\n"},
        {{" /C bin\\tool.exe a\\b\\c > out.txt"}, "out.txt", "[a/b/c]\n"},
        // start's program writes to start.log, not to its caller.
        {{" /C start /min /abovenormal map-server.exe conf\\map_orvane.conf"}, "start.log", "[conf/map_orvane.conf]\n"},
    };
    for (const auto &c : cases) {
        pty_result r = interpret(c.arguments);
        EXPECT_EQ(r.exit_status, 0) << c.arguments[0];
        EXPECT_EQ(r.out, "") << c.arguments[0];
        EXPECT_EQ(r.err, "") << c.arguments[0];
        std::string path = in_directory(c.file);
        EXPECT_TRUE(wait_until([&] { return read_file(path) == c.content; }, 5000))
            << c.arguments[0] << ": " << read_file(path);
    }
}

TEST_F(Interpreter, TheRedirectFileIsEmptiedEvenWhenTheProgramIsMissing) {
    write_file(in_directory("out.txt"), "old content\n");
    const char *lines[] = {" /C missing.exe > out.txt", " /C start /min missing.exe > fresh.txt"};
    for (const char *line : lines) {
        pty_result r = interpret({line});
        EXPECT_EQ(r.exit_status, 127) << line;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_EQ(r.err, "srvwarden-cmd.exe: cannot find program 'missing.exe'\n") << line;
    }
    EXPECT_TRUE(exists(in_directory("out.txt")));
    EXPECT_EQ(read_file(in_directory("out.txt")), "");
    EXPECT_TRUE(exists(in_directory("fresh.txt")));
    EXPECT_FALSE(exists(in_directory("start.log")));
}

TEST_F(Interpreter, ARunCommandEndsWithItsProgramsStatus) {
    write_executable(in_directory("fails.exe"), "#!/bin/sh\necho partial\nexit 3\n");
    pty_result r = interpret({" /C fails.exe > out.txt"});
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(read_file(in_directory("out.txt")), "partial\n");
}

TEST_F(Interpreter, ProgramsAreFoundHereThenBesideTheInterpreterThenOnPath) {
    std::string path_directory = in_directory("on-path");
    ASSERT_EQ(mkdir(path_directory.c_str(), 0755), 0);
    write_executable(path_directory + "/tool.exe", "#!/bin/sh\necho on-path\n");
    write_executable(path_directory + "/process.exe", "#!/bin/sh\necho on-path\n");
    std::vector<std::string> path = {"PATH=" + path_directory + ":/usr/bin:/bin"};

    // Only on PATH: found there.
    pty_result r = interpret({" /C tool.exe > out.txt"}, path);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(read_file(in_directory("out.txt")), "on-path\n");

    // In the current directory as well: that one wins.
    write_executable(in_directory("tool.exe"), "#!/bin/sh\necho here\n");
    r = interpret({" /C tool.exe > out.txt"}, path);
    EXPECT_EQ(read_file(in_directory("out.txt")), "here\n");

    // Beside the interpreter (the real process.exe) before PATH.
    r = interpret({" /C process.exe -k abc > out.txt"}, path);
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(read_file(in_directory("out.txt")), "'abc' is not a process identifier.\r\n");

    // A file that is not executable is passed over.
    write_file(in_directory("plain.exe"), "not a program\n");
    r = interpret({" /C plain.exe"}, path);
    EXPECT_EQ(r.exit_status, 127);
    EXPECT_EQ(r.err, "srvwarden-cmd.exe: cannot find program 'plain.exe'\n");
}

TEST_F(Interpreter, ACommandLineItDoesNotUnderstandIsRefused) {
    const struct {
        const char *line;
        const char *err;
    } cases[] = {
        {" process.exe > process.txt", "srvwarden-cmd.exe: the command line must begin with /C\n"},
        {" /C process.exe | more", "srvwarden-cmd.exe: '|' is not supported\n"},
        {" /C start /max map-server.exe", "srvwarden-cmd.exe: start does not know the switch '/max'\n"},
    };
    for (const auto &c : cases) {
        pty_result r = interpret({c.line});
        EXPECT_EQ(r.exit_status, 2) << c.line;
        EXPECT_EQ(r.out, "") << c.line;
        EXPECT_EQ(r.err, c.err) << c.line;
    }
    // Nothing was run, and no file was made.
    EXPECT_FALSE(exists(in_directory("process.txt")));
    pty_result none = interpret({});
    EXPECT_EQ(none.exit_status, 2);
    EXPECT_EQ(none.err, "srvwarden-cmd.exe: the command line must begin with /C\n");
}

// Waits for the pid a probe wrote, then for its process to become `sleep`.
pid_t started_probe(const std::string &directory) {
    pid_t pid = 0;
    wait_until(
        [&] {
            std::string text = read_file(directory + "/probe.pid");
            if (text.empty() || text.back() != '\n') return false;
            pid = static_cast<pid_t>(std::stol(text));
            proc_stat stat;
            return stat_of(pid, &stat) && stat.comm == "sleep";
        },
        5000);
    return pid;
}

std::string descriptors_of(pid_t pid) {
    pty_options options;
    options.argv = {"/bin/ls", "/proc/" + std::to_string(pid) + "/fd"};
    options.environment = environment_with({});
    options.with_terminal = false;
    return run_on_pty(options).out;
}

TEST_F(Interpreter, StartLeavesTheProgramDetachedAndReturnsAtOnce) {
    // Records its identifier, then stays as `sleep` under the same one.
    write_executable(in_directory("probe.sh"),
                     "#!/bin/sh\necho to-output; echo to-error >&2\necho $$ > probe.pid\nexec sleep 60\n");
    // Run from a terminal, as the watchdog is.
    pty_result r = interpret({" /C start /min /belownormal probe.sh"}, {}, true);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.terminal, "");
    pid_t probe = started_probe(directory);
    ASSERT_GT(probe, 0);

    proc_stat stat;
    ASSERT_TRUE(stat_of(probe, &stat));
    EXPECT_TRUE(is_running(probe)) << "start waited for its program";
    EXPECT_EQ(stat.tty_nr, 0) << "the program kept a controlling terminal";
    EXPECT_NE(stat.session, getsid(0));
    // The middle process is gone: the program was handed to the reaper of orphans.
    EXPECT_EQ(stat.ppid, getpid());
    EXPECT_EQ(stat.nice, 10);
    char input[64] = {};
    ASSERT_GT(readlink(("/proc/" + std::to_string(probe) + "/fd/0").c_str(), input, sizeof input - 1), 0);
    EXPECT_STREQ(input, "/dev/null");
    EXPECT_EQ(descriptors_of(probe), "0\n1\n2\n");
    EXPECT_EQ(read_file(in_directory("start.log")), "to-output\nto-error\n");
}

TEST_F(Interpreter, StartSetsThePriorityWhereTheSystemAllows) {
    // Whether this test may raise a priority decides what raising gives.
    pid_t tester = start_child([] { _exit(setpriority(PRIO_PROCESS, 0, -5) == 0 ? 0 : 1); });
    int status = 0;
    waitpid(tester, &status, 0);
    bool may_raise = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    int base = getpriority(PRIO_PROCESS, 0);
    ASSERT_EQ(base, 0) << "the test expects to run at normal priority";

    write_executable(in_directory("probe.sh"), "#!/bin/sh\necho $$ > probe.pid\nexec sleep 60\n");
    const struct {
        const char *option;
        int nice;
        bool raises;
    } cases[] = {
        {"/low", 19, false},         {"/belownormal", 10, false}, {"/normal", 0, false},
        {"/abovenormal", -5, true}, {"/high", -10, true},
    };
    for (const auto &c : cases) {
        remove((directory + "/probe.pid").c_str());
        pty_result r = interpret({std::string(" /C start /min ") + c.option + " probe.sh"});
        EXPECT_EQ(r.exit_status, 0) << c.option;
        EXPECT_EQ(r.err, "") << c.option;
        pid_t probe = started_probe(directory);
        proc_stat stat;
        ASSERT_TRUE(stat_of(probe, &stat)) << c.option;
        EXPECT_EQ(stat.nice, c.raises && !may_raise ? 0 : c.nice) << c.option;
        kill(probe, SIGKILL);
    }
}

}  // namespace
