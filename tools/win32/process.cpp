// process.exe for Windows: lists the running processes, or ends one.
//
//   process.exe          one header line, then one row per process:
//                        image name, PID, priority class, CPU time (h:mm:ss),
//                        CPU usage in whole percent of one core, memory in
//                        KiB; every column ended by a space, rows by "\r\n".
//   process.exe -k PID   ends process PID and waits until it is gone.
//
// The usage is measured over a sampling window, 1000 ms unless the
// environment variable PROCESS_SAMPLE_MS says otherwise: the CPU time a
// process took in the window, as a share of the window. One thread spinning
// reads about 100, several busy threads read more.
//
// Both snapshots come from NtQuerySystemInformation(SystemProcessInformation):
// it reports every process's times without opening the process, which needs
// no rights and, unlike GetProcessTimes on another process, gives real times
// under Wine too.
#include <windows.h>
#include <winternl.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD default_sample_ms = 1000;
constexpr DWORD kill_wait_ms = 5000;
constexpr ULONG system_process_information = 5;
constexpr NTSTATUS status_info_length_mismatch = static_cast<NTSTATUS>(0xC0000004L);

struct process_sample {
    DWORD pid;
    int64_t create_time;  // tells a reused PID from the process before it
    int64_t cpu_time;     // user and kernel, in 100 ns units
    LONG base_priority;
    uint64_t working_set;  // bytes
    std::string name;
};

// The image name as one token: a space or a control character would split
// the row or forge a line, so each becomes '_'.
std::string image_name(const UNICODE_STRING &name, DWORD pid) {
    if (name.Buffer == nullptr || name.Length == 0)
        return pid == 0 ? "System_Idle_Process" : "System";
    int wide_length = static_cast<int>(name.Length / sizeof(WCHAR));
    int length = WideCharToMultiByte(CP_ACP, 0, name.Buffer, wide_length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_ACP, 0, name.Buffer, wide_length, &text[0], length, nullptr, nullptr);
    for (char &c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 0x7f) c = '_';
    }
    return text;
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
        buffer.resize(needed > buffer.size() ? needed + 64 * 1024 : buffer.size() * 2);
    }
    if (status < 0) return false;
    samples.clear();
    for (size_t offset = 0;;) {
        const SYSTEM_PROCESS_INFORMATION *entry =
            reinterpret_cast<const SYSTEM_PROCESS_INFORMATION *>(buffer.data() + offset);
        process_sample sample;
        sample.pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId));
        sample.create_time = entry->CreateTime.QuadPart;
        sample.cpu_time = entry->UserTime.QuadPart + entry->KernelTime.QuadPart;
        sample.base_priority = entry->BasePriority;
        sample.working_set = entry->VirtualMemoryCounters.WorkingSetSize;
        sample.name = image_name(entry->ImageName, sample.pid);
        samples.push_back(sample);
        if (entry->NextEntryOffset == 0) break;
        offset += entry->NextEntryOffset;
    }
    return true;
}

// The class as GetPriorityClass gives it, or from the base priority when
// the process cannot be opened for that. (Wine reports its own class codes
// as the base priority, so the class is asked for first.)
const char *priority_class(DWORD pid, LONG base_priority) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process != nullptr) {
        DWORD priority = GetPriorityClass(process);
        CloseHandle(process);
        switch (priority) {
        case IDLE_PRIORITY_CLASS: return "Idle";
        case BELOW_NORMAL_PRIORITY_CLASS: return "BelowNormal";
        case NORMAL_PRIORITY_CLASS: return "Normal";
        case ABOVE_NORMAL_PRIORITY_CLASS: return "AboveNormal";
        case HIGH_PRIORITY_CLASS: return "High";
        case REALTIME_PRIORITY_CLASS: return "Realtime";
        default: break;
        }
    }
    switch (base_priority) {
    case 4: return "Idle";
    case 6: return "BelowNormal";
    case 8: return "Normal";
    case 10: return "AboveNormal";
    case 13: return "High";
    case 24: return "Realtime";
    default: return nullptr;
    }
}

