// The real srvwarden binary on a pseudo-terminal: the start-up banner, byte
// for byte. With no process list to read, the first cycle ends the program,
// so each run ends by itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pty_run.h"

namespace {

std::string banner(const std::string &limit, const std::string &interval) {
    return "Orvane map-server.exe auto-restart tool by Tolvek\r\n"
           "-------------------------------------------------\r\n\r\n"
           "- Using a CPU limit of " + limit + " %.\r\n"
           "CPU limit may be overridden with first command line parameter.\r\n"
           "(ex. \"srvwarden 50\" for 50% CPU limit)\r\n"
           "\r\n- map-server.exe's status will be checked every " + interval + " seconds\r\n"
           "Status checking interval may be overridden with second command line parameter.\r\n"
           "(ex. \"srvwarden 50 30\" for 50% CPU limit & 30 second check)\r\n\r\n";
}

const std::string first_cycle_without_a_list =
    "[stamp] Checking Windows processes.\r\nThere was an error opening the process list file.";

class Banner : public ::testing::Test {
protected:
    void SetUp() override { directory = make_temp_directory(); }
    void TearDown() override { remove_tree(directory); }

    pty_result run(const std::vector<std::string> &parameters, bool with_terminal = true) {
        pty_options options;
        options.argv = {SRVWARDEN_BINARY};
        options.argv.insert(options.argv.end(), parameters.begin(), parameters.end());
        // No interpreter and no "process.txt": the first cycle cannot read a list.
        options.environment = environment_with({"COMSPEC=no-such-interpreter.exe"});
        options.directory = directory;
        options.with_terminal = with_terminal;
        return run_on_pty(options);
    }

    std::string directory;
};

}  // namespace

TEST_F(Banner, ShowsTheSettingsInForceByteForByte) {
    struct banner_case {
        std::vector<std::string> parameters;
        const char *limit;
        const char *interval;
    };
    const banner_case cases[] = {
        {{}, "40", "40"},
        {{"50"}, "50", "40"},
        {{"50", "30"}, "50", "30"},
        {{"abc"}, "0", "40"},
        {{"-1"}, "4294967295", "40"},
        {{"75abc"}, "75", "40"},
        {{"50 0"}, "50", "40"},
        {{"50", "0"}, "50", "0"},
        {{"50", "30", "70", "ignored"}, "50", "30"},
        {{"4294967336", " -2"}, "40", "4294967294"},
        {{"", ""}, "0", "0"},
    };
    for (const banner_case &c : cases) {
        pty_result r = run(c.parameters);
        std::string label = "parameters:";
        for (const std::string &p : c.parameters) label += " '" + p + "'";
        EXPECT_EQ(mask_stamps(r.terminal), banner(c.limit, c.interval) + first_cycle_without_a_list) << label;
        EXPECT_EQ(r.exit_status, 4) << label;
        EXPECT_EQ(r.out, "") << label;
        EXPECT_EQ(r.err, "") << label;
    }
}

TEST_F(Banner, WithoutAControllingTerminalItRunsAndPrintsNothing) {
    pty_result r = run({"50", "30"}, false);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 4);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}
