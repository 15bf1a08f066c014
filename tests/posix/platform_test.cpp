// The real POSIX layer with real files and processes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../platform/platform.h"
#include "../../watchdog/watchdog.h"

namespace {

void write_file(const std::string &path, const std::string &bytes, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    chmod(path.c_str(), mode);
}

std::string read_file(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

int open_descriptors() {
    int count = 0;
    DIR *dir = opendir("/proc/self/fd");
    while (readdir(dir) != nullptr) count++;
    closedir(dir);
    return count;
}

// Each test runs in a fresh temporary directory of its own.
class Posix : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/srvwarden-platform-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        previous = here;
        ASSERT_EQ(chdir(directory.c_str()), 0);
        saved_comspec = getenv("COMSPEC") ? getenv("COMSPEC") : "";
        reset_scanner();
    }
    void TearDown() override {
        reset_scanner();
        if (chdir(previous.c_str()) != 0) ADD_FAILURE();
        if (system(("rm -rf '" + directory + "'").c_str()) != 0) ADD_FAILURE();
        unsetenv("COMSPEC");
        unsetenv("ComSpec");
        if (!saved_comspec.empty()) setenv("COMSPEC", saved_comspec.c_str(), 1);
    }
    std::string directory, previous, saved_comspec;
};

}  // namespace

TEST_F(Posix, ResolvesTheInterpreterAgainstRealFiles) {
    ASSERT_EQ(mkdir("x", 0755), 0);
    ASSERT_EQ(mkdir("dir.v2", 0755), 0);
    ASSERT_EQ(mkdir("only-bare", 0755), 0);
    ASSERT_EQ(mkdir("ext", 0755), 0);
    for (const char *file : {"cmd.bat", "cmd.cmd", "fake.sh", "x/fake.sh", "x\\cmd.exe", "dir.v2/cmd.exe",
                             "C:cmd.bat", "C:a.b", "only-bare/cmd", "ext/sh.exe", "ext/sh.com"})
        write_file(file, "");
    struct resolve_case {
        const char *value;
        const char *path;  // nullptr: nothing to start
    };
    const resolve_case cases[] = {
        {"cmd", "cmd.bat"},                // .com and .exe missing: .bat comes before .cmd
        {"fake.sh", "fake.sh"},            // a dot: used as it stands
        {"missing.sh", nullptr},           // a dot, but no such file
        {"x/fake.sh", "x/fake.sh"},
        {"x\\cmd", "x\\cmd.exe"},          // a backslash counts as a directory
        {"dir.v2/cmd", "dir.v2/cmd.exe"},  // a dot in the directory is not the file's
        {"C:cmd", "C:cmd.bat"},            // the part after the colon is tested
        {"C:a.b", "C:a.b"},
        {"only-bare/cmd", nullptr},        // the bare name is never tried
        {"ext/sh", "ext/sh.com"},          // .com before .exe
        {"/bin/sh", nullptr},              // a real program, but no dot: nothing runs
        {"sh", nullptr},                   // never the search path
        {"", nullptr},
    };
    for (const resolve_case &c : cases) {
        char out[command_line_capacity];
        int result = resolve_interpreter(c.value, out, sizeof out);
        if (c.path == nullptr) {
            EXPECT_EQ(result, -1) << c.value;
        } else {
            EXPECT_EQ(result, 0) << c.value;
            EXPECT_STREQ(out, c.path) << c.value;
        }
    }
}

