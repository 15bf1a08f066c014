// Fuzzes the process tool's reading of /proc files and the columns it makes.
//
// Half of the inputs are raw bytes handed to the parsers as they come. The
// other half build a /proc/PID/stat text the way the kernel writes one, with
// a task name of any bytes (spaces, parentheses and line feeds included),
// and every field must read back as it was put in. The column helpers are
// held to simple references.
#include <fuzzer/FuzzedDataProvider.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "proc_parse.h"

namespace {

void check(bool condition) {
    if (!condition) abort();
}

bool is_one_token(const std::string &name) {
    if (name.empty()) return false;
    for (char c : name) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b <= ' ' || b == 0x7f) return false;
    }
    return true;
}

void raw_bytes(FuzzedDataProvider &input) {
    std::vector<char> bytes = input.ConsumeRemainingBytes<char>();
    const char *text = bytes.empty() ? "" : bytes.data();
    proc_stat stat;
    if (parse_proc_stat(text, bytes.size(), &stat)) {
        std::string whole(text, bytes.size());
        size_t open = whole.find('(');
        size_t close = whole.rfind(')');
        check(open != std::string::npos && close != std::string::npos && open < close);
        check(stat.comm == whole.substr(open + 1, close - open - 1));
        check(stat.pid >= 0);
    }
    std::string first = first_argument(text, bytes.size());
    check(first.size() <= bytes.size() && first.find('\0') == std::string::npos);
    check(first.size() == bytes.size() || bytes[first.size()] == '\0');
}

void kernel_style(FuzzedDataProvider &input) {
    long long pid = input.ConsumeIntegralInRange<long long>(0, 4194304);
    std::string comm = input.ConsumeRandomLengthString(64);
    char state = "RSDZTtXxKWPI"[input.ConsumeIntegralInRange<int>(0, 11)];
    long long ppid = input.ConsumeIntegralInRange<long long>(0, 4194304);
    long long session = input.ConsumeIntegral<int32_t>();
    long long tty_nr = input.ConsumeIntegral<int32_t>();
    unsigned long long utime = input.ConsumeIntegral<uint64_t>();
    unsigned long long stime = input.ConsumeIntegral<uint64_t>();
    long long nice = input.ConsumeIntegralInRange<long long>(-20, 19);
    unsigned long long starttime = input.ConsumeIntegral<uint64_t>();
    long long rss = input.ConsumeIntegral<int64_t>();
    unsigned long long policy = input.ConsumeIntegralInRange<unsigned long long>(0, 7);
    // Older kernels end the line before the scheduling policy.
    int field_count = input.ConsumeBool() ? 52 : 39;

    std::string text = std::to_string(pid) + " (" + comm + ")";
    for (int field = 3; field <= field_count; field++) {
        std::string value = "0";
        switch (field) {
        case 3: value = std::string(1, state); break;
        case 4: value = std::to_string(ppid); break;
        case 6: value = std::to_string(session); break;
        case 7: value = std::to_string(tty_nr); break;
        case 14: value = std::to_string(utime); break;
        case 15: value = std::to_string(stime); break;
        case 18: value = std::to_string(20 + nice); break;
        case 19: value = std::to_string(nice); break;
        case 22: value = std::to_string(starttime); break;
        case 24: value = std::to_string(rss); break;
        case 41: value = std::to_string(policy); break;
        default: break;
        }
        text += " " + value;
    }
    text += "\n";

    proc_stat stat;
    check(parse_proc_stat(text.data(), text.size(), &stat));
    check(stat.pid == pid && stat.comm == comm && stat.state == state && stat.ppid == ppid);
    check(stat.session == session && stat.tty_nr == tty_nr && stat.utime == utime && stat.stime == stime);
    check(stat.nice == nice && stat.starttime == starttime && stat.rss == rss);
    check(stat.policy == (field_count >= 41 ? policy : 0));

    // The image name is always one token of the table, and a name the
    // kernel did not cut is only made safe, never replaced.
    std::string exe = input.ConsumeRandomLengthString(64);
    std::string argv0 = input.ConsumeRandomLengthString(64);
    std::string name = image_name(comm, exe, argv0);
    check(is_one_token(name));
    if (comm.size() != 15) check(name.size() == (comm.empty() ? 1 : comm.size()));

    long ticks_per_second = input.ConsumeIntegralInRange<long>(-1, 100000);
    unsigned long long per_second = ticks_per_second > 0 ? static_cast<unsigned long long>(ticks_per_second) : 100;
    unsigned long long seconds = utime / per_second;
    char expected[64];
    snprintf(expected, sizeof expected, "%llu:%02llu:%02llu", seconds / 3600, seconds / 60 % 60, seconds % 60);
    check(format_cpu_time(utime, ticks_per_second) == expected);

    unsigned long long elapsed_ns = input.ConsumeIntegral<uint64_t>();
    long long percent = cpu_percent(stime, elapsed_ns, ticks_per_second);
    check(percent >= 0 && percent <= 1000000000);
    if (elapsed_ns == 0) check(percent == 0);

    check(priority_class(nice, policy) != nullptr);

    std::string decimal = input.ConsumeRandomLengthString(24);
    long long low = input.ConsumeIntegral<int64_t>();
    long long high = input.ConsumeIntegral<int64_t>();
    long long value = 12345;
    bool digits_only = !decimal.empty() && decimal.find_first_not_of("0123456789") == std::string::npos;
    bool taken = parse_decimal(decimal, low, high, &value);
    if (!digits_only) check(!taken);
    if (taken) {
        check(value >= low && value <= high);
        check(std::to_string(value) == decimal.substr(std::min(decimal.find_first_not_of('0'), decimal.size() - 1)));
    } else {
        check(value == 12345);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider input(data, size);
    if (input.ConsumeBool())
        kernel_style(input);
    else
        raw_bytes(input);
    return 0;
}
