// process.exe for Windows: lists the running processes, or ends one. The
// same table and messages as the Linux tool beside it:
//
//   process.exe          one header line, then one row per process in the
//                        order of the process identifiers: image name, PID,
//                        priority class, CPU time (h:mm:ss), CPU usage in
//                        whole percent of one core, memory (working set) in
//                        KiB; every column ended by a space, rows by "\r\n".
//   process.exe -k PID   ends process PID (TerminateProcess: Windows has no
//                        polite request to make of a console program it does
//                        not share a console with) and waits until it is gone.
//
// The usage is the CPU time a process took over a sampling window, as a share
// of the window: one thread spinning reads about 100, several read more.
//
// Environment:
//   SRVWARDEN_SAMPLE_MS   the sampling window in milliseconds (10..60000, default 1000)
//
// Both looks at the table come from NtQuerySystemInformation(SystemProcessInformation):
// it reports every process's times without opening the process, which needs
// no rights and, unlike GetProcessTimes on another process, gives real times
// under Wine too.
#include <windows.h>
#include <winternl.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "proc_parse.h"

namespace {

constexpr long long default_sample_ms = 1000;
constexpr DWORD kill_wait_ms = 5000;
constexpr long ticks_per_second = 10000000;  // the system's times count 100 ns
constexpr ULONG system_process_information = 5;
constexpr NTSTATUS status_info_length_mismatch = static_cast<NTSTATUS>(0xC0000004L);

const char header[] = "Image-Name PID Priority CPU-Time CPU% Mem(KiB) \r\n";

struct process_sample {
    DWORD pid;
    long long create_time;  // tells a reused PID from the process before it
    unsigned long long cpu_time;  // user and kernel, all threads
    LONG base_priority;
    unsigned long long working_set;  // bytes
    std::string name;
};

void say(const std::string &text) {
    if (fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    }
}

void complain(const std::string &message) { fprintf(stderr, "process.exe: %s\n", message.c_str()); }

// The name as the system gives it, in the ANSI code page; the shared rule
// then makes it one token. The idle process has no name.
std::string name_of(const UNICODE_STRING &name) {
    std::string text;
    if (name.Buffer != nullptr && name.Length > 0) {
        int wide_length = static_cast<int>(name.Length / sizeof(WCHAR));
        int length = WideCharToMultiByte(CP_ACP, 0, name.Buffer, wide_length, nullptr, 0, nullptr, nullptr);
        if (length > 0) {
            text.resize(static_cast<size_t>(length));
            WideCharToMultiByte(CP_ACP, 0, name.Buffer, wide_length, &text[0], length, nullptr, nullptr);
        }
    }
    return image_name(text, "", "");
}

bool take_snapshot(std::vector<process_sample> &samples) {
    static std::vector<unsigned char> buffer(256 * 1024);
    NTSTATUS status;
    for (;;) {
        ULONG needed = 0;
        status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(system_process_information),
                                          buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status != status_info_length_mismatch) break;
        // The table may grow between the two calls: leave some room.
        buffer.resize(std::max<size_t>(needed + 64 * 1024, buffer.size() * 2));
    }
    if (status < 0) return false;
    samples.clear();
    for (size_t offset = 0;;) {
        const SYSTEM_PROCESS_INFORMATION *entry =
            reinterpret_cast<const SYSTEM_PROCESS_INFORMATION *>(buffer.data() + offset);
        process_sample sample;
        sample.pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId));
        sample.create_time = entry->CreateTime.QuadPart;
        sample.cpu_time = static_cast<unsigned long long>(entry->UserTime.QuadPart + entry->KernelTime.QuadPart);
        sample.base_priority = entry->BasePriority;
        sample.working_set = entry->VirtualMemoryCounters.WorkingSetSize;
        sample.name = name_of(entry->ImageName);
        samples.push_back(sample);
        if (entry->NextEntryOffset == 0) break;
        offset += entry->NextEntryOffset;
    }
    std::sort(samples.begin(), samples.end(),
              [](const process_sample &a, const process_sample &b) { return a.pid < b.pid; });
    return true;
}

// The class as GetPriorityClass gives it, or from the base priority when
// the process cannot be opened for that. (Wine reports its own class codes
// as the base priority, so the class is asked for first.) The names are the
// Linux tool's: "Low" is the idle class.
std::string priority_class_of(DWORD pid, LONG base_priority) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process != nullptr) {
        DWORD priority = GetPriorityClass(process);
        CloseHandle(process);
        switch (priority) {
        case IDLE_PRIORITY_CLASS: return "Low";
        case BELOW_NORMAL_PRIORITY_CLASS: return "BelowNormal";
        case NORMAL_PRIORITY_CLASS: return "Normal";
        case ABOVE_NORMAL_PRIORITY_CLASS: return "AboveNormal";
        case HIGH_PRIORITY_CLASS: return "High";
        case REALTIME_PRIORITY_CLASS: return "Realtime";
        default: break;
        }
    }
    if (base_priority <= 4) return "Low";
    if (base_priority <= 6) return "BelowNormal";
    if (base_priority <= 8) return "Normal";
    if (base_priority <= 10) return "AboveNormal";
    if (base_priority <= 15) return "High";
    return "Realtime";
}

