#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "../../watchdog/watchdog.h"

namespace {

struct scan_result {
    int state;
    int length;
    std::string fields[5];  // each field's whole buffer, zeros included
};

// The scanner as at program start: every byte zero.
void start_fresh() {
    memset(image_name, 0, sizeof image_name);
    memset(process_id, 0, sizeof process_id);
    memset(column_3, 0, sizeof column_3);
    memset(column_4, 0, sizeof column_4);
    memset(cpu_usage, 0, sizeof cpu_usage);
    reset_scanner();
}

scan_result snapshot() {
    scan_result r;
    r.state = scan_state;
    r.length = token_length;
    const char *fields[5] = {image_name, process_id, column_3, column_4, cpu_usage};
    for (int i = 0; i < 5; i++) r.fields[i].assign(fields[i], field_capacity);
    return r;
}

scan_result scan_in_pieces(const std::string &bytes, const std::vector<size_t> &cuts) {
    start_fresh();
    size_t from = 0;
    for (size_t cut : cuts) {
        scan_bytes(bytes.data() + from, static_cast<int32_t>(cut - from));
        from = cut;
    }
    scan_bytes(bytes.data() + from, static_cast<int32_t>(bytes.size() - from));
    return snapshot();
}

struct scanner_case {
    const char *name;
    std::string bytes;
    int state;
    const char *pid;  // expected fields as zero-terminated text; nullptr: not checked
    const char *column3;
    const char *column4;
    const char *cpu;
};

const std::string header = "Image Name                     PID Priority CPU-Time CPU% Mem(KiB)\r\n";

const scanner_case cases[] = {
    {"normal row after a header",
     header + "svchost.exe 4 Normal 0:00:01 0 100\r\nmap-server.exe   812  Normal  0:00:05  73  12\r\n",
     FOUND, "812", "Normal", "0:00:05", "73"},
    {"name inside a longer token, front", "xmap-server.exe 1 2 3 4 ", SEEK_NAME, "", "", "", ""},
    {"name inside a longer token, back", "map-server.exe2 1 2 3 4 ", SEEK_NAME, "", "", "", ""},
    {"case matters", "MAP-SERVER.EXE 1 2 3 4 ", SEEK_NAME, "", "", "", ""},
    {"tab after the name", "map-server.exe\t1 2 3 4 ", SEEK_NAME, "", "", "", ""},
    {"carriage return after the name", "a map-server.exe\r\nb c d e f ", SEEK_NAME, "", "", "", ""},
    {"two rows: the first decides", "map-server.exe 1 a b 5 \r\nmap-server.exe 2 c d 9 \r\n", FOUND, "1", "a", "b",
     "5"},
    {"file ends inside a short row", "map-server.exe 812 Normal\r\n", READ_COLUMN_3, "812", "Normal\r", "", ""},
    {"short row takes the next row's tokens", "map-server.exe 812 Normal\r\nother.exe 99 x y z \r\n", FOUND, "812",
     "other.exe", "99", "x"},
    {"cpu as last column takes the next line's first token",
     "map-server.exe 812 Normal 0:00:05 73\r\nnext.exe 1 2 ", FOUND, "812", "Normal", "0:00:05", "next.exe"},
    {"cpu as last column at the end of the file", "map-server.exe 812 Normal 0:00:05 73\r\n", READ_CPU, "812",
     "Normal", "0:00:05", "73\r"},
    {"name as the last bytes", "a b map-server.exe", SEEK_NAME, "", "", "", ""},
    {"zero byte inside the token ends it", std::string("map-server.exe\0abc 1 2 3 4 ", 27), FOUND, "1", "2", "3",
     "4"},
    {"name in a later column", "svchost.exe map-server.exe 7 a b 9 ", FOUND, "7", "a", "b", "9"},
    {"line feed inside a column", "map-server.exe 12\n5 a b c ", FOUND, "5", "a", "b", "c"},
    {"space straight after a line feed ends a field empty", "map-server.exe 12\n a b c d ", FOUND, "", "a", "b",
     "c"},
    {"runs of spaces between columns", "map-server.exe      1     2    3     4   ", FOUND, "1", "2", "3", "4"},
    {"leading spaces and empty tokens", "   \n  \n map-server.exe 1 2 3 4 ", FOUND, "1", "2", "3", "4"},
    {"empty list", "", SEEK_NAME, "", "", "", ""},
    {"header only", header, SEEK_NAME, "", "", "", ""},
    {"overlong header token", std::string(150, 'H') + " \r\nmap-server.exe 9 a b 3 \r\n", FOUND, "9", "a", "b", "3"},
    {"overlong name never matches", "map-server.exe" + std::string(120, 'x') + " 1 2 3 4 ", SEEK_NAME, "", "", "",
     ""},
    {"overlong identifier is cut to 99", "map-server.exe " + std::string(130, '7') + " a b 5 ", FOUND,
     nullptr, "a", "b", "5"},
    {"overlong column 3", "map-server.exe 1 " + std::string(101, 'c') + " b 5 ", FOUND, "1", nullptr, "b", "5"},
    {"overlong column 4", "map-server.exe 1 a " + std::string(200, 'd') + " 5 ", FOUND, "1", "a", nullptr, "5"},
    {"overlong cpu", "map-server.exe 1 a b " + std::string(100, '9') + " ", FOUND, "1", "a", "b", nullptr},
};

void expect_field(const std::string &field, const char *expected, const char *what, const char *name) {
    if (expected == nullptr) return;
    EXPECT_STREQ(field.c_str(), expected) << what << " in case: " << name;
}

}  // namespace

