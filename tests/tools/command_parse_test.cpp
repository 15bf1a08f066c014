// The interpreter's grammar as a table: what each command line parses into,
// and what is refused with which message.
#include <gtest/gtest.h>

#include "command_parse.h"

namespace {

struct accepted_case {
    const char *line;
    command_kind kind;
    const char *program;
    std::vector<std::string> arguments;
    const char *redirect;
    start_priority priority;
    bool minimized;
};

const accepted_case accepted[] = {
    // The watchdog's three commands, byte for byte.
    {" /C process.exe > process.txt", command_kind::run, "process.exe", {}, "process.txt", start_priority::normal, false},
    {" /C process.exe -k  812  > terminate.txt", command_kind::run, "process.exe", {"-k", "812"}, "terminate.txt",
     start_priority::normal, false},
    {" /C start /min /abovenormal map-server.exe conf\\map_orvane.conf", command_kind::start, "map-server.exe",
     {"conf/map_orvane.conf"}, "", start_priority::above_normal, true},
    // Case, tabs, a redirect without spaces or before the program.
    {"/c START /MIN /High tool.exe", command_kind::start, "tool.exe", {}, "", start_priority::high, true},
    {"\t/C\ttool.exe\ta\t", command_kind::run, "tool.exe", {"a"}, "", start_priority::normal, false},
    {" /C tool.exe a>out.txt", command_kind::run, "tool.exe", {"a"}, "out.txt", start_priority::normal, false},
    {" /C >out.txt tool.exe a", command_kind::run, "tool.exe", {"a"}, "out.txt", start_priority::normal, false},
    // Backslashes become slashes in the program, its arguments and the file.
    {" /C bin\\tool.exe a\\b\\c > logs\\out.txt", command_kind::run, "bin/tool.exe", {"a/b/c"}, "logs/out.txt",
     start_priority::normal, false},
    // Every priority switch, and start without any.
    {" /C start /low x", command_kind::start, "x", {}, "", start_priority::low, false},
    {" /C start /belownormal x", command_kind::start, "x", {}, "", start_priority::below_normal, false},
    {" /C start /normal x", command_kind::start, "x", {}, "", start_priority::normal, false},
    {" /C start x /low", command_kind::start, "x", {"/low"}, "", start_priority::normal, false},
    // A number standing apart from '>' is an argument.
    {" /C tool.exe 2 > out.txt", command_kind::run, "tool.exe", {"2"}, "out.txt", start_priority::normal, false},
};

TEST(CommandParse, AcceptedLines) {
    for (const accepted_case &c : accepted) {
        parsed_command command;
        ASSERT_EQ(parse_command_line(c.line, &command), "") << c.line;
        EXPECT_EQ(command.kind, c.kind) << c.line;
        EXPECT_EQ(command.program, c.program) << c.line;
        EXPECT_EQ(command.arguments, c.arguments) << c.line;
        EXPECT_EQ(command.redirect, c.redirect) << c.line;
        EXPECT_EQ(command.priority, c.priority) << c.line;
        EXPECT_EQ(command.minimized, c.minimized) << c.line;
    }
}

struct refused_case {
    std::string line;
    const char *message;
};

const refused_case refused[] = {
    {"", "the command line must begin with /C"},
    {" process.exe > process.txt", "the command line must begin with /C"},
    {" /K process.exe", "the command line must begin with /C"},
    {" /C", "no command after /C"},
    {" /C  > out.txt", "no command after /C"},
    {" /C process.exe >", "'>' needs a file name"},
    {" /C process.exe > > b", "'>' needs a file name"},
    {" /C process.exe >> process.txt", "'>>' is not supported"},
    {" /C process.exe > a > b", "only one '>' is supported"},
    {" /C process.exe 2> errors.txt", "'2>' is not supported"},
    {" /C process.exe < in.txt", "'<' is not supported"},
    {" /C process.exe | more", "'|' is not supported"},
    {" /C a.exe && b.exe", "'&' is not supported"},
    {" /C \"map server.exe\"", "'\"' is not supported"},
    {" /C echo %PATH%", "'%' is not supported"},
    {" /C echo a^b", "'^' is not supported"},
    {" /C echo a\r\n", "control characters are not supported"},
    {std::string(" /C echo a\0b", 12), "control characters are not supported"},
    {" /C process.exe > a\rb", "control characters are not supported"},
    {" /C start", "start needs a program"},
    {" /C start /min /abovenormal", "start needs a program"},
    {" /C start /max x", "start does not know the switch '/max'"},
    {" /C start /wait x", "start does not know the switch '/wait'"},
    {" /C start /low /high x", "start takes one priority switch"},
};

TEST(CommandParse, RefusedLines) {
    for (const refused_case &c : refused) {
        parsed_command command;
        EXPECT_EQ(parse_command_line(c.line, &command), c.message) << c.line;
    }
}

}  // namespace