TEST_F(Posix, RunsTheInterpreterWithExactlyTwoArgumentsAndWaitsForIt) {
    // The stand-in records its arguments, then takes its time before the
    // marker that shows the call waited for it.
    write_file("stand-in.sh",
               "#!/bin/sh\n"
               "printf '%s' \"$#\" > count\n"
               "printf '%s' \"$0\" > argument0\n"
               "printf '%s' \"$1\" > argument1\n"
               "sleep 0.3\n"
               ": > finished\n"
               "exit 7\n",
               0755);
    setenv("ComSpec", "stand-in.sh", 1);
    int descriptors = open_descriptors();
    const char *pieces[] = {" /C process.exe -k ", "812", " > terminate.txt"};
    run_command(pieces, 3);
    EXPECT_EQ(access("finished", F_OK), 0) << "returned before the interpreter ended";
    EXPECT_EQ(read_file("count"), "1");  // the line is one argument after argv[0]
    EXPECT_EQ(read_file("argument0"), "stand-in.sh");
    EXPECT_EQ(read_file("argument1"), " /C process.exe -k  812  > terminate.txt");
    EXPECT_EQ(access("terminate.txt", F_OK), -1) << "nothing may interpret the line but the interpreter";
    // Reaped, and no descriptor left behind.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(Posix, ReportsTheExitStatusAndAFailureToStart) {
    write_file("seven.sh", "#!/bin/sh\nexit 7\n", 0755);
    write_file("not-executable.sh", "#!/bin/sh\nexit 0\n", 0644);
    EXPECT_EQ(platform_run_program("seven.sh", " /C x"), 7);
    EXPECT_EQ(platform_run_program("not-executable.sh", " /C x"), -1);
    EXPECT_EQ(platform_run_program("missing.sh", " /C x"), -1);
    ASSERT_EQ(mkdir("a-directory.exe", 0755), 0);
    EXPECT_EQ(platform_run_program("a-directory.exe", " /C x"), -1);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST_F(Posix, CapturesRealListFiles) {
    unsetenv("COMSPEC");
    setenv("COMSPEC", "no-interpreter-here.bat", 1);  // the list command runs nothing
    std::string filler;
    while (filler.size() < 3000) filler += "svchost.exe 1234 Normal 0:00:01 0 2048\r\n";
    const std::string row = "map-server.exe 4242 Normal 0:10:00 55 9000\r\n";
    struct file_case {
        const char *name;
        std::string list;
    };
    std::string past = filler;
    while (past.size() < 70000) past += filler;
    std::string straddle(63990, ' ');
    const file_case cases[] = {
        {"a few kilobytes", filler + row + filler},
        {"about 100 KB with the row past byte 64000", past + row + past.substr(0, 30000)},
        {"row straddling byte 64000", straddle + row + filler},
    };
    for (const file_case &c : cases) {
        reset_scanner();
        write_file("process.txt", c.list);
        int descriptors = open_descriptors();
        capture_process_list();
        scan_process_list();
        EXPECT_EQ(scan_state, FOUND) << c.name;
        EXPECT_STREQ(process_id, "4242") << c.name;
        EXPECT_STREQ(cpu_usage, "55") << c.name;
        EXPECT_EQ(open_descriptors(), descriptors) << c.name << ": the list file stays open";
    }
}

TEST_F(Posix, AnEmptyListEndsTheProgramWithStatus3) {
    setenv("COMSPEC", "no-interpreter-here.bat", 1);
    write_file("process.txt", "");
    EXPECT_EXIT(capture_process_list(), ::testing::ExitedWithCode(3), "");
}

TEST_F(Posix, AListThatCannotBeOpenedEndsTheProgramWithStatus4) {
    setenv("COMSPEC", "no-interpreter-here.bat", 1);
    EXPECT_EXIT(capture_process_list(), ::testing::ExitedWithCode(4), "");
    ASSERT_EQ(mkdir("process.txt", 0755), 0);  // a directory is no list
    EXPECT_EXIT(capture_process_list(), ::testing::ExitedWithCode(4), "");
}

namespace {
void on_alarm(int) {}
}  // namespace

TEST_F(Posix, SleepGoesOnAfterASignalUntilTheWholeTimeHasPassed) {
    struct sigaction action = {};
    action.sa_handler = on_alarm;  // no SA_RESTART: nanosleep is interrupted
    struct sigaction previous_action;
    sigaction(SIGALRM, &action, &previous_action);
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    ualarm(50000, 0);
    platform_sleep(300);
    clock_gettime(CLOCK_MONOTONIC, &end);
    sigaction(SIGALRM, &previous_action, nullptr);
    long elapsed_ms = (end.tv_sec - start.tv_sec) * 1000 + (end.tv_nsec - start.tv_nsec) / 1000000;
    EXPECT_GE(elapsed_ms, 300);
}

TEST_F(Posix, LocalTimeIsTheMachinesWallClock) {
    platform_time now;
    ASSERT_EQ(platform_local_time(&now), 0);
    time_t seconds = time(nullptr);
    struct tm local;
    localtime_r(&seconds, &local);
    EXPECT_EQ(now.year, local.tm_year + 1900);
    EXPECT_EQ(now.month, local.tm_mon + 1);
    EXPECT_EQ(now.day, local.tm_mday);
}

TEST_F(Posix, TheEnvironmentIsListedEntryByEntry) {
    setenv("SRVWARDEN_TEST_ENTRY", "value", 1);
    bool found = false;
    for (int i = 0; platform_environment_entry(i) != nullptr; i++)
        if (std::string(platform_environment_entry(i)) == "SRVWARDEN_TEST_ENTRY=value") found = true;
    EXPECT_TRUE(found);
    EXPECT_EQ(platform_environment_entry(-1), nullptr);
    unsetenv("SRVWARDEN_TEST_ENTRY");
}

TEST_F(Posix, TheDefaultInterpreterLivesBesideTheExecutable) {
    const char *path = platform_default_interpreter();
    ASSERT_NE(path, nullptr);
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);
    self[length] = '\0';
    std::string expected(self);
    expected.erase(expected.rfind('/') + 1);
    expected += "srvwarden-cmd.exe";
    EXPECT_EQ(path, expected);
}