// Reads a setting in milliseconds from the environment. Returns false after
// saying what is wrong.
bool setting_ms(const char *name, long long low, long long high, long long *value) {
    const char *text = getenv(name);
    if (text == nullptr) return true;
    if (parse_decimal(text, low, high, value)) return true;
    complain(std::string(name) + " must be a whole number of milliseconds from " + std::to_string(low) + " to " +
             std::to_string(high) + ", not '" + text + "'");
    return false;
}

long long now_100ns() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return counter.QuadPart / frequency.QuadPart * ticks_per_second +
           counter.QuadPart % frequency.QuadPart * ticks_per_second / frequency.QuadPart;
}

// The system time in the unit and epoch of a process's creation time.
long long system_time_100ns() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<long long>((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

int list_processes() {
    long long window_ms = default_sample_ms;
    if (!setting_ms("SRVWARDEN_SAMPLE_MS", 10, 60000, &window_ms)) return 2;

    // Usage is the CPU time a process spends between two looks, one window
    // apart. A process that vanishes between them is simply left out.
    std::vector<process_sample> before, after;
    if (!take_snapshot(before)) {
        complain("cannot read the process table");
        return 1;
    }
    long long first_look = now_100ns();
    Sleep(static_cast<DWORD>(window_ms));
    if (!take_snapshot(after)) {
        complain("cannot read the process table");
        return 1;
    }
    unsigned long long elapsed_ns = static_cast<unsigned long long>(now_100ns() - first_look) * 100;
    long long now = system_time_100ns();

    std::string table = header;
    for (const process_sample &sample : after) {
        long long usage;
        auto earlier = std::find_if(before.begin(), before.end(), [&](const process_sample &then) {
            return then.pid == sample.pid && then.create_time == sample.create_time;
        });
        if (earlier != before.end()) {
            usage = cpu_percent(sample.cpu_time >= earlier->cpu_time ? sample.cpu_time - earlier->cpu_time : 0,
                                elapsed_ns, ticks_per_second);
        } else {
            // Started within the window (or a new process under a reused
            // identifier): its usage over its life so far.
            long long age = now > sample.create_time ? now - sample.create_time : 0;
            usage = cpu_percent(sample.cpu_time, static_cast<unsigned long long>(age) * 100, ticks_per_second);
        }
        table += sample.name + " " + std::to_string(sample.pid) + " " +
                 priority_class_of(sample.pid, sample.base_priority) + " " +
                 format_cpu_time(sample.cpu_time, ticks_per_second) + " " + std::to_string(usage) + " " +
                 std::to_string(sample.working_set / 1024) + " \r\n";
    }
    say(table);
    if (fflush(stdout) != 0) {
        complain("cannot write the table");
        return 1;
    }
    return 0;
}

std::string system_message(DWORD error) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.' ||
                          text[length - 1] == ' '))
        length--;
    if (length == 0) return "error " + std::to_string(error);
    return std::string(text, length);
}

int end_process(const std::string &text) {
    long long pid;
    if (!parse_decimal(text, 0, 0xffffffffLL, &pid)) {
        say("'" + text + "' is not a process identifier.\r\n");
        return 2;
    }
    std::string name = "Process " + std::to_string(pid);
    // 0 is the idle process and 4 the system's own.
    if (pid == 0 || pid == 4 || pid == static_cast<long long>(GetCurrentProcessId())) {
        say("Refusing to end process " + std::to_string(pid) + ".\r\n");
        return 2;
    }
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_PARAMETER) {
            say(name + " is not running.\r\n");
            return 0;
        }
        say(name + " could not be ended: " + system_message(error) + ".\r\n");
        return 1;
    }
    // A process that has ended but is still held open by someone is not
    // running: the wait below succeeds at once.
    if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
        CloseHandle(process);
        say(name + " is not running.\r\n");
        return 0;
    }
    if (!TerminateProcess(process, 1)) {
        DWORD error = GetLastError();
        if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
            CloseHandle(process);
            say(name + " could not be ended: " + system_message(error) + ".\r\n");
            return 1;
        }
    }
    DWORD waited = WaitForSingleObject(process, kill_wait_ms);
    CloseHandle(process);
    if (waited != WAIT_OBJECT_0) {
        say(name + " could not be ended: it is still running " + std::to_string(kill_wait_ms) +
            " ms after TerminateProcess.\r\n");
        return 1;
    }
    say(name + " was ended with TerminateProcess.\r\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    // Rows end in "\r\n" as written, not translated a second time.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 1) return list_processes();
    if (argc == 3 && strcmp(argv[1], "-k") == 0) {
        int status = end_process(argv[2]);
        fflush(stdout);
        return status;
    }
    complain("usage: process.exe [-k PID]");
    return 2;
}
