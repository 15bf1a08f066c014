#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../watchdog/watchdog.h"
#include "../fake_platform.h"

class Command : public ::testing::Test {
protected:
    void SetUp() override { fake_reset(); }
};

TEST_F(Command, JoinsPiecesWithOneSpaceAtEachJoint) {
    struct join_case {
        std::vector<const char *> pieces;
        const char *line;
    };
    const join_case cases[] = {
        {{" /C process.exe > process.txt"}, " /C process.exe > process.txt"},
        {{" /C process.exe -k ", "812", " > terminate.txt"}, " /C process.exe -k  812  > terminate.txt"},
        {{"a", "", "b"}, "a  b"},
        {{"", ""}, " "},
        {{"\"q\"", "x y"}, "\"q\" x y"},  // nothing quoted, nothing escaped
        {{}, ""},
    };
    for (const join_case &c : cases) {
        char out[command_line_capacity];
        ASSERT_EQ(join_command_line(c.pieces.data(), static_cast<int>(c.pieces.size()), out, sizeof out), 0);
        EXPECT_STREQ(out, c.line);
    }
}

TEST_F(Command, ALineThatDoesNotFitIsRefusedWhole) {
    const char *pieces[] = {"abcd", "efgh"};
    char out[9];
    EXPECT_EQ(join_command_line(pieces, 2, out, sizeof out), -1);
    EXPECT_STREQ(out, "");
    char exact[10];
    EXPECT_EQ(join_command_line(pieces, 2, exact, sizeof exact), 0);
    EXPECT_STREQ(exact, "abcd efgh");
}

TEST_F(Command, FindsComspecWhateverItsCaseAndTheFirstEntryWins) {
    struct env_case {
        std::vector<std::string> environment;
        const char *value;  // nullptr: not found
    };
    const env_case cases[] = {
        {{"PATH=/bin", "COMSPEC=C:\\cmd.exe"}, "C:\\cmd.exe"},
        {{"ComSpec=x.bat"}, "x.bat"},
        {{"comspec=first.bat", "COMSPEC=second.bat"}, "first.bat"},
        {{"COMSPECX=no.bat", "XCOMSPEC=no.bat", "COMSPE=no.bat"}, nullptr},
        {{"COMSPEC"}, nullptr},
        {{"COMSPEC="}, ""},
        {{"COMSPEC==a.bat"}, "=a.bat"},
        {{}, nullptr},
    };
    for (const env_case &c : cases) {
        fake.environment = c.environment;
        const char *found = find_comspec();
        if (c.value == nullptr)
            EXPECT_EQ(found, nullptr);
        else
            EXPECT_STREQ(found, c.value);
    }
}

TEST_F(Command, RunsTheResolvedInterpreterWithTheJoinedLine) {
    fake.environment = {"ComSpec=tools\\cmd"};
    fake.existing_files = {"tools\\cmd.bat", "tools\\cmd.cmd"};
    const char *pieces[] = {" /C process.exe -k ", "812", " > terminate.txt"};
    run_command(pieces, 3);
    ASSERT_EQ(fake.commands.size(), 1u);
    EXPECT_EQ(fake.commands[0].program, "tools\\cmd.bat");
    EXPECT_EQ(fake.commands[0].command_line, " /C process.exe -k  812  > terminate.txt");
}

TEST_F(Command, AnInterpreterThatDoesNotExistRunsNothing) {
    fake.environment = {"COMSPEC=C:\\missing\\cmd.exe"};
    const char *pieces[] = {" /C x"};
    run_command(pieces, 1);
    EXPECT_TRUE(fake.commands.empty());
    EXPECT_EQ(fake.console, "");
}

TEST_F(Command, WithoutComspecTheDefaultInterpreterIsUsed) {
    fake.environment = {"PATH=/bin"};
    const char *pieces[] = {" /C x"};
    run_command(pieces, 1);
    EXPECT_TRUE(fake.commands.empty());  // no default: nothing runs

    fake.default_interpreter = "/opt/srvwarden/bin/srvwarden-cmd.exe";
    fake.existing_files = {"/opt/srvwarden/bin/srvwarden-cmd.exe"};
    run_command(pieces, 1);
    ASSERT_EQ(fake.commands.size(), 1u);
    EXPECT_EQ(fake.commands[0].program, "/opt/srvwarden/bin/srvwarden-cmd.exe");
    EXPECT_EQ(fake.commands[0].command_line, " /C x");
}

TEST_F(Command, LooksTheInterpreterUpAfreshForEveryCommand) {
    fake.existing_files = {"a.bat", "b.cmd"};
    fake.environment = {"COMSPEC=a"};
    const char *pieces[] = {" /C x"};
    run_command(pieces, 1);
    fake.environment = {"COMSPEC=b"};
    run_command(pieces, 1);
    ASSERT_EQ(fake.commands.size(), 2u);
    EXPECT_EQ(fake.commands[0].program, "a.bat");
    EXPECT_EQ(fake.commands[1].program, "b.cmd");
}