TEST(Scanner, TableOfListsInOnePiece) {
    for (const scanner_case &c : cases) {
        scan_result r = scan_in_pieces(c.bytes, {});
        EXPECT_EQ(r.state, c.state) << c.name;
        expect_field(r.fields[1], c.pid, "process_id", c.name);
        expect_field(r.fields[2], c.column3, "column_3", c.name);
        expect_field(r.fields[3], c.column4, "column_4", c.name);
        expect_field(r.fields[4], c.cpu, "cpu_usage", c.name);
        for (const std::string &field : r.fields) EXPECT_EQ(field[field_capacity - 1], '\0') << c.name;
    }
}

TEST(Scanner, EverySplitIntoTwoPiecesGivesTheSameResult) {
    for (const scanner_case &c : cases) {
        scan_result whole = scan_in_pieces(c.bytes, {});
        for (size_t cut = 0; cut <= c.bytes.size(); cut++) {
            scan_result split = scan_in_pieces(c.bytes, {cut});
            ASSERT_EQ(split.state, whole.state) << c.name << " cut at " << cut;
            ASSERT_EQ(split.length, whole.length) << c.name << " cut at " << cut;
            for (int i = 0; i < 5; i++) ASSERT_EQ(split.fields[i], whole.fields[i]) << c.name << " cut at " << cut;
        }
    }
}

TEST(Scanner, OverlongTokensKeepTheirFirst99Characters) {
    scan_result r = scan_in_pieces("map-server.exe " + std::string(150, '7') + " a b " + std::string(120, '8') + " ", {});
    EXPECT_EQ(r.state, FOUND);
    EXPECT_EQ(std::string(r.fields[1].c_str()), std::string(99, '7'));
    EXPECT_EQ(std::string(r.fields[4].c_str()), std::string(99, '8'));
}

TEST(Scanner, StopsAtTheSpaceThatEndsTheCpuColumn) {
    const std::string bytes = "map-server.exe 1 2 3 44 tail more\n";
    start_fresh();
    scan_bytes(bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(scan_state, FOUND);
    EXPECT_EQ(token_length, 0);
    EXPECT_STREQ(cpu_usage, "44");
    // Once found, further bytes change nothing.
    scan_result before = snapshot();
    scan_bytes("x y z 9 ", 8);
    scan_result after = snapshot();
    for (int i = 0; i < 5; i++) EXPECT_EQ(before.fields[i], after.fields[i]);
}

TEST(Scanner, ASizeOfZeroOrLessScansNothing) {
    start_fresh();
    scan_bytes("map-server.exe 1 2 3 4 ", 0);
    scan_bytes("map-server.exe 1 2 3 4 ", -5);
    EXPECT_EQ(scan_state, SEEK_NAME);
    EXPECT_EQ(image_name[0], '\0');
}

TEST(Scanner, ResetClearsOnlyTheFirstByteOfEachField) {
    start_fresh();
    const std::string bytes = "map-server.exe 812 Normal 0:00:05 73 ";
    scan_bytes(bytes.data(), static_cast<int32_t>(bytes.size()));
    ASSERT_EQ(scan_state, FOUND);
    reset_scanner();
    EXPECT_EQ(scan_state, SEEK_NAME);
    EXPECT_EQ(token_length, 0);
    EXPECT_EQ(process_id[0], '\0');
    EXPECT_EQ(process_id[1], '1');
    EXPECT_EQ(cpu_usage[0], '\0');
    EXPECT_EQ(cpu_usage[1], '3');
    // A later scan terminates what it writes, so leftovers never show.
    const std::string next = "map-server.exe 5 a b 9 ";
    scan_bytes(next.data(), static_cast<int32_t>(next.size()));
    EXPECT_EQ(scan_state, FOUND);
    EXPECT_STREQ(process_id, "5");
    EXPECT_STREQ(cpu_usage, "9");
}

TEST(Scanner, ManyPiecesOfOneByteEach) {
    const std::string bytes = header + "map-server.exe   812  Normal  0:00:05  73  12\r\n";
    std::vector<size_t> cuts;
    for (size_t i = 1; i < bytes.size(); i++) cuts.push_back(i);
    scan_result r = scan_in_pieces(bytes, cuts);
    EXPECT_EQ(r.state, FOUND);
    EXPECT_STREQ(r.fields[1].c_str(), "812");
    EXPECT_STREQ(r.fields[4].c_str(), "73");
}
