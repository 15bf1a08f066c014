#include "win32_helpers.h"

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

void run_helper_if_asked() {
    char mode[MAX_PATH + 16];
    DWORD length = GetEnvironmentVariableA("SRVWARDEN_TEST_HELPER", mode, sizeof mode);
    if (length == 0 || length >= sizeof mode) return;
    std::string helper(mode, length);
    if (helper.compare(0, 7, "record:") == 0) {
        std::string file = helper.substr(7);
        write_file(file, GetCommandLineA());
        Sleep(300);
        write_file(file + ".done", "");
        ExitProcess(7);
    }
    volatile unsigned long long work = 0;
    for (;;) {
        if (helper == "spin") {
            work = work + 1;
        } else if (helper == "half") {
            // 50 ms busy, 50 ms asleep.
            ULONGLONG until = GetTickCount64() + 50;
            while (GetTickCount64() < until) work = work + 1;
            Sleep(50);
        } else {
            Sleep(1000);
        }
    }
}

std::string own_directory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string self(path, length);
    return self.substr(0, self.find_last_of("\\/") + 1);
}

PROCESS_INFORMATION start_helper(const std::string &mode, const std::string &program) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path = program.empty() ? std::string(self) : program;
    std::string line = "\"" + path + "\"";
    SetEnvironmentVariableA("SRVWARDEN_TEST_HELPER", mode.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION helper = {};
    if (!CreateProcessA(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &helper))
        helper.hProcess = nullptr;
    SetEnvironmentVariableA("SRVWARDEN_TEST_HELPER", nullptr);
    return helper;
}

void stop_helper(PROCESS_INFORMATION &helper) {
    if (helper.hProcess == nullptr) return;
    TerminateProcess(helper.hProcess, 1);
    WaitForSingleObject(helper.hProcess, 10000);
    CloseHandle(helper.hThread);
    CloseHandle(helper.hProcess);
    helper.hProcess = nullptr;
}

program_result run_captured(const std::string &program, const std::string &command_line) {
    program_result result;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA("captured.out", GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA("captured.err", GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::string line = command_line;
    PROCESS_INFORMATION child;
    if (CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
        if (WaitForSingleObject(child.hProcess, 60000) == WAIT_OBJECT_0) {
            DWORD status;
            if (GetExitCodeProcess(child.hProcess, &status)) result.status = static_cast<int>(status);
        } else {
            TerminateProcess(child.hProcess, 1);
        }
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    result.out = read_file("captured.out");
    result.err = read_file("captured.err");
    return result;
}

std::string enter_temp_directory() {
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static int count = 0;
    std::string directory = std::string(base) + "srvwarden-win-" + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(++count);
    CreateDirectoryA(directory.c_str(), nullptr);
    SetCurrentDirectoryA(directory.c_str());
    return directory;
}

void leave_temp_directory(const std::string &directory) {
    SetCurrentDirectoryA(own_directory().c_str());
    // Files, then directories, one level deep, which is all the tests make.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = directory + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryA(path.c_str());
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(directory.c_str());
}

std::string read_file(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
