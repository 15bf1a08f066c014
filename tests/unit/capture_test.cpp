#include <gtest/gtest.h>

#include <string>

#include "../../watchdog/watchdog.h"
#include "../fake_platform.h"

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        fake_reset();
        reset_scanner();
    }
    void TearDown() override { reset_scanner(); }
};

TEST_F(Capture, RunsTheListCommandThenReadsTheFileWholeInOneRead) {
    const std::string list = "Image PID\r\nmap-server.exe 812 Normal 0:00:05 73 12\r\n";
    fake.lists = {list};
    capture_process_list();
    ASSERT_EQ(fake.commands.size(), 1u);
    EXPECT_EQ(fake.commands[0].program, "C:\\Windows\\system32\\cmd.exe");
    EXPECT_EQ(fake.commands[0].command_line, " /C process.exe > process.txt");
    EXPECT_EQ(process_list_size, static_cast<int32_t>(list.size()));
    EXPECT_EQ(std::string(process_list, static_cast<size_t>(process_list_size)), list);
    EXPECT_EQ(fake.reads, 1);
    EXPECT_FALSE(fake.list_open);  // closed before the scan
    scan_process_list();
    EXPECT_EQ(scan_state, FOUND);
    EXPECT_STREQ(process_id, "812");
}

TEST_F(Capture, EachFailureHasItsMessageAndStatus) {
    struct failure_case {
        fake_file_operation fail;
        std::string list;
        const char *message;
        int status;
    };
    const failure_case cases[] = {
        {FAIL_SEEK_END, "x y\r\n", "There was an error seeking the process list file.", 1},
        {FAIL_SEEK_START, "x y\r\n", "There was an error seeking the process list file.", 1},
        {FAIL_POSITION, "x y\r\n", "There was an error accessing the process list file.", 2},
        {FAIL_READ, "x y\r\n", "There was an error reading the process list file.", 3},
        {FAIL_NONE, "", "There was an error reading the process list file.", 3},
        {FAIL_OPEN, "x y\r\n", "There was an error opening the process list file.", 4},
    };
    for (const failure_case &c : cases) {
        fake_reset();
        fake.fail = c.fail;
        fake.lists = {c.list};
        EXPECT_TRUE(fake_runs_to_exit([] { capture_process_list(); })) << c.message;
        EXPECT_EQ(fake.exit_status, c.status) << c.message;
        // No line end, no time stamp: exactly the message.
        EXPECT_EQ(fake.console, c.message);
    }
}

TEST_F(Capture, AnInterpreterThatCannotStartLeavesTheOldListToBeRead) {
    fake.environment = {"COMSPEC=C:\\gone\\cmd.exe"};
    fake.lists = {"map-server.exe 1 a b 2 "};
    capture_process_list();
    EXPECT_TRUE(fake.commands.empty());
    scan_process_list();
    EXPECT_EQ(scan_state, FOUND);
}

namespace {

// A list of `total` bytes of other processes' rows with `row` starting at `row_at`.
std::string list_with_row_at(size_t total, size_t row_at, const std::string &row) {
    std::string list;
    const std::string filler = "svchost.exe 1234 Normal 0:00:01 0 2048\r\n";
    while (list.size() + filler.size() <= row_at) list += filler;
    list += std::string(row_at - list.size(), ' ');
    list += row;
    while (list.size() < total) list += filler;
    return list;
}

}  // namespace

TEST_F(Capture, AListLongerThanTheBufferIsScannedPieceByPieceUntilFound) {
    const std::string row = "map-server.exe 4242 Normal 0:10:00 55 9000\r\n";
    struct long_case {
        const char *name;
        size_t row_at;
        int reads;  // pieces read before the row was found
    };
    const long_case cases[] = {
        {"row in the first piece", 100, 1},
        {"row past the first piece", 80000, 2},
        {"row straddles the boundary", 63990, 2},
        {"cpu column straddles the boundary", 64000 - 36, 2},
        {"row in the third piece", 130000, 3},
    };
    for (const long_case &c : cases) {
        fake_reset();
        reset_scanner();
        fake.lists = {list_with_row_at(200000, c.row_at, row)};
        capture_process_list();
        EXPECT_EQ(process_list_size, process_list_capacity) << c.name;
        scan_process_list();
        EXPECT_EQ(scan_state, FOUND) << c.name;
        EXPECT_STREQ(process_id, "4242") << c.name;
        EXPECT_STREQ(cpu_usage, "55") << c.name;
        EXPECT_EQ(fake.reads, c.reads) << c.name;  // reading stops once found
        EXPECT_FALSE(fake.list_open) << c.name;
    }
}

TEST_F(Capture, ALongListWithoutTheRowIsReadToTheEndAndClosed) {
    std::string list;
    while (list.size() < 150000) list += "svchost.exe 1234 Normal 0:00:01 0 2048\r\n";
    fake.lists = {list};
    capture_process_list();
    scan_process_list();
    EXPECT_NE(scan_state, FOUND);
    EXPECT_EQ(fake.reads, 3);  // 64000 + 64000 + the rest
    EXPECT_EQ(process_list_size, static_cast<int32_t>(list.size() - 128000));
    EXPECT_FALSE(fake.list_open);
}

TEST_F(Capture, AShortReadOfALaterPieceIsTheReadFailure) {
    std::string list(100000, 'x');
    fake.lists = {list};
    capture_process_list();
    fake.fail = FAIL_READ;
    EXPECT_TRUE(fake_runs_to_exit([] { scan_process_list(); }));
    EXPECT_EQ(fake.exit_status, 3);
    EXPECT_EQ(fake.console, "There was an error reading the process list file.");
}
