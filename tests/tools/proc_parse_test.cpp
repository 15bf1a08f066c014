// The process tool's parsing and formatting, as tables.
#include <gtest/gtest.h>

#include <string>

#include "proc_parse.h"

namespace {

// A real line of /proc/PID/stat (kernel 6.x), name and all 52 fields.
const std::string sample_stat =
    "812 (map-server.exe) S 1 811 811 0 -1 4194560 145 0 0 0 512 37 0 0 15 -5 1 0 4242 6377472 1280 "
    "18446744073709551615 94371717033984 94371717066625 140727418466096 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0 "
    "94371717083536 94371717084736 94371744448512 140727418473213 140727418473250 140727418473250 "
    "140727418474471 0\n";

TEST(ProcStat, ReadsTheFieldsOfARealLine) {
    proc_stat stat;
    ASSERT_TRUE(parse_proc_stat(sample_stat.data(), sample_stat.size(), &stat));
    EXPECT_EQ(stat.pid, 812);
    EXPECT_EQ(stat.comm, "map-server.exe");
    EXPECT_EQ(stat.state, 'S');
    EXPECT_EQ(stat.ppid, 1);
    EXPECT_EQ(stat.session, 811);
    EXPECT_EQ(stat.tty_nr, 0);
    EXPECT_EQ(stat.utime, 512u);
    EXPECT_EQ(stat.stime, 37u);
    EXPECT_EQ(stat.nice, -5);
    EXPECT_EQ(stat.starttime, 4242u);
    EXPECT_EQ(stat.rss, 1280);
    EXPECT_EQ(stat.policy, 0u);
}

TEST(ProcStat, ANameIsReadFromTheFirstParenthesisToTheLast) {
    // A process may call itself anything, parentheses and spaces included.
    std::string line = sample_stat;
    line.replace(line.find("(map-server.exe)"), 16, "(a) Z 1 (b c)");
    proc_stat stat;
    ASSERT_TRUE(parse_proc_stat(line.data(), line.size(), &stat));
    EXPECT_EQ(stat.comm, "a) Z 1 (b c");
    EXPECT_EQ(stat.state, 'S');
    EXPECT_EQ(stat.rss, 1280);
}

TEST(ProcStat, RefusesTextThatIsNotAStatLine) {
    const std::string cut_before_rss = sample_stat.substr(0, sample_stat.find(" 1280 "));
    std::string letters_in_utime = sample_stat;
    letters_in_utime.replace(letters_in_utime.find(" 512 "), 5, " 5x2 ");
    const std::string cases[] = {
        "",
        "812",
        "812 (name",
        "812 name) S 1",
        ")( S",
        "x (a) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22",
        cut_before_rss,
        letters_in_utime,
        "812 (a) SS 1 811 811 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 1 1 1 0\n",
        "812 (a) S 1 811 811 0 -1 0 0 0 0 0 99999999999999999999999 1 0 0 20 0 1 0 1 1 1 0\n",
    };
    for (const std::string &text : cases) {
        proc_stat stat;
        EXPECT_FALSE(parse_proc_stat(text.data(), text.size(), &stat)) << text;
    }
}

TEST(ProcStat, ReadsTheSchedulingPolicyWhenPresent) {
    // The shortest line taken: fields up to rss, no policy.
    const std::string shortest = "812 (a) S 1 811 811 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 1 1 7\n";
    proc_stat stat;
    ASSERT_TRUE(parse_proc_stat(shortest.data(), shortest.size(), &stat));
    EXPECT_EQ(stat.rss, 7);
    EXPECT_EQ(stat.policy, 0u);

    std::string line = sample_stat;
    // "17 1 0 0" are fields 38 to 41 in the sample; 41 is the policy.
    line.replace(line.find(" 17 1 0 0 "), 10, " 17 1 0 2 ");
    ASSERT_TRUE(parse_proc_stat(line.data(), line.size(), &stat));
    EXPECT_EQ(stat.policy, 2u);
}

TEST(FirstArgument, IsTheBytesUpToTheFirstZero) {
    EXPECT_EQ(first_argument("./map-server.exe\0conf/x\0", 24), "./map-server.exe");
    EXPECT_EQ(first_argument("no-terminator", 13), "no-terminator");
    EXPECT_EQ(first_argument("", 0), "");
}

struct name_case {
    std::string comm, exe, argv0, shown;
};

TEST(ImageName, IsTheStartedFileNameInOneToken) {
    const name_case cases[] = {
        {"map-server.exe", "/srv/orvane/map-server.exe", "map-server.exe", "map-server.exe"},
        // Cut at 15 bytes by the kernel: widened from the executable's path...
        {"a-rather-long-s", "/srv/a-rather-long-server.exe", "x", "a-rather-long-server.exe"},
        {"a-rather-long-s", "/srv/a-rather-long-server.exe (deleted)", "", "a-rather-long-server.exe"},
        // ...or, when that is unreadable or unrelated, from the first argument.
        {"a-rather-long-s", "", "./bin/a-rather-long-server.exe", "a-rather-long-server.exe"},
        {"a-rather-long-s", "/usr/bin/python3", "a-rather-long-script", "a-rather-long-script"},
        {"a-rather-long-s", "/usr/bin/python3", "python3", "a-rather-long-s"},
        // A name shorter than 15 bytes is whole already.
        {"bash", "/usr/bin/bash-5.2", "bash-5.2", "bash"},
        // Spaces and control characters cannot split a name or forge a row.
        {"my server.exe", "", "", "my_server.exe"},
        {"\nmap-server.exe", "", "", "_map-server.exe"},
        {"tab\there\r\x7f", "", "", "tab_here__"},
        {"a very long nam", "/opt/a very long name.exe", "", "a_very_long_name.exe"},
        {"", "", "", "_"},
        // Bytes above ASCII pass unchanged.
        {"s\xc3\xa9rveur", "", "", "s\xc3\xa9rveur"},
    };
    for (const name_case &c : cases) EXPECT_EQ(image_name(c.comm, c.exe, c.argv0), c.shown) << c.comm;
}

TEST(CpuTime, IsHoursMinutesSeconds) {
    EXPECT_EQ(format_cpu_time(0, 100), "0:00:00");
    EXPECT_EQ(format_cpu_time(599, 100), "0:00:05");
    EXPECT_EQ(format_cpu_time(372500, 100), "1:02:05");
    EXPECT_EQ(format_cpu_time(36000000ull * 100, 100), "10000:00:00");
    EXPECT_EQ(format_cpu_time(250, 250), "0:00:01");
}

TEST(CpuPercent, IsPercentOfOneCoreRoundedToTheNearest) {
    // One second of wall time at 100 ticks a second.
    const unsigned long long second = 1000000000ull;
    EXPECT_EQ(cpu_percent(0, second, 100), 0);
    EXPECT_EQ(cpu_percent(100, second, 100), 100);
    EXPECT_EQ(cpu_percent(250, second, 100), 250);  // several busy threads: no cap
    EXPECT_EQ(cpu_percent(40, second, 100), 40);
    EXPECT_EQ(cpu_percent(41, 2 * second, 100), 21);  // 20.5 rounds up
    EXPECT_EQ(cpu_percent(1, 3 * second, 100), 0);    // 0.33 rounds down
    EXPECT_EQ(cpu_percent(30, second / 4, 100), 120);
    EXPECT_EQ(cpu_percent(5, 0, 100), 0);
    EXPECT_EQ(cpu_percent(~0ull, 1, 100), 1000000000);
}

TEST(PriorityClass, FollowsTheNiceValue) {
    const struct {
        long long nice;
        unsigned long long policy;
        const char *shown;
    } cases[] = {
        {-20, 0, "High"},       {-10, 0, "High"},        {-9, 0, "AboveNormal"}, {-1, 0, "AboveNormal"},
        {0, 0, "Normal"},       {1, 0, "BelowNormal"},   {14, 0, "BelowNormal"}, {15, 0, "Low"},
        {19, 0, "Low"},         {0, 1, "Realtime"},      {0, 2, "Realtime"},     {5, 3, "BelowNormal"},
    };
    for (const auto &c : cases) EXPECT_STREQ(priority_class(c.nice, c.policy), c.shown) << c.nice << "/" << c.policy;
}

TEST(ParseDecimal, TakesDigitsWithinTheRangeOnly) {
    long long value = -7;
    EXPECT_TRUE(parse_decimal("812", 0, 2147483647, &value));
    EXPECT_EQ(value, 812);
    EXPECT_TRUE(parse_decimal("0", 0, 10, &value));
    EXPECT_EQ(value, 0);
    for (const char *text : {"", "-1", "+1", " 1", "1 ", "12a", "0x10", "2147483648", "99999999999999999999"}) {
        value = -7;
        EXPECT_FALSE(parse_decimal(text, 0, 2147483647, &value)) << text;
        EXPECT_EQ(value, -7) << text;
    }
    EXPECT_FALSE(parse_decimal("5", 10, 60000, &value));
}

}  // namespace
