// process.exe measuring the demonstration server's CPU usage, as percent of
// one core over its sampling window. Bounds are wide: a loaded machine may
// take time from a busy process.
#include <gtest/gtest.h>

#include "child_processes.h"
#include "process_tool.h"

namespace {

class CpuUsage : public ::testing::Test {
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
    std::string directory;
};

TEST_F(CpuUsage, IsPercentOfOneCoreOverTheSamplingWindow) {
    copy_program(MAP_SERVER, directory + "/cpu-burner.exe");
    const struct {
        const char *conf;
        long low, high;
    } cases[] = {
        {"cpu_percent: 100\n", 90, 1000},
        {"cpu_percent: 0\n", 0, 2},
        {"cpu_percent: 50\n", 35, 65},
        // Busy only from a minute after its start.
        {"cpu_percent: 100\nbusy_after: 60\n", 0, 2},
    };
    std::vector<pid_t> servers;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        std::string conf = "case" + std::to_string(i) + ".conf";
        write_file(directory + "/" + conf, cases[i].conf);
        servers.push_back(start_program({directory + "/cpu-burner.exe", conf}, directory));
    }
    // Under way before the window opens.
    ASSERT_TRUE(wait_until([&] { return read_file(directory + "/map-server.log").size() > 0; }, 5000));
    usleep(300000);

    pty_result r = run_process_tool({}, {"SRVWARDEN_SAMPLE_MS=500"});
    EXPECT_EQ(r.exit_status, 0);
    auto rows = rows_of(r.out);
    for (size_t i = 0; i < servers.size(); i++) {
        ASSERT_EQ(rows.count(servers[i]), 1u) << cases[i].conf;
        long usage = std::stol(rows[servers[i]][4]);
        EXPECT_GE(usage, cases[i].low) << cases[i].conf;
        EXPECT_LE(usage, cases[i].high) << cases[i].conf;
    }
}

}  // namespace