DWORD sample_window_ms() {
    const char *text = getenv("PROCESS_SAMPLE_MS");
    if (text == nullptr || *text == '\0') return default_sample_ms;
    char *end = nullptr;
    unsigned long value = strtoul(text, &end, 10);
    if (*end != '\0' || value > 60000) return default_sample_ms;
    return static_cast<DWORD>(value);
}

int64_t elapsed_100ns(const LARGE_INTEGER &from, const LARGE_INTEGER &to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (to.QuadPart - from.QuadPart) * 10000000 / frequency.QuadPart;
}

int list_processes() {
    std::vector<process_sample> before, after;
    LARGE_INTEGER started, ended;
    QueryPerformanceCounter(&started);
    if (!take_snapshot(before)) {
        fprintf(stderr, "process.exe: cannot read the process table\n");
        return 1;
    }
    Sleep(sample_window_ms());
    QueryPerformanceCounter(&ended);
    if (!take_snapshot(after)) {
        fprintf(stderr, "process.exe: cannot read the process table\n");
        return 1;
    }
    int64_t window = elapsed_100ns(started, ended);
    if (window <= 0) window = 1;

    // Rows end in "\r\n" as written, not translated a second time.
    _setmode(_fileno(stdout), _O_BINARY);
    printf("Image Name PID Priority CPU-Time CPU%% Mem(KiB)\r\n");
    for (const process_sample &now : after) {
        // A process that started inside the window took all its time there.
        int64_t earlier = 0;
        for (const process_sample &then : before)
            if (then.pid == now.pid && then.create_time == now.create_time) earlier = then.cpu_time;
        int64_t used = now.cpu_time - earlier;
        if (used < 0) used = 0;
        long long percent = (used * 100 + window / 2) / window;
        long long seconds = now.cpu_time / 10000000;
        const char *priority = priority_class(now.pid, now.base_priority);
        char priority_text[16];
        if (priority == nullptr) {
            snprintf(priority_text, sizeof priority_text, "%ld", static_cast<long>(now.base_priority));
            priority = priority_text;
        }
        printf("%s %lu %s %lld:%02lld:%02lld %lld %llu \r\n", now.name.c_str(), static_cast<unsigned long>(now.pid),
               priority, seconds / 3600, seconds / 60 % 60, seconds % 60, percent,
               static_cast<unsigned long long>(now.working_set / 1024));
    }
    return fflush(stdout) == 0 ? 0 : 1;
}

// A PID as the list shows it: decimal digits only, within 32 bits.
bool parse_pid(const char *text, DWORD *pid) {
    if (*text == '\0') return false;
    unsigned long long value = 0;
    for (const char *p = text; *p != '\0'; p++) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > 0xffffffffull) return false;
    }
    *pid = static_cast<DWORD>(value);
    return true;
}

int kill_process(const char *text) {
    DWORD pid = 0;
    if (!parse_pid(text, &pid)) {
        printf("process.exe: not a process identifier: %s\r\n", text);
        return 2;
    }
    // 0 and 4 are the system's own (idle and System), never a server.
    if (pid == 0 || pid == 4 || pid == GetCurrentProcessId()) {
        printf("process.exe: refusing to end process %lu\r\n", static_cast<unsigned long>(pid));
        return 2;
    }
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_PARAMETER) {
            printf("process.exe: no process %lu\r\n", static_cast<unsigned long>(pid));
        } else {
            printf("process.exe: cannot open process %lu (error %lu)\r\n", static_cast<unsigned long>(pid),
                   static_cast<unsigned long>(error));
        }
        return 1;
    }
    // A process that has already ended but is still held open counts as
    // ended: TerminateProcess fails on it, the wait below succeeds at once.
    TerminateProcess(process, 1);
    DWORD waited = WaitForSingleObject(process, kill_wait_ms);
    CloseHandle(process);
    if (waited != WAIT_OBJECT_0) {
        printf("process.exe: process %lu did not end within %lu ms\r\n", static_cast<unsigned long>(pid),
               static_cast<unsigned long>(kill_wait_ms));
        return 1;
    }
    printf("process.exe: process %lu ended\r\n", static_cast<unsigned long>(pid));
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 1) return list_processes();
    if (argc == 3 && strcmp(argv[1], "-k") == 0) return kill_process(argv[2]);
    fprintf(stderr, "usage: process.exe [-k PID]\n");
    return 2;
}
