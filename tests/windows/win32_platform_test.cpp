// The real Win32 layer with real files and processes.
#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

#include "../../platform/platform.h"
#include "../../watchdog/watchdog.h"
#include "win32_helpers.h"

namespace {

class Win32 : public ::testing::Test {
protected:
    void SetUp() override { directory = enter_temp_directory(); }
    void TearDown() override { leave_temp_directory(directory); }
    std::string directory;
};

std::string self_path() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

}  // namespace

TEST_F(Win32, RunsTheProgramWithExactlyTheCommandLineAndWaitsForIt) {
    std::string record = directory + "\\line.txt";
    SetEnvironmentVariableA("SRVWARDEN_TEST_HELPER", ("record:" + record).c_str());
    DWORD handles_before = 0, handles_after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handles_before);
    // The line carries no program name: the child sees exactly this.
    int status = platform_run_program(self_path().c_str(), " /C process.exe -k  812  > terminate.txt");
    GetProcessHandleCount(GetCurrentProcess(), &handles_after);
    SetEnvironmentVariableA("SRVWARDEN_TEST_HELPER", nullptr);

    EXPECT_EQ(status, 7);
    EXPECT_EQ(read_file(record), " /C process.exe -k  812  > terminate.txt");
    EXPECT_EQ(GetFileAttributesA((record + ".done").c_str()) != INVALID_FILE_ATTRIBUTES, true)
        << "returned before the program ended";
    EXPECT_EQ(GetFileAttributesA("terminate.txt"), INVALID_FILE_ATTRIBUTES)
        << "nothing may interpret the line but the program";
    EXPECT_EQ(handles_after, handles_before) << "the process and thread handles are released";
}

TEST_F(Win32, AProgramThatCannotStartGivesMinusOne) {
    CreateDirectoryA("a-directory.exe", nullptr);
    write_file("not-a-program.exe", "plain text");
    for (const char *program : {"missing.exe", "a-directory.exe", "not-a-program.exe"})
        EXPECT_EQ(platform_run_program(program, " /C x"), -1) << program;
}

TEST_F(Win32, FileExistsOnlyForFiles) {
    write_file("cmd.bat", "");
    CreateDirectoryA("cmd.exe", nullptr);
    EXPECT_EQ(platform_file_exists("cmd.bat"), 1);
    EXPECT_EQ(platform_file_exists("cmd.exe"), 0);  // a directory is nothing to start
    EXPECT_EQ(platform_file_exists("cmd.com"), 0);
    // So "cmd" passes over the directory to the batch file.
    char out[command_line_capacity];
    ASSERT_EQ(resolve_interpreter("cmd", out, sizeof out), 0);
    EXPECT_STREQ(out, "cmd.bat");
}

TEST_F(Win32, TheListFileIsReadUntranslatedWithItsSize) {
    // Carriage returns, a ^Z that text mode would take for the end, a zero byte.
    const std::string bytes = std::string("Image-Name PID\r\nmap-server.exe 8 \x1a\r\n\0tail\n", 38);
    write_file("process.txt", bytes);
    ASSERT_EQ(platform_list_open("process.txt"), 0);
    ASSERT_EQ(platform_list_seek_end(), 0);
    ASSERT_EQ(platform_list_position(), static_cast<int64_t>(bytes.size()));
    ASSERT_EQ(platform_list_seek_start(), 0);
    std::vector<char> buffer(bytes.size());
    EXPECT_EQ(platform_list_read(buffer.data(), static_cast<int32_t>(bytes.size())), 1);
    EXPECT_EQ(std::string(buffer.data(), buffer.size()), bytes);
    EXPECT_EQ(platform_list_seek_start(), 0);
    EXPECT_EQ(platform_list_read(buffer.data(), static_cast<int32_t>(bytes.size()) + 1), 0) << "a short read";
    EXPECT_EQ(platform_list_read(buffer.data(), 0), 0);
    platform_list_close();
    EXPECT_TRUE(DeleteFileA("process.txt")) << "the file is closed";
}

TEST_F(Win32, TheListFileSharesReadingAndWriting) {
    write_file("process.txt", "old");
    // The process tool may still hold the file open for writing...
    HANDLE writer = CreateFileA("process.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(platform_list_open("process.txt"), 0);
    // ...and may open it for writing while the watchdog reads.
    HANDLE second = CreateFileA("process.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    platform_list_close();
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    CloseHandle(writer);
}

TEST_F(Win32, AListThatIsMissingOrADirectoryCannotBeOpened) {
    EXPECT_EQ(platform_list_open("process.txt"), -1);
    CreateDirectoryA("process.txt", nullptr);
    EXPECT_EQ(platform_list_open("process.txt"), -1);
}

TEST_F(Win32, TheEnvironmentIsTheProcesssOwnWithoutTheHiddenEntries) {
    // Every entry is a "NAME=value" variable the system knows by that name.
    int count = 0;
    for (int i = 0; platform_environment_entry(i) != nullptr; i++, count++) {
        std::string entry = platform_environment_entry(i);
        size_t equals = entry.find('=');
        ASSERT_NE(equals, std::string::npos) << entry;
        ASSERT_GT(equals, 0u) << "a hidden per-drive entry: " << entry;
        char value[32768];
        DWORD length = GetEnvironmentVariableA(entry.substr(0, equals).c_str(), value, sizeof value);
        EXPECT_EQ(std::string(value, length), entry.substr(equals + 1)) << entry;
    }
    EXPECT_GT(count, 0);
    EXPECT_EQ(platform_environment_entry(-1), nullptr);
    EXPECT_EQ(platform_environment_entry(count), nullptr);

    // Windows stores it as "ComSpec"; the lookup finds it all the same.
    char comspec[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("COMSPEC", comspec, sizeof comspec);
    ASSERT_GT(length, 0u);
    ASSERT_NE(find_comspec(), nullptr);
    EXPECT_STREQ(find_comspec(), comspec);
}

TEST_F(Win32, TheDefaultInterpreterIsTheSystemsCmd) {
    char system_directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(system_directory, sizeof system_directory);
    ASSERT_GT(length, 0u);
    ASSERT_NE(platform_default_interpreter(), nullptr);
    EXPECT_EQ(std::string(platform_default_interpreter()), std::string(system_directory, length) + "\\cmd.exe");
    EXPECT_EQ(platform_file_exists(platform_default_interpreter()), 1);
}

TEST_F(Win32, LocalTimeIsTheMachinesWallClock) {
    platform_time now;
    ASSERT_EQ(platform_local_time(&now), 0);
    time_t seconds = time(nullptr);
    struct tm *local = localtime(&seconds);
    ASSERT_NE(local, nullptr);
    // Within the same minute, or the next one when it turned in between.
    int ours = (now.day * 24 + now.hour) * 60 + now.minute;
    int theirs = (local->tm_mday * 24 + local->tm_hour) * 60 + local->tm_min;
    EXPECT_EQ(now.year, local->tm_year + 1900);
    EXPECT_EQ(now.month, local->tm_mon + 1);
    EXPECT_TRUE(theirs == ours || theirs == ours + 1) << ours << " vs " << theirs;
}

TEST_F(Win32, SleepLastsTheWholeTime) {
    ULONGLONG start = GetTickCount64();
    platform_sleep(300);
    // The tick count moves in steps of up to 16 ms.
    EXPECT_GE(GetTickCount64() - start, 284u);
}
