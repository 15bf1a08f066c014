#include "proc_parse.h"

#include <cmath>
#include <vector>

namespace {

// Reads a signed decimal field; false for anything but an optional '-' and
// one or more digits that fit in 64 bits.
bool read_signed(const std::string &field, long long *value) {
    size_t i = 0;
    bool negative = false;
    if (i < field.size() && field[i] == '-') {
        negative = true;
        i++;
    }
    if (i == field.size()) return false;
    unsigned long long magnitude = 0;
    for (; i < field.size(); i++) {
        char c = field[i];
        if (c < '0' || c > '9') return false;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (magnitude > (9223372036854775808ull - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    if (!negative && magnitude > 9223372036854775807ull) return false;
    *value = negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude);
    return true;
}

bool read_unsigned(const std::string &field, unsigned long long *value) {
    if (field.empty()) return false;
    unsigned long long result = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return false;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (result > (~0ull - digit) / 10) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

std::string file_name_of(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool widens(const std::string &candidate, const std::string &comm) {
    return candidate.size() > comm.size() && candidate.compare(0, comm.size(), comm) == 0;
}

}  // namespace

bool parse_proc_stat(const char *text, size_t length, proc_stat *out) {
    std::string stat(text, length);
    size_t open = stat.find('(');
    size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;

    std::string pid = stat.substr(0, open);
    while (!pid.empty() && pid.back() == ' ') pid.pop_back();
    if (!read_signed(pid, &out->pid) || out->pid < 0) return false;
    out->comm = stat.substr(open + 1, close - open - 1);

    // Fields 3 onwards, counted as in proc(5).
    std::vector<std::string> fields(3);
    size_t i = close + 1;
    while (i < stat.size()) {
        if (stat[i] == ' ' || stat[i] == '\n') {
            i++;
            continue;
        }
        size_t start = i;
        while (i < stat.size() && stat[i] != ' ' && stat[i] != '\n') i++;
        fields.push_back(stat.substr(start, i - start));
    }
    if (fields.size() <= 24 || fields[3].size() != 1) return false;
    out->state = fields[3][0];
    long long ignored_priority;
    if (!read_signed(fields[4], &out->ppid) || !read_signed(fields[6], &out->session) ||
        !read_signed(fields[7], &out->tty_nr) || !read_unsigned(fields[14], &out->utime) ||
        !read_unsigned(fields[15], &out->stime) || !read_signed(fields[18], &ignored_priority) ||
        !read_signed(fields[19], &out->nice) || !read_unsigned(fields[22], &out->starttime) ||
        !read_signed(fields[24], &out->rss))
        return false;
    out->policy = 0;
    if (fields.size() > 41 && !read_unsigned(fields[41], &out->policy)) return false;
    return true;
}

std::string first_argument(const char *text, size_t length) {
    size_t end = 0;
    while (end < length && text[end] != '\0') end++;
    return std::string(text, end);
}

std::string image_name(const std::string &comm, const std::string &exe_link, const std::string &argv0) {
    // The kernel keeps 15 bytes of the file name it was started from; the
    // rest is in the executable's path or, when that cannot be read (another
    // user's process), in the first argument.
    std::string name = comm;
    if (comm.size() == 15) {
        std::string exe = exe_link;
        static const std::string deleted = " (deleted)";
        if (exe.size() > deleted.size() && exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
            exe.resize(exe.size() - deleted.size());
        std::string from_exe = file_name_of(exe);
        std::string from_argv0 = file_name_of(argv0);
        if (widens(from_exe, comm))
            name = from_exe;
        else if (widens(from_argv0, comm))
            name = from_argv0;
    }
    for (char &c : name) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b <= ' ' || b == 0x7f) c = '_';
    }
    return name.empty() ? "_" : name;
}

std::string format_cpu_time(unsigned long long ticks, long ticks_per_second) {
    unsigned long long per_second = ticks_per_second > 0 ? static_cast<unsigned long long>(ticks_per_second) : 100;
    unsigned long long seconds = ticks / per_second;
    unsigned long long minutes = seconds / 60 % 60;
    char tail[8] = {':', static_cast<char>('0' + minutes / 10), static_cast<char>('0' + minutes % 10), ':',
                    static_cast<char>('0' + seconds % 60 / 10), static_cast<char>('0' + seconds % 10), '\0'};
    return std::to_string(seconds / 3600) + tail;
}

long long cpu_percent(unsigned long long ticks, unsigned long long elapsed_ns, long ticks_per_second) {
    if (elapsed_ns == 0) return 0;
    double per_second = ticks_per_second > 0 ? static_cast<double>(ticks_per_second) : 100.0;
    double percent = static_cast<double>(ticks) / per_second * 1e9 / static_cast<double>(elapsed_ns) * 100.0;
    if (percent >= 1e9) return 1000000000;
    return std::llround(percent);
}

const char *priority_class(long long nice, unsigned long long policy) {
    if (policy == 1 || policy == 2) return "Realtime";
    if (nice <= -10) return "High";
    if (nice < 0) return "AboveNormal";
    if (nice == 0) return "Normal";
    if (nice < 15) return "BelowNormal";
    return "Low";
}

bool parse_decimal(const std::string &text, long long low, long long high, long long *value) {
    if (text.empty() || text[0] == '-') return false;
    long long parsed;
    if (!read_signed(text, &parsed) || parsed < low || parsed > high) return false;
    *value = parsed;
    return true;
}
